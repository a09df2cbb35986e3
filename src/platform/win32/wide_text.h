#pragma once
// Text between UTF-8, the system's text everywhere outside the platform layer, and the UTF-16
// of Windows' wide-character calls.

#include <string>
#include <string_view>

namespace zorvia::platform::win32 {

// Each invalid UTF-8 sequence becomes U+FFFD.
[[nodiscard]] std::wstring utf8_to_wide(std::string_view utf8);

// Each unpaired surrogate becomes U+FFFD.
[[nodiscard]] std::string wide_to_utf8_lossy(std::wstring_view wide);

}  // namespace zorvia::platform::win32
