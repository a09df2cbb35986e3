#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/spawn.h"
#include "platform/scoped_native.h"
#include "platform/tool_process.h"

namespace zorvia::platform {

namespace {

using Clock = std::chrono::steady_clock;

bool is_executable_file(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> own_directory() {
  std::string buffer(4096, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::nullopt;
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  return buffer.substr(0, buffer.rfind('/') + 1);
}

std::string joined(std::string dir, std::string_view name) {
  if (dir.empty() || dir.back() != '/') dir.push_back('/');
  dir.append(name);
  return dir;
}

// A relative PATH entry (the empty one included) would mean the current directory.
std::optional<std::string> find_tool(std::string_view name) {
  if (name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
  if (const auto own = own_directory()) {
    if (auto candidate = joined(*own, name); is_executable_file(candidate)) return candidate;
  }
  const char* path = std::getenv("PATH");
  if (path == nullptr) return std::nullopt;
  const std::string_view entries(path);
  std::size_t begin = 0;
  while (begin <= entries.size()) {
    std::size_t end = entries.find(':', begin);
    if (end == std::string_view::npos) end = entries.size();
    const auto dir = entries.substr(begin, end - begin);
    if (!dir.empty() && dir.front() == '/') {
      if (auto candidate = joined(std::string(dir), name); is_executable_file(candidate)) return candidate;
    }
    begin = end + 1;
  }
  return std::nullopt;
}

// Owns the started tool: ends and reaps it unless its exit has been collected.
class SpawnedTool {
 public:
  explicit SpawnedTool(pid_t pid) : pid_(pid) {}
  SpawnedTool(const SpawnedTool&) = delete;
  SpawnedTool& operator=(const SpawnedTool&) = delete;
  ~SpawnedTool() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }

  // The raw wait status once the tool has ended; nothing on a failed wait or past `deadline`.
  std::optional<int> wait_until(Clock::time_point deadline) {
    auto pause = std::chrono::microseconds(200);
    for (;;) {
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return status;
      }
      if (r < 0 && errno != EINTR) {
        if (errno == ECHILD) pid_ = -1;  // nothing left to reap
        return std::nullopt;
      }
      const auto now = Clock::now();
      if (now >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
      pause = std::min(pause * 2, std::chrono::microseconds(20'000));
    }
  }

 private:
  pid_t pid_;
};

enum class Drain { ended, failed, timed_out };

// Reads both pipes until each reports its end, whichever fills first.
Drain drain_both(ScopedHandle& out_fd, ScopedHandle& err_fd, std::string& out, std::string& err,
                 Clock::time_point deadline) {
  std::array<char, 65536> buffer;
  while (out_fd.valid() || err_fd.valid()) {
    const auto now = Clock::now();
    if (now >= deadline) return Drain::timed_out;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    std::array<pollfd, 2> watched{};
    nfds_t count = 0;
    std::array<std::pair<ScopedHandle*, std::string*>, 2> targets{};
    for (auto [fd, sink] : {std::pair{&out_fd, &out}, std::pair{&err_fd, &err}}) {
      if (!fd->valid()) continue;
      watched[count] = pollfd{fd->get(), POLLIN, 0};
      targets[count] = {fd, sink};
      ++count;
    }
    const int ready = ::poll(watched.data(), count, static_cast<int>(std::min<long long>(left, 1 << 30)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Drain::failed;
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (watched[i].revents == 0) continue;
      auto [fd, sink] = targets[i];
      const ssize_t got = ::read(fd->get(), buffer.data(), buffer.size());
      if (got > 0) {
        sink->append(buffer.data(), static_cast<std::size_t>(got));
      } else if (got == 0) {
        fd->reset();
      } else if (errno != EINTR && errno != EAGAIN) {
        return Drain::failed;
      }
    }
  }
  return Drain::ended;
}

}  // namespace

std::optional<ToolRun> run_tool(std::string_view program_file_name, std::span<const std::string> args,
                                std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  const auto program = find_tool(program_file_name);
  if (!program) return std::nullopt;

  auto out_pipe = posix::make_pipe();
  auto err_pipe = posix::make_pipe();
  if (!out_pipe || !err_pipe) return std::nullopt;
  // The pipes are close-on-exec; only the copies on 1 and 2 reach the tool.
  posix::SpawnActions actions;
  actions.open(STDIN_FILENO, "/dev/null", O_RDONLY)
      .dup2(out_pipe->write_end.get(), STDOUT_FILENO)
      .dup2(err_pipe->write_end.get(), STDERR_FILENO);
  const auto pid = posix::spawn(*program, args, actions);
  if (!pid) return std::nullopt;
  SpawnedTool tool(*pid);
  // Our copies of the write ends must go, or the reads would never see the end.
  out_pipe->write_end.reset();
  err_pipe->write_end.reset();

  ToolRun run{};
  if (drain_both(out_pipe->read_end, err_pipe->read_end, run.out, run.err, deadline) != Drain::ended)
    return std::nullopt;
  const auto status = tool.wait_until(deadline);
  if (!status || !WIFEXITED(*status)) return std::nullopt;
  run.exit_status = static_cast<std::uint32_t>(WEXITSTATUS(*status));
  return run;
}

}  // namespace zorvia::platform
