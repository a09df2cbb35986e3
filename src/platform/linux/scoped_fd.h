#pragma once
// The portable owner under the name the tests of the Linux files use; new code includes
// platform/scoped_native.h and says ScopedHandle.

#include "platform/scoped_native.h"

namespace zorvia::platform::linux_fd {

using ScopedFd = platform::ScopedHandle;

}  // namespace zorvia::platform::linux_fd
