#pragma once
// The watchdog run's outside world, as the real system provides it.

#include "lifecycle/watchdog_run.h"
#include "platform/native_path.h"

namespace zorvia::app {

class SystemWatchdogWorld final : public lifecycle::WatchdogWorld<platform::PathChar> {
 public:
  std::expected<std::unique_ptr<lifecycle::WatchedProcess>, std::int32_t> open_process(std::uint32_t pid) override;
  std::uint32_t own_pid() override;
  std::int32_t invalid_parameter_error() override;
  lifecycle::WallClockTime now() override;
  std::string os_error_text(std::int32_t code) override;
  std::optional<lifecycle::ProcessMarker> read_marker(const Path& marker_path) override;
  void append_event(const Path& events_path, const text::JsonValue& event) override;
  std::optional<lifecycle::AntivirusHit> query_antivirus(std::string_view executable) override;
  std::string classify(std::uint32_t exit_code, const std::optional<lifecycle::ExitSummary>& summary) override;
  bool is_regular_file(std::string_view executable) override;
  std::vector<std::string> snapshot_suspects(std::uint32_t own_pid) override;
  void remove_file(const Path& path) override;
};

}  // namespace zorvia::app
