#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/file_read.h"

namespace zorvia::platform {

namespace {

class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::optional<std::string> read_whole_file_shared(const NativePath& path) {
  ScopedFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  std::string bytes;
  try {
    bytes.reserve(static_cast<std::size_t>(info.st_size));
  } catch (const std::exception&) {
    return std::nullopt;  // too large for memory
  }
  char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(file.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    try {
      bytes.append(chunk, static_cast<std::size_t>(got));
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }
  return bytes;
}

}  // namespace zorvia::platform
