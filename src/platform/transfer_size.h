#pragma once
// How much one read or write asks of the system at most.

#include <algorithm>
#include <cstddef>

namespace zorvia::platform {

// 1 GiB: inside the 32-bit counts of ReadFile and WriteFile and below Linux's own limit of
// 0x7ffff000 bytes a call, so that no call fails or is cut for its size alone. Callers go
// round again for the rest.
inline constexpr std::size_t kLargestTransfer = std::size_t{1} << 30;

[[nodiscard]] constexpr std::size_t transfer_size(std::size_t wanted) { return std::min(wanted, kLargestTransfer); }

}  // namespace zorvia::platform
