#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform/files.h"

namespace zorvia::platform {

std::optional<std::uint64_t> file_size(const NativePath& path) {
  struct stat info {};
  if (names_no_file(path) || ::stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

bool is_existing_regular_file(const NativePath& path) {
  struct stat info {};
  return !names_no_file(path) && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool remove_file(const NativePath& path) { return !names_no_file(path) && ::unlink(path.c_str()) == 0; }

// rename(2) replaces an existing target atomically.
bool rename_replacing(const NativePath& from, const NativePath& to) {
  return !names_no_file(from) && !names_no_file(to) && ::rename(from.c_str(), to.c_str()) == 0;
}

std::expected<AppendOnlyFile, io::OsError> AppendOnlyFile::open(const NativePath& path) {
  if (names_no_file(path)) return std::unexpected(io::OsError{EINVAL});
  // O_NONBLOCK: a FIFO's open would otherwise wait for a reader (on a regular file the flag
  // changes nothing). Lines go only into a regular file: a FIFO or a device is no events file.
  ScopedHandle fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
  if (!fd) return std::unexpected(io::OsError{errno});
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return std::unexpected(io::OsError{errno});
  if (!S_ISREG(info.st_mode)) return std::unexpected(io::OsError{EINVAL});
  return AppendOnlyFile(std::move(fd));
}

std::expected<std::size_t, io::OsError> AppendOnlyFile::write_some(std::span<const char> bytes) {
  for (;;) {
    const ssize_t written = ::write(file_.get(), bytes.data(), bytes.size());
    if (written >= 0) return static_cast<std::size_t>(written);
    if (errno != EINTR) return std::unexpected(io::OsError{errno});
  }
}

}  // namespace zorvia::platform
