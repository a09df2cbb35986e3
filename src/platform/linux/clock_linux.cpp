#include <time.h>

#include "platform/clock.h"

namespace zorvia::platform {

std::chrono::sys_time<std::chrono::microseconds> precise_system_time() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return std::chrono::sys_time<std::chrono::microseconds>(std::chrono::seconds(now.tv_sec) +
                                                          std::chrono::microseconds(now.tv_nsec / 1000));
}

}  // namespace zorvia::platform
