#pragma once
// The form in which a path reaches the file-system calls.

#include <optional>
#include <string>

#include "platform/native_path.h"

namespace zorvia::platform::win32 {

// The path made absolute and verbatim (\\?\C:\..., \\?\UNC\server\...), so that paths of
// MAX_PATH units or more work like short ones; verbatim and NT paths pass unchanged.
// Nothing for a path with a NUL inside: no file has such a name, and the system calls would
// silently use the text before it.
[[nodiscard]] std::optional<std::wstring> system_path(const NativePath& path);

}  // namespace zorvia::platform::win32
