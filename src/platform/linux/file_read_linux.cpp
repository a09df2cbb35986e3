#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/file_read.h"
#include "platform/read_to_end.h"
#include "platform/scoped_native.h"
#include "platform/transfer_size.h"

namespace zorvia::platform {

std::optional<std::string> read_whole_file_shared(const NativePath& path) {
  if (names_no_file(path)) return std::nullopt;
  // O_NONBLOCK: a FIFO's open would otherwise wait for a writer. Only a regular file is
  // read; a FIFO or a device could make the read wait or never end.
  const ScopedHandle fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return std::nullopt;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) return std::nullopt;
  return read_to_end(static_cast<std::uintmax_t>(info.st_size),
                     [&](char* into, std::size_t max) -> std::optional<std::size_t> {
                       for (;;) {
                         const ssize_t got = ::read(fd.get(), into, transfer_size(max));
                         if (got >= 0) return static_cast<std::size_t>(got);
                         if (errno != EINTR) return std::nullopt;
                       }
                     });
}

}  // namespace zorvia::platform
