#pragma once
// The watched program's marker record, read strictly and never written here.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvia::lifecycle {

// Fields in declaration order, which is also the order of the array form.
struct ProcessMarker {
  std::string session_id;
  std::uint32_t pid = 0;
  std::string started_at;
  std::string version;
  std::string executable;
  std::optional<std::uint32_t> parent_pid;
  std::optional<std::string> parent_name;
  std::optional<std::string> parent_executable;
  bool debug_build = false;
  bool e2e = false;
  std::vector<std::string> active_tasks;
  std::optional<std::string> expected_exit;
  std::optional<std::string> expected_exit_detail;
  bool exit_requested_event_seen = false;
  bool clean_exit = false;
  bool ui_ready = false;

  friend bool operator==(const ProcessMarker&, const ProcessMarker&) = default;
};

// A marker exactly when `bytes` is one JSON record of the marker's shape; nothing otherwise.
[[nodiscard]] std::optional<ProcessMarker> parse_process_marker(std::string_view bytes);

}  // namespace zorvia::lifecycle
