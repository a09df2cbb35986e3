#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>

#include "platform/watched_process.h"

namespace zorvia::platform {

namespace {

constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;

// The state letter and the exit_code field (52) of /proc/<pid>/stat; the name in field 2
// may hold blanks and parentheses, so fields are counted from its last ')'.
struct StatFields {
  char state = 0;
  long long exit_status = 0;
};

std::optional<StatFields> read_stat(std::uint32_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  std::string text;
  {
    const ScopedHandle fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    char buffer[1024];
    for (;;) {
      const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      text.append(buffer, static_cast<std::size_t>(got));
    }
  }
  const auto name_end = text.rfind(')');
  if (name_end == std::string::npos) return std::nullopt;
  std::size_t pos = name_end + 1;
  StatFields fields;
  for (int field = 3; field <= 52; ++field) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    const std::size_t end = text.find_first_of(" \n", pos);
    if (pos >= text.size() || end == pos) return std::nullopt;
    const std::size_t stop = end == std::string::npos ? text.size() : end;
    if (field == 3) fields.state = text[pos];
    if (field == 52) {
      const auto parsed = std::from_chars(text.data() + pos, text.data() + stop, fields.exit_status);
      if (parsed.ec != std::errc() || parsed.ptr != text.data() + stop) return std::nullopt;
    }
    pos = stop;
  }
  return fields;
}

}  // namespace

std::expected<WatchedProcessHandle, io::OsError> WatchedProcessHandle::open(std::uint32_t pid) {
  // pid_t is signed: an id beyond its range names no process.
  if (pid > 0x7FFFFFFFu) return std::unexpected(io::OsError{ESRCH});
  // The descriptor is close-on-exec from the start.
  const long fd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0);
  if (fd < 0) return std::unexpected(io::OsError{errno});
  return WatchedProcessHandle(ScopedHandle(static_cast<int>(fd)), pid);
}

std::uint32_t WatchedProcessHandle::wait() {
  if (!process_) return kWaitFailed;
  pollfd watch{process_.get(), POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&watch, 1, -1);
    if (ready > 0) return (watch.revents & POLLIN) ? 0 : kWaitFailed;
    if (ready < 0 && errno != EINTR) return kWaitFailed;
  }
}

std::optional<std::uint32_t> WatchedProcessHandle::exit_code() {
  if (!process_) return std::nullopt;
  const auto fields = read_stat(pid_);
  if (!fields || (fields->state != 'Z' && fields->state != 'X')) return std::nullopt;
  // The pid could have been reaped and reused before the read: the pidfd still reaching a
  // process afterwards proves the fields were the watched zombie's.
  if (::syscall(SYS_pidfd_send_signal, process_.get(), 0, nullptr, 0) != 0 && errno != EPERM)
    return std::nullopt;
  const int status = static_cast<int>(fields->exit_status);
  if (!WIFEXITED(status)) return std::nullopt;
  return static_cast<std::uint32_t>(WEXITSTATUS(status));
}

std::uint32_t current_process_id() { return static_cast<std::uint32_t>(::getpid()); }

io::OsError invalid_parameter_error() { return io::OsError{EINVAL}; }

}  // namespace zorvia::platform
