#pragma once
// Running processes whose names make them suspects for the watched program's end.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zorvia::lifecycle {

// One row of the process table: id and image name (UTF-8, unpaired surrogates already U+FFFD).
struct ProcessEntry {
  std::uint32_t pid = 0;
  std::string name;
};

inline constexpr std::size_t kMaxSuspects = 8;

// "name-in-lower-case:pid" when the name makes the process a suspect.
[[nodiscard]] std::optional<std::string> suspect_entry(std::uint32_t pid, std::string_view name);
// Every suspect of the table except the watchdog itself, in table order.
[[nodiscard]] std::vector<std::string> collect_suspects(std::span<const ProcessEntry> table, std::uint32_t own_pid);
// Ascending byte order, then at most kMaxSuspects.
void sort_and_cut_suspects(std::vector<std::string>& suspects);

}  // namespace zorvia::lifecycle
