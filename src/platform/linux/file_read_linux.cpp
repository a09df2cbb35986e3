#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <stdexcept>

#include "platform/file_read.h"

namespace zorvia::platform {

namespace {

class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

constexpr std::size_t kMinimumGrowth = 8192;
constexpr std::size_t kLargestRead = std::size_t{1} << 30;

std::optional<std::string> read_all(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return std::nullopt;
  std::string bytes;
  if (info.st_size > 0) {
    if (static_cast<std::uintmax_t>(info.st_size) >= bytes.max_size()) return std::nullopt;
    // One byte more than the length, so that reaching the end needs no growth.
    bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
  }
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      // The file grew since its length was taken.
      const std::size_t growth = std::max(kMinimumGrowth, bytes.size() / 2);
      if (bytes.max_size() - bytes.size() <= growth) return std::nullopt;
      bytes.resize(bytes.size() + growth);
    }
    const std::size_t want = std::min(bytes.size() - filled, kLargestRead);
    const ssize_t got = ::read(fd, bytes.data() + filled, want);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;  // EISDIR for a directory, EIO, ...
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  return bytes;
}

}  // namespace

std::optional<std::string> read_whole_file_shared(const NativePath& path) {
  ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  try {
    return read_all(fd.get());
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  } catch (const std::length_error&) {
    return std::nullopt;
  }
}

}  // namespace zorvia::platform
