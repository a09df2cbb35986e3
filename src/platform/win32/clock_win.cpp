#include <windows.h>

#include "platform/clock.h"

namespace zorvia::platform {

std::chrono::sys_time<std::chrono::microseconds> precise_system_time() {
  // FILETIME counts 100 ns ticks since 1601-01-01.
  constexpr std::int64_t kTicksFrom1601To1970 = 116'444'736'000'000'000;
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  const std::int64_t since_1970 = ticks - kTicksFrom1601To1970;
  const std::int64_t micros = since_1970 >= 0 ? since_1970 / 10 : -((-since_1970 + 9) / 10);
  return std::chrono::sys_time<std::chrono::microseconds>(std::chrono::microseconds(micros));
}

}  // namespace zorvia::platform
