#include <unistd.h>

#include <cerrno>

#include "platform/scoped_native.h"

namespace zorvia::platform {

// Not retried on EINTR: Linux releases the descriptor even then, and a second close could
// close a number another thread has been given meanwhile.
void NativeHandleTraits::close(Native fd) {
  const int kept = errno;
  ::close(fd);
  errno = kept;
}

}  // namespace zorvia::platform
