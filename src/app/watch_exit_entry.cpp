#include "app/watch_exit_entry.h"

#include <string>
#include <vector>

#include "app/watchdog_world.h"
#include "lifecycle/command_line.h"
#include "platform/process_command_line.h"

namespace zorvia::app {

namespace {

template <class Unit>
bool run_if_requested(const std::vector<std::basic_string<Unit>>& arguments) {
  const auto choice = lifecycle::choose_watch_exit<Unit>(arguments);
  if (std::holds_alternative<lifecycle::NotWatchExit>(choice)) return false;
  if (const auto* request = std::get_if<lifecycle::WatchExitRequest<Unit>>(&choice)) {
    const auto native = [](const std::basic_string<Unit>& units) {
      return platform::NativePath(units.begin(), units.end());
    };
    std::optional<platform::NativePath> marker_path;
    if (request->marker_path) marker_path = native(*request->marker_path);
    SystemWatchdogWorld world(native(request->events_path), std::move(marker_path));
    lifecycle::watch_process_exit(world, request->pid, request->session_id);
  }
  return true;
}

}  // namespace

bool run_exit_watchdog_if_requested([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#ifdef _WIN32
  // The C runtime's argv went through the ANSI code page; the wide command line did not.
  return run_if_requested(lifecycle::split_command_line(platform::process_command_line()));
#else
  return run_if_requested(std::vector<std::string>(argv, argv + argc));
#endif
}

}  // namespace zorvia::app
