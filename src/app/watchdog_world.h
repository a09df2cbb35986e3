#pragma once
// The watchdog run's outside world, as the real system provides it.

#include <optional>

#include "lifecycle/watchdog_run.h"
#include "platform/native_path.h"

namespace zorvia::app {

class SystemWatchdogWorld final : public lifecycle::WatchdogWorld {
 public:
  // The paths exactly as the command line gave them.
  SystemWatchdogWorld(platform::NativePath events_path, std::optional<platform::NativePath> marker_path);

  std::expected<std::unique_ptr<lifecycle::WatchedProcess>, io::OsError> open_process(std::uint32_t pid) override;
  std::uint32_t own_pid() override;
  io::OsError invalid_parameter_error() override;
  lifecycle::WallClockTime now() override;
  std::string os_error_text(io::OsError error) override;
  std::optional<lifecycle::ProcessMarker> read_marker() override;
  void append_event(const text::JsonValue& event) override;
  std::optional<lifecycle::AntivirusHit> query_antivirus(std::string_view executable) override;
  std::string classify(std::uint32_t exit_code, const std::optional<lifecycle::ExitSummary>& summary) override;
  bool is_regular_file(std::string_view executable) override;
  std::vector<std::string> snapshot_suspects(std::uint32_t own_pid) override;
  void remove_marker() override;

 private:
  platform::NativePath events_path_;
  std::optional<platform::NativePath> marker_path_;
};

}  // namespace zorvia::app
