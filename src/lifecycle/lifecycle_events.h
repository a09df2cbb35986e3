#pragma once
// The lifecycle events that a watchdog run appends to its events file, key by key, and the
// rules of that file that need no file system: line text, timestamps, the rotated name.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lifecycle/antivirus.h"
#include "lifecycle/process_marker.h"
#include "text/json_text.h"

namespace zorvia::lifecycle {

// The system's real-time clock, as precise as the platform gives it.
using WallClockTime = std::chrono::sys_time<std::chrono::microseconds>;

// UTC, RFC 3339 with milliseconds truncated and "Z": 2026-01-31T12:00:00.000Z (24 characters).
[[nodiscard]] std::string timestamp_text(WallClockTime time);

// "0x" and eight upper-case hex digits.
[[nodiscard]] std::string exit_code_hex(std::uint32_t exit_code);

// Which marker copy describes the exit.
enum class MarkerSource { at_exit, pre_wait, missing };
[[nodiscard]] std::string_view marker_source_text(MarkerSource source);

[[nodiscard]] text::JsonObject open_failed_event(std::string at, std::uint32_t pid, std::string_view session_id,
                                                 std::string os_error);

[[nodiscard]] text::JsonObject ready_event(std::string at, std::uint32_t pid, std::string_view session_id,
                                           std::uint32_t watchdog_pid, bool marker_seen);

// Everything the exit event reports; the run gathers it in its fixed order.
struct ExitObservation {
  std::string at;
  std::string_view session_id;
  std::uint32_t pid = 0;
  std::uint32_t wait_result = 0;
  std::optional<std::uint32_t> exit_code;   // absent: not read
  std::optional<std::string> classification;  // absent exactly when the exit code was not read
  MarkerSource marker_source = MarkerSource::missing;
  const AntivirusHit* antivirus = nullptr;       // null without a hit
  const ProcessMarker* chosen_marker = nullptr;  // null when the source is missing
  std::optional<bool> executable_present;        // absent without a chosen marker
  std::vector<std::string> suspects;
};

[[nodiscard]] text::JsonObject exit_event(const ExitObservation& observation);

// One line of the events file: compact JSON and a line feed.
[[nodiscard]] std::string event_line(const text::JsonValue& event);

// An events file larger than this (not equal) is rotated before the next line.
inline constexpr std::uint64_t EVENTS_FILE_ROTATE_BYTES = 8'388'608;

// `events_path` with its last component's extension replaced by "jsonl.old", or with
// ".jsonl.old" appended when the name has none. The directory part never changes.
template <class Unit>
[[nodiscard]] std::basic_string<Unit> rotated_events_path(std::basic_string_view<Unit> events_path,
                                                          bool backslash_separates) {
  constexpr std::string_view kReplacement = "jsonl.old";
  std::size_t name_start = 0;
  for (std::size_t i = 0; i < events_path.size(); ++i) {
    const Unit u = events_path[i];
    if (u == static_cast<Unit>('/') || (backslash_separates && u == static_cast<Unit>('\\'))) name_start = i + 1;
  }
  // A drive prefix ("C:events") is not part of the name.
  if (backslash_separates && name_start == 0 && events_path.size() >= 2 && events_path[1] == static_cast<Unit>(':')) {
    const Unit drive = events_path[0];
    if ((drive >= static_cast<Unit>('A') && drive <= static_cast<Unit>('Z')) ||
        (drive >= static_cast<Unit>('a') && drive <= static_cast<Unit>('z')))
      name_start = 2;
  }

  std::basic_string<Unit> rotated(events_path);
  const std::basic_string_view<Unit> name = events_path.substr(name_start);
  const std::size_t last_dot = name.rfind(static_cast<Unit>('.'));
  // ".." and a name whose only dot leads it (".events") have no extension.
  const bool is_dot_dot = name.size() == 2 && name[0] == static_cast<Unit>('.') && name[1] == static_cast<Unit>('.');
  if (last_dot != std::basic_string_view<Unit>::npos && last_dot != 0 && !is_dot_dot) {
    rotated.resize(name_start + last_dot + 1);
  } else {
    rotated.push_back(static_cast<Unit>('.'));
  }
  for (const char c : kReplacement) rotated.push_back(static_cast<Unit>(c));
  return rotated;
}

}  // namespace zorvia::lifecycle
