#include "platform/win32/wide_text.h"

#include "text/unicode.h"

namespace zorvia::platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 units");

std::wstring utf8_to_wide(std::string_view utf8) {
  const std::u16string units = text::utf8_to_utf16(utf8);
  return std::wstring(units.begin(), units.end());
}

std::string wide_to_utf8_lossy(std::wstring_view wide) {
  return text::utf16_to_utf8_lossy(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

}  // namespace zorvia::platform::win32
