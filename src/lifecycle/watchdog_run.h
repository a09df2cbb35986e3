#pragma once
// One watch-exit run: open the watched process, announce, wait, read the exit code and the
// marker again, ask Defender when the marker gives no reason, classify, list suspects,
// report, and delete the marker that described the exit.
//
// The run sees the outside world only through WatchdogWorld, so that every branch and the
// order of every observation can be driven and checked without a real process.

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/os_error.h"
#include "lifecycle/antivirus.h"
#include "lifecycle/exit_classification.h"
#include "lifecycle/lifecycle_events.h"
#include "lifecycle/process_marker.h"
#include "text/json_text.h"

namespace zorvia::lifecycle {

// An opened watched process; destroying it closes the handle.
class WatchedProcess {
 public:
  virtual ~WatchedProcess() = default;
  // Waits without a time-out: 0 once the process has ended, any other value is a failed wait.
  [[nodiscard]] virtual std::uint32_t wait() = 0;
  // The exit code, or nothing when the system cannot give it.
  [[nodiscard]] virtual std::optional<std::uint32_t> exit_code() = 0;
};

// The world of one run. It holds the events file's path and the marker file's, if the
// command line named one, in the system's own form: the run never looks at a path.
class WatchdogWorld {
 public:
  virtual ~WatchdogWorld() = default;

  // The process, or the error that the failed open left.
  [[nodiscard]] virtual std::expected<std::unique_ptr<WatchedProcess>, io::OsError> open_process(
      std::uint32_t pid) = 0;
  [[nodiscard]] virtual std::uint32_t own_pid() = 0;
  // The system's error for an invalid parameter (ERROR_INVALID_PARAMETER, EINVAL).
  [[nodiscard]] virtual io::OsError invalid_parameter_error() = 0;
  [[nodiscard]] virtual WallClockTime now() = 0;
  // "{message} (os error {code})".
  [[nodiscard]] virtual std::string os_error_text(io::OsError error) = 0;

  // The marker in the marker file; nothing when no marker file was named, or the file holds
  // no marker.
  [[nodiscard]] virtual std::optional<ProcessMarker> read_marker() = 0;
  // Appends one line to the events file. Reports nothing: a line that cannot be written is lost.
  virtual void append_event(const text::JsonValue& event) = 0;
  [[nodiscard]] virtual std::optional<AntivirusHit> query_antivirus(std::string_view executable) = 0;
  [[nodiscard]] virtual std::string classify(std::uint32_t exit_code, const std::optional<ExitSummary>& summary) = 0;
  // An existing file that is not a directory, links followed.
  [[nodiscard]] virtual bool is_regular_file(std::string_view executable) = 0;
  // Sorted and cut to at most 8 entries.
  [[nodiscard]] virtual std::vector<std::string> snapshot_suspects(std::uint32_t own_pid) = 0;
  // Deletes the marker file; failures are ignored. Only called after a read that gave a marker.
  virtual void remove_marker() = 0;
};

void watch_process_exit(WatchdogWorld& world, std::uint32_t pid, std::string_view session_id);

}  // namespace zorvia::lifecycle
