// The relay's figures, natively: messages per second and MiB/s for 100 B, 4 KiB and 1 MiB
// messages in each direction, beside the same payload moved by a plain copy (socat) over the
// same kind of endpoint; the time from starting the host to its first relayed reply; and the
// host's peak resident memory. It serves the current user's bridge endpoint, so it must not
// run while the end-to-end tests do. Prints figures only.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host/bridge_name.h"
#include "platform/user_identity.h"
#include "support/child_process.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Process {
  pid_t pid = -1;
  int in = -1;   // our end of its standard input, when piped
  int out = -1;  // our end of its standard output, when piped
};

// Starts `argv` with a pipe or /dev/null on standard input and output; standard error is ours.
// fork, not posix_spawn: a child that shares our memory until exec would count our peak
// resident memory as its own.
Process spawn(const std::vector<std::string>& argv, bool pipe_in, bool pipe_out) {
  Process p;
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if (pipe_in && ::pipe2(in, O_CLOEXEC) != 0) std::perror("pipe");
  if (pipe_out && ::pipe2(out, O_CLOEXEC) != 0) std::perror("pipe");
  std::vector<std::string> copy = argv;
  std::vector<char*> args;
  for (auto& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  p.pid = ::fork();
  if (p.pid == 0) {
    const int null_in = pipe_in ? in[0] : ::open("/dev/null", O_RDONLY);
    const int null_out = pipe_out ? out[1] : ::open("/dev/null", O_WRONLY);
    ::dup2(null_in, 0);
    ::dup2(null_out, 1);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  if (pipe_in) {
    ::close(in[0]);
    p.in = in[1];
  }
  if (pipe_out) {
    ::close(out[1]);
    p.out = out[0];
  }
  return p;
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool write_all(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t put = ::write(fd, p, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

// Reads the stand-in application's report until a line starting with `prefix`.
std::string read_report_line(int fd, const std::string& prefix) {
  std::string seen;
  char c;
  for (;;) {
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return {};
    seen.push_back(c);
    if (c == '\n') {
      const auto start = seen.rfind('\n', seen.size() - 2);
      const std::string line = seen.substr(start == std::string::npos ? 0 : start + 1);
      if (line.starts_with(prefix)) return line;
    }
  }
}

// Waits for the process and gives its peak resident memory in KiB.
long reap(Process& p) {
  int status = 0;
  rusage usage{};
  while (::wait4(p.pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  close_fd(p.in);
  close_fd(p.out);
  return usage.ru_maxrss;
}

struct App {
  Process process;
  explicit App(const std::vector<std::string>& mode) {
    std::vector<std::string> argv = {zorvia::testing::sibling_program("stand_in_app")};
    argv.insert(argv.end(), mode.begin(), mode.end());
    process = spawn(argv, false, true);
    read_report_line(process.out, "listening");
  }
  ~App() {
    ::kill(process.pid, SIGKILL);
    reap(process);
  }
};

std::vector<std::string> host_command() { return {zorvia::testing::sibling_program("zorvia-host")}; }

std::string endpoint() {
  const auto sid = zorvia::platform::current_user_sid().value_or("");
  const auto name = zorvia::host::bridge_pipe_name_for(zorvia::host::build_flavour(), sid);
  return "ABSTRACT-CONNECT:" + name.substr(zorvia::host::kPipeNamespace.size());
}

std::string le32(std::size_t n) {
  return {static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF), static_cast<char>((n >> 16) & 0xFF),
          static_cast<char>((n >> 24) & 0xFF)};
}

struct Run {
  double seconds = 0;
  long peak_kib = 0;
  bool complete = false;
};

// Browser to application: `count` messages of `size` bytes written to the relay's standard
// input, timed until the application has seen its client end after the last line.
Run to_application(const std::vector<std::string>& relay, bool framed, std::size_t size, std::size_t count) {
  App app({"sink"});
  const auto start = Clock::now();
  Process p = spawn(relay, true, false);
  const std::string body(size, 'm');
  const std::string one = framed ? le32(size) + body : body + "\n";
  const std::size_t per_chunk = std::max<std::size_t>(1, (256 * 1024) / one.size());
  std::string chunk;
  for (std::size_t i = 0; i < per_chunk; ++i) chunk += one;
  for (std::size_t sent = 0; sent < count;) {
    const std::size_t n = std::min(per_chunk, count - sent);
    if (!write_all(p.in, chunk.data(), n * one.size())) break;
    sent += n;
  }
  close_fd(p.in);
  const std::string closed = read_report_line(app.process.out, "closed");
  Run run;
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.peak_kib = reap(p);
  unsigned long long bytes = 0, lines = 0;
  run.complete = std::sscanf(closed.c_str(), "closed %llu %llu", &bytes, &lines) == 2 && lines == count;
  return run;
}

// Application to browser: the application writes `count` lines of `size` bytes; timed until
// the relay's standard output ends.
Run to_browser(const std::vector<std::string>& relay, bool framed, std::size_t size, std::size_t count) {
  App app({"flood", std::to_string(count), std::to_string(size)});
  const auto start = Clock::now();
  Process p = spawn(relay, true, true);  // standard input open and silent, as a browser's
  std::vector<char> buffer(1 << 20);
  std::size_t received = 0;
  for (;;) {
    const ssize_t got = ::read(p.out, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    received += static_cast<std::size_t>(got);
  }
  Run run;
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.peak_kib = reap(p);
  run.complete = received == count * (size + (framed ? 4 : 1));
  return run;
}

bool have_socat() { return ::access("/usr/bin/socat", X_OK) == 0; }

void print_row(const char* direction, const char* label, std::size_t size, std::size_t count, const Run& host,
               const std::optional<Run>& copy) {
  const double mib = static_cast<double>(size) * static_cast<double>(count) / (1024.0 * 1024.0);
  std::printf("%-14s %-7s %9zu %12.0f %10.1f", direction, label, count, count / host.seconds, mib / host.seconds);
  if (copy) {
    std::printf(" %12.0f %10.1f %6.2f", count / copy->seconds, mib / copy->seconds, copy->seconds / host.seconds);
  } else {
    std::printf(" %12s %10s %6s", "-", "-", "-");
  }
  std::printf(" %9.1f%s\n", host.peak_kib / 1024.0, host.complete && (!copy || copy->complete) ? "" : "  (incomplete!)");
}

}  // namespace

int main() {
  ::signal(SIGPIPE, SIG_IGN);
  const bool socat = have_socat();
  std::printf("relay benchmark: native build, bridge endpoint = abstract Unix socket\n");
  std::printf("plain copy: %s\n\n", socat ? "socat -u over the same endpoint (default 8 KiB buffer)" : "socat not found");
  std::printf("%-14s %-7s %9s %12s %10s %12s %10s %6s %9s\n", "direction", "size", "messages", "host msg/s",
              "host MiB/s", "copy msg/s", "copy MiB/s", "ratio", "host RSS");
  std::printf("%-14s %-7s %9s %12s %10s %12s %10s %6s %9s\n", "", "", "", "", "", "", "", "", "(MiB)");

  struct Size {
    const char* label;
    std::size_t bytes;
    std::size_t count;
  };
  static constexpr Size kSizes[] = {{"100 B", 100, 1'000'000}, {"4 KiB", 4096, 50'000}, {"1 MiB", 1 << 20, 200}};
  const std::vector<std::string> copy_in = {"/usr/bin/socat", "-u", "STDIN", endpoint()};
  const std::vector<std::string> copy_out = {"/usr/bin/socat", "-u", endpoint(), "STDOUT"};
  for (const auto& s : kSizes) {
    const Run host = to_application(host_command(), true, s.bytes, s.count);
    std::optional<Run> copy;
    if (socat) copy = to_application(copy_in, false, s.bytes, s.count);
    print_row("browser->app", s.label, s.bytes, s.count, host, copy);
  }
  for (const auto& s : kSizes) {
    const Run host = to_browser(host_command(), true, s.bytes, s.count);
    std::optional<Run> copy;
    if (socat) copy = to_browser(copy_out, false, s.bytes, s.count);
    print_row("app->browser", s.label, s.bytes, s.count, host, copy);
  }

  // From starting the host to the first reply relayed back by the echoing application.
  {
    App app({"echo", "--connections", "1000"});
    std::vector<double> ms;
    const std::string request = le32(7) + "{\"a\":1}";
    for (int i = 0; i < 30; ++i) {
      const auto start = Clock::now();
      Process p = spawn(host_command(), true, true);
      write_all(p.in, request.data(), request.size());
      std::size_t got = 0;
      char buffer[64];
      while (got < request.size()) {
        const ssize_t n = ::read(p.out, buffer, sizeof buffer);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
      }
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      close_fd(p.in);
      reap(p);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("\nstart to first reply: median %.2f ms, best %.2f ms, worst %.2f ms (%zu starts)\n", ms[ms.size() / 2],
                ms.front(), ms.back(), ms.size());
  }

  // The application writes a 64 MiB blank line, then a 64 MiB non-blank one: the host skips
  // the first and ends at the second, storing neither.
  {
    App app({"blank-then-long", std::to_string(64u << 20)});
    Process p = spawn(host_command(), true, false);
    const long peak = reap(p);
    std::printf("peak RSS, 64 MiB blank line then 64 MiB non-blank line: %.1f MiB\n", peak / 1024.0);
  }
  return 0;
}
