#pragma once
// The suspects list of an observed exit, from one snapshot of the real process table.

#include <cstdint>
#include <string>
#include <vector>

namespace zorvia::app {

// Sorted in byte order, at most eight entries, the watchdog's own process left out.
[[nodiscard]] std::vector<std::string> snapshot_suspects(std::uint32_t own_pid);

}  // namespace zorvia::app
