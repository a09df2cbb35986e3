#include "platform/os_error.h"

namespace zorvia::platform {

std::string os_error_text(std::int32_t code) {
  return system_error_message(code) + " (os error " + std::to_string(code) + ")";
}

}  // namespace zorvia::platform
