#include "app/watchdog_world.h"

#include "app/antivirus_query.h"
#include "app/events_file.h"
#include "app/process_marker_file.h"
#include "app/suspect_snapshot.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/native_path.h"
#include "platform/os_error.h"
#include "platform/watched_process.h"

namespace zorvia::app {

namespace {

class SystemWatchedProcess final : public lifecycle::WatchedProcess {
 public:
  explicit SystemWatchedProcess(platform::WatchedProcessHandle handle) : handle_(std::move(handle)) {}
  std::uint32_t wait() override { return handle_.wait(); }
  std::optional<std::uint32_t> exit_code() override { return handle_.exit_code(); }

 private:
  platform::WatchedProcessHandle handle_;
};

}  // namespace

SystemWatchdogWorld::SystemWatchdogWorld(platform::NativePath events_path,
                                         std::optional<platform::NativePath> marker_path)
    : events_path_(std::move(events_path)), marker_path_(std::move(marker_path)) {}

std::expected<std::unique_ptr<lifecycle::WatchedProcess>, io::OsError> SystemWatchdogWorld::open_process(
    std::uint32_t pid) {
  auto handle = platform::WatchedProcessHandle::open(pid);
  if (!handle) return std::unexpected(handle.error());
  return std::make_unique<SystemWatchedProcess>(std::move(*handle));
}

std::uint32_t SystemWatchdogWorld::own_pid() { return platform::current_process_id(); }

io::OsError SystemWatchdogWorld::invalid_parameter_error() { return platform::invalid_parameter_error(); }

lifecycle::WallClockTime SystemWatchdogWorld::now() { return platform::precise_system_time(); }

std::string SystemWatchdogWorld::os_error_text(io::OsError error) { return platform::os_error_text(error.code); }

std::optional<lifecycle::ProcessMarker> SystemWatchdogWorld::read_marker() {
  if (!marker_path_) return std::nullopt;
  return read_process_marker(*marker_path_);
}

void SystemWatchdogWorld::append_event(const text::JsonValue& event) { append_lifecycle_event(events_path_, event); }

std::optional<lifecycle::AntivirusHit> SystemWatchdogWorld::query_antivirus(std::string_view executable) {
  return query_antivirus_hit(executable);
}

std::string SystemWatchdogWorld::classify(std::uint32_t exit_code,
                                          const std::optional<lifecycle::ExitSummary>& summary) {
  return std::string(lifecycle::classify_exit(exit_code, summary));
}

bool SystemWatchdogWorld::is_regular_file(std::string_view executable) {
  return platform::is_existing_regular_file(platform::native_path_from_utf8(executable));
}

std::vector<std::string> SystemWatchdogWorld::snapshot_suspects(std::uint32_t own_pid) {
  return app::snapshot_suspects(own_pid);
}

void SystemWatchdogWorld::remove_marker() {
  if (marker_path_) (void)platform::remove_file(*marker_path_);
}

}  // namespace zorvia::app
