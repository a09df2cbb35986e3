#pragma once
// The codes with which opening the bridge endpoint fails on each build: no server at all
// (kMissing), and every instance taken or the listener's backlog full (kBusy).

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace zorvia::testing {

#ifdef _WIN32
constexpr std::int32_t kMissing = ERROR_FILE_NOT_FOUND;
constexpr std::int32_t kBusy = ERROR_PIPE_BUSY;
#else
constexpr std::int32_t kMissing = ECONNREFUSED;
constexpr std::int32_t kBusy = EAGAIN;
#endif

}  // namespace zorvia::testing
