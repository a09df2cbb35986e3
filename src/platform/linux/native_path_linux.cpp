#include "platform/native_path.h"

namespace zorvia::platform {

NativePath native_path_from_utf8(std::string_view utf8) { return NativePath(utf8); }

}  // namespace zorvia::platform
