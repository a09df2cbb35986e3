#pragma once
// The process's own command line, as one text (Windows hands it over unsplit).

#include <string>

namespace zorvia::platform {

#ifdef _WIN32
// GetCommandLineW, code units unchanged.
[[nodiscard]] std::u16string process_command_line();
#endif

}  // namespace zorvia::platform
