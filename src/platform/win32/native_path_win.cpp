#include "platform/native_path.h"

#include "platform/win32/wide_text.h"

namespace zorvia::platform {

NativePath native_path_from_utf8(std::string_view utf8) { return win32::utf8_to_wide(utf8); }

}  // namespace zorvia::platform
