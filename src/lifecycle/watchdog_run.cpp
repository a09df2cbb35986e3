#include "lifecycle/watchdog_run.h"

namespace zorvia::lifecycle {

namespace {

// A copy describes this run only with its session id, byte for byte; its pid plays no part.
std::optional<ProcessMarker> of_this_session(std::optional<ProcessMarker> marker, std::string_view session_id) {
  if (marker && marker->session_id != session_id) marker.reset();
  return marker;
}

}  // namespace

void watch_process_exit(WatchdogWorld& world, std::uint32_t pid, std::string_view session_id) {
  // Watching ourselves would wait forever: it counts as a failed open.
  const std::uint32_t own_pid = world.own_pid();
  auto opened = pid == own_pid ? std::unexpected(world.invalid_parameter_error()) : world.open_process(pid);
  if (!opened) {
    std::string at = timestamp_text(world.now());
    world.append_event(open_failed_event(std::move(at), pid, session_id, world.os_error_text(opened.error())));
    return;
  }
  std::unique_ptr<WatchedProcess> process = std::move(*opened);

  std::optional<ProcessMarker> pre_wait = of_this_session(world.read_marker(), session_id);

  world.append_event(ready_event(timestamp_text(world.now()), pid, session_id, own_pid, pre_wait.has_value()));

  const std::uint32_t wait_result = process->wait();
  std::optional<std::uint32_t> exit_code;
  if (wait_result == 0) exit_code = process->exit_code();
  process.reset();

  std::optional<ProcessMarker> chosen = of_this_session(world.read_marker(), session_id);
  MarkerSource source = MarkerSource::missing;
  if (chosen) {
    source = MarkerSource::at_exit;
  } else if (pre_wait) {
    chosen = std::move(pre_wait);
    source = MarkerSource::pre_wait;
  }
  pre_wait.reset();

  std::optional<AntivirusHit> antivirus;
  if (chosen && !chosen->expected_exit && !chosen->clean_exit) antivirus = world.query_antivirus(chosen->executable);

  std::optional<ExitSummary> summary;
  if (chosen) {
    summary = ExitSummary{
        .expected_exit = chosen->expected_exit ? std::optional<std::string_view>(*chosen->expected_exit) : std::nullopt,
        .exit_requested_event_seen = chosen->exit_requested_event_seen,
        .clean_exit = chosen->clean_exit,
        .antivirus_hit = antivirus.has_value(),
    };
  }

  // The order of these observations is part of the report: time, label, file test, snapshot.
  ExitObservation observation;
  observation.at = timestamp_text(world.now());
  observation.session_id = session_id;
  observation.pid = pid;
  observation.wait_result = wait_result;
  observation.exit_code = exit_code;
  if (exit_code) observation.classification = world.classify(*exit_code, summary);
  observation.marker_source = source;
  observation.antivirus = antivirus ? &*antivirus : nullptr;
  observation.chosen_marker = chosen ? &*chosen : nullptr;
  if (chosen) observation.executable_present = world.is_regular_file(chosen->executable);
  observation.suspects = world.snapshot_suspects(own_pid);
  world.append_event(exit_event(observation));

  // Only a copy read after the exit for this session may be deleted, even if the event was lost.
  if (source == MarkerSource::at_exit) world.remove_marker();
}

}  // namespace zorvia::lifecycle
