#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/console.h"
#include "platform/transfer_size.h"

namespace zorvia::platform {

namespace {

class FdInput final : public io::ByteSource {
 public:
  std::expected<std::size_t, io::OsError> read_some(std::span<char> into) override {
    for (;;) {
      const ssize_t got = ::read(STDIN_FILENO, into.data(), transfer_size(into.size()));
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno == EINTR) continue;
      if (errno == EBADF) return 0;  // no standard input at all
      return std::unexpected(io::OsError{errno});
    }
  }
};

class FdOutput final : public io::ByteSink {
 public:
  std::expected<std::size_t, io::OsError> write_some(std::span<const char> bytes) override {
    for (;;) {
      const ssize_t put = ::write(STDOUT_FILENO, bytes.data(), transfer_size(bytes.size()));
      if (put >= 0) return static_cast<std::size_t>(put);
      if (errno == EINTR) continue;
      return std::unexpected(io::OsError{errno});
    }
  }
};

}  // namespace

io::ByteSource& standard_input() {
  static FdInput input;
  return input;
}

io::ByteSink& standard_output() {
  static FdOutput output;
  return output;
}

namespace {

// A standard descriptor missing at start would be the number the next open gets, and the
// bridge socket would then stand in for standard input or output. Each missing one gets a
// placeholder that keeps its number unusable: the read end of a pipe whose write end is
// closed reads as the end of input, and a write to it fails with EBADF.
void hold_missing_standard_descriptors() {
  bool missing = false;
  for (int fd = 0; fd <= 2; ++fd) missing = missing || (::fcntl(fd, F_GETFD) < 0 && errno == EBADF);
  if (!missing) return;
  int ends[2];
  if (::pipe(ends) != 0) return;
  // The lowest free numbers come first, so the read end already holds the lowest missing one.
  ::close(ends[1]);
  for (int fd = 0; fd <= 2; ++fd) {
    if (fd != ends[0] && ::fcntl(fd, F_GETFD) < 0 && errno == EBADF) ::dup2(ends[0], fd);
  }
}

}  // namespace

void prepare_process() {
  hold_missing_standard_descriptors();
  ::signal(SIGPIPE, SIG_IGN);
}

void exit_process(int status) { ::_exit(status); }

}  // namespace zorvia::platform
