#include <windows.h>

#include "platform/process_command_line.h"

namespace zorvia::platform {

std::u16string process_command_line() {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  const wchar_t* line = GetCommandLineW();
  if (line == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(line));
}

}  // namespace zorvia::platform
