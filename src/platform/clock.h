#pragma once
// The system's real-time clock.

#include <chrono>

namespace zorvia::platform {

// GetSystemTimePreciseAsFileTime, clock_gettime(CLOCK_REALTIME); sub-microseconds dropped.
[[nodiscard]] std::chrono::sys_time<std::chrono::microseconds> precise_system_time();

}  // namespace zorvia::platform
