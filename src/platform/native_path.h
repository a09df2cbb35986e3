#pragma once
// File-system paths in the system's own code units: UTF-16 on Windows (any units, even
// unpaired surrogates), bytes on Linux. Paths are passed through unchanged.

#include <string>
#include <string_view>

namespace zorvia::platform {

#ifdef _WIN32
using PathChar = wchar_t;
inline constexpr bool kBackslashSeparates = true;
#else
using PathChar = char;
inline constexpr bool kBackslashSeparates = false;
#endif
using NativePath = std::basic_string<PathChar>;

// A UTF-8 text (a marker's `executable`, say) as a path of the system: converted to UTF-16
// on Windows, the same bytes on Linux.
[[nodiscard]] NativePath native_path_from_utf8(std::string_view utf8);

// No file has a NUL in its name; the system calls would silently use the text before it.
[[nodiscard]] inline bool names_no_file(const NativePath& path) { return path.find(PathChar{0}) != NativePath::npos; }

}  // namespace zorvia::platform
