#include <cerrno>
#include <cstring>
#include <string>

#include "platform/os_error.h"
#include "text/unicode.h"

namespace zorvia::platform {

std::string system_error_message(std::int32_t code) {
  char buffer[256];
  // GNU strerror_r may return a static text instead of filling the buffer.
  const char* message = ::strerror_r(code, buffer, sizeof buffer);
  const std::string valid = text::utf8_lossy(message);
  return std::string(text::trim_white_space_end(valid));
}

io::OsError last_os_error() { return io::OsError{errno}; }

}  // namespace zorvia::platform
