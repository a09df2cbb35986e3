#pragma once
// The portable owner under the name the tests of the Windows files use; new code includes
// platform/scoped_native.h and says ScopedHandle.

#include "platform/scoped_native.h"

namespace zorvia::platform::win32 {

using ScopedHandle = platform::ScopedHandle;

}  // namespace zorvia::platform::win32
