#pragma once
// File-system paths in the system's own code units: UTF-16 on Windows (any units, even
// unpaired surrogates), bytes on Linux. Paths are passed through unchanged.

#include <string>

namespace zorvia::platform {

#ifdef _WIN32
using PathChar = wchar_t;
inline constexpr bool kBackslashSeparates = true;
#else
using PathChar = char;
inline constexpr bool kBackslashSeparates = false;
#endif
using NativePath = std::basic_string<PathChar>;

// No file has a NUL in its name; the system calls would silently use the text before it.
[[nodiscard]] inline bool names_no_file(const NativePath& path) { return path.find(PathChar{0}) != NativePath::npos; }

}  // namespace zorvia::platform
