#pragma once
// The operating-system error text: "{message} (os error {code})".

#include <cstdint>
#include <string>

#include "io/os_error.h"

namespace zorvia::platform {

// The system's message for `code`, trailing white space removed.
[[nodiscard]] std::string system_error_message(std::int32_t code);

// "{system_error_message(code)} (os error {code})".
[[nodiscard]] std::string os_error_text(std::int32_t code);

// The code the last failed call of this thread left (GetLastError, errno).
[[nodiscard]] io::OsError last_os_error();

}  // namespace zorvia::platform
