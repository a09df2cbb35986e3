#pragma once
// The marker record's fields as the fuzz targets see them: key, value form, and whether an
// object must hold the field. Field i is element i of the array form. Written apart from the
// reader's own table on purpose: a slip there must not repeat itself in the oracle.

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace zorvia::fuzzing {

enum class Kind { text, u32, optional_u32, optional_text, boolean, text_list };

inline constexpr std::size_t kFieldCount = 16;

inline constexpr std::array<std::string_view, kFieldCount> kKeys = {
    "session_id",  "pid",          "started_at",    "version",
    "executable",  "parent_pid",   "parent_name",   "parent_executable",
    "debug_build", "e2e",          "active_tasks",  "expected_exit",
    "expected_exit_detail", "exit_requested_event_seen", "clean_exit", "ui_ready",
};

inline constexpr std::array<Kind, kFieldCount> kKinds = {
    Kind::text,          Kind::u32,           Kind::text,          Kind::text,
    Kind::text,          Kind::optional_u32,  Kind::optional_text, Kind::optional_text,
    Kind::boolean,       Kind::boolean,       Kind::text_list,     Kind::optional_text,
    Kind::optional_text, Kind::boolean,       Kind::boolean,       Kind::boolean,
};

// Present in every object that is a marker.
inline constexpr std::array<std::size_t, 7> kRequired = {0, 1, 2, 3, 4, 8, 9};

inline constexpr bool is_required(std::size_t field) {
  return std::find(kRequired.begin(), kRequired.end(), field) != kRequired.end();
}

}  // namespace zorvia::fuzzing
