#include <windows.h>

#include <type_traits>

#include "platform/scoped_native.h"
#include "platform/win32/last_error.h"

namespace zorvia::platform {

static_assert(std::is_same_v<NativeHandleTraits::Native, HANDLE>);

void NativeHandleTraits::close(Native handle) {
  const win32::LastErrorKept kept;
  CloseHandle(handle);
}

}  // namespace zorvia::platform
