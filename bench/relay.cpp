// The relay's figures, natively: messages per second and MiB/s for 100 B, 4 KiB and 1 MiB
// messages in each direction, beside the relays a user could pick instead between the same
// peers: a plain copy (socat with its default 8 KiB buffer) and, for browser-to-application
// messages, the least a relay can do with one write per message (bench_one_write_relay).
// The application's side is a fast peer (socat with a 1 MiB buffer, moving whole MiBs), so
// that the figures are the relay's and not its peers'. Each row is the median of several
// runs, the relays taking turns; the ratio is the median of the runs' time ratios. Then the
// time from starting the host to its first relayed reply, and the host's peak resident
// memory with 64 MiB lines.
//
//   bench_relay [--runs N] [--host PATH]
//
// It serves the current user's bridge endpoint: run it inside `unshare -n`, never beside the
// end-to-end tests. Prints figures only.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/bridge_name.h"
#include "platform/user_identity.h"
#include "support/child_process.h"
#include "support/host_program.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPeerBuffer = 1 << 20;

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

// Reads `fd` to its end in 1 MiB pieces; gives the bytes and the line feeds seen.
struct Drained {
  unsigned long long bytes = 0;
  unsigned long long lines = 0;
};
Drained drain(int fd) {
  Drained d;
  std::vector<char> buffer(kPeerBuffer);
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return d;
    d.bytes += static_cast<unsigned long long>(got);
    for (const char* p = buffer.data(); (p = static_cast<const char*>(std::memchr(p, '\n', buffer.data() + got - p)));
         ++p)
      ++d.lines;
  }
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

std::string endpoint_name() {
  const auto sid = zorvia::platform::current_user_sid().value_or("");
  const auto name = zorvia::host::bridge_pipe_name_for(zorvia::host::build_flavour(), sid);
  return name.substr(zorvia::host::kPipeNamespace.size());
}

// True once a socket listens on the abstract `name` in this network namespace.
bool listening(const std::string& name) {
  constexpr const char* kAcceptsConnections = "00010000";
  std::ifstream table("/proc/net/unix");
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, references, protocol, flags, type, state, inode, path;
    if (fields >> slot >> references >> protocol >> flags >> type >> state >> inode >> path && path == "@" + name &&
        flags == kAcceptsConnections)
      return true;
  }
  return false;
}

bool wait_until_listening(const std::string& name) {
  const auto give_up = Clock::now() + std::chrono::seconds(5);
  while (!listening(name)) {
    if (Clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The application as a fast peer: socat serving the endpoint once, moving up to 1 MiB per
// read and write, its own pipe to us widened to 1 MiB.
Process fast_application(bool receives) {
  const std::string serve = "ABSTRACT-LISTEN:" + endpoint_name();
  const std::string block = std::to_string(kPeerBuffer);
  std::vector<std::string> argv = {"/usr/bin/socat", "-u", "-b", block};
  if (receives) {
    argv.insert(argv.end(), {serve, "STDOUT"});
  } else {
    argv.insert(argv.end(), {"STDIN", serve});
  }
  Process app = spawn(argv, !receives, receives);
  ::fcntl(receives ? app.out : app.in, F_SETPIPE_SZ, kPeerBuffer);
  return app;
}

struct Run {
  double seconds = 0;
  long peak_kib = 0;
  bool complete = false;
};

std::string le32(std::size_t n) {
  return {static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF), static_cast<char>((n >> 16) & 0xFF),
          static_cast<char>((n >> 24) & 0xFF)};
}

// Up to 256 KiB of whole messages, each `one`.
std::string batch_of(const std::string& one, std::size_t& per_batch, std::size_t limit = 256 * 1024) {
  per_batch = std::max<std::size_t>(1, limit / one.size());
  std::string batch;
  batch.reserve(per_batch * one.size());
  for (std::size_t i = 0; i < per_batch; ++i) batch += one;
  return batch;
}

// Browser to application: `count` messages of `size` bytes written to the relay's standard
// input, timed until the application has seen the relay's end after the last line.
Run to_application(const std::vector<std::string>& relay, bool framed, std::size_t size, std::size_t count) {
  Process app = fast_application(true);
  Run run;
  if (!wait_until_listening(endpoint_name())) {
    ::kill(app.pid, SIGKILL);
    reap(app);
    return run;
  }
  Drained received;
  std::thread counter([&] { received = drain(app.out); });
  const std::string body(size, 'm');
  std::size_t per_batch = 0;
  const std::string batch = batch_of(framed ? le32(size) + body : body + "\n", per_batch);
  const std::size_t one = batch.size() / per_batch;

  const auto start = Clock::now();
  Process p = spawn(relay, true, false);
  for (std::size_t sent = 0; sent < count;) {
    const std::size_t n = std::min(per_batch, count - sent);
    if (!write_all(p.in, batch.data(), n * one)) break;
    sent += n;
  }
  close_fd(p.in);
  counter.join();
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.peak_kib = reap(p);
  reap(app);
  run.complete = received.bytes == count * (size + 1) && received.lines == count;
  return run;
}

// Application to browser: the application writes `count` lines of `size` bytes; timed until
// the relay's standard output ends.
Run to_browser(const std::vector<std::string>& relay, bool framed, std::size_t size, std::size_t count) {
  Process app = fast_application(false);
  std::size_t per_batch = 0;
  const std::string batch = batch_of(std::string(size, 'x') + "\n", per_batch, kPeerBuffer);
  const std::size_t one = batch.size() / per_batch;
  std::thread feeder([&] {
    for (std::size_t sent = 0; sent < count;) {
      const std::size_t n = std::min(per_batch, count - sent);
      if (!write_all(app.in, batch.data(), n * one)) break;
      sent += n;
    }
    close_fd(app.in);
  });
  Run run;
  if (wait_until_listening(endpoint_name())) {
    const auto start = Clock::now();
    Process p = spawn(relay, true, true);  // standard input open and silent, as a browser's
    const Drained received = drain(p.out);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.peak_kib = reap(p);
    run.complete = received.bytes == count * (size + (framed ? 4 : 1));
  } else {
    ::kill(app.pid, SIGKILL);
  }
  feeder.join();
  reap(app);
  return run;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Relay {
  const char* label;
  std::vector<std::string> argv;
  bool framed;
  double target;  // the ratio the host should reach against it; 0 for none
};

// One row per relay compared with the host, all of them run `runs` times in turn.
void measure(bool towards_application, const char* size_label, std::size_t size, std::size_t count,
             const std::vector<std::string>& host, const std::vector<Relay>& others, int runs) {
  const char* direction = towards_application ? "browser->app" : "app->browser";
  const auto one_run = [&](const std::vector<std::string>& argv, bool framed) {
    return towards_application ? to_application(argv, framed, size, count) : to_browser(argv, framed, size, count);
  };
  std::vector<double> host_seconds;
  std::vector<std::vector<double>> other_seconds(others.size()), ratios(others.size());
  long host_peak = 0;
  bool complete = true;
  for (int r = 0; r < runs; ++r) {
    // Each run starts with another relay, so that a change of the machine's load spreads.
    std::vector<Run> results(others.size() + 1);
    for (std::size_t k = 0; k <= others.size(); ++k) {
      const std::size_t which = (k + static_cast<std::size_t>(r)) % (others.size() + 1);
      results[which] = which == 0 ? one_run(host, true) : one_run(others[which - 1].argv, others[which - 1].framed);
      complete = complete && results[which].complete;
    }
    host_seconds.push_back(results[0].seconds);
    host_peak = std::max(host_peak, results[0].peak_kib);
    for (std::size_t k = 0; k < others.size(); ++k) {
      other_seconds[k].push_back(results[k + 1].seconds);
      ratios[k].push_back(results[k + 1].seconds / results[0].seconds);
    }
  }
  const double mib = static_cast<double>(size) * static_cast<double>(count) / (1024.0 * 1024.0);
  const double host_time = median(host_seconds);
  for (std::size_t k = 0; k < others.size(); ++k) {
    const double other_time = median(other_seconds[k]);
    const double ratio = median(ratios[k]);
    char target[32] = "-";
    if (others[k].target > 0)
      std::snprintf(target, sizeof target, ">=%.1f %s", others[k].target, ratio >= others[k].target ? "ok" : "LOW");
    std::printf("%-13s %-6s %-15s %9zu %11.0f %10.1f %11.0f %10.1f %6.2f %-9s %8.1f%s\n", direction, size_label,
                others[k].label, count, count / host_time, mib / host_time, count / other_time, mib / other_time, ratio,
                target, host_peak / 1024.0, complete ? "" : "  (incomplete!)");
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  int runs = 5;
  std::string host_path = zorvia::testing::host_program();
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (option == "--host" && i + 1 < argc) {
      host_path = argv[++i];
    } else {
      std::fprintf(stderr, "usage: bench_relay [--runs N] [--host PATH]\n");
      return 2;
    }
  }
  if (::access("/usr/bin/socat", X_OK) != 0) {
    std::fprintf(stderr, "bench_relay: the peers and the plain copy are socat: install it\n");
    return 2;
  }
  const auto load = [] {
    std::ifstream file("/proc/loadavg");
    std::string one, five;
    file >> one >> five;
    return one + " " + five;
  };
  std::printf("relay benchmark: native build, bridge endpoint = abstract Unix socket\n");
  std::printf("host: %s\n", host_path.c_str());
  std::printf("application peer: socat -u -b %d (whole MiBs); browser side: default pipes\n", kPeerBuffer);
  std::printf("against: copy = socat -u with its default 8 KiB buffer; one-write = one write per message\n");
  std::printf("median of %d runs each, relays taking turns; ratio = median of (other's time / host's time)\n", runs);
  std::printf("load average (1, 5 min) at the start: %s\n\n", load().c_str());
  std::printf("%-13s %-6s %-15s %9s %11s %10s %11s %10s %6s %-9s %8s\n", "direction", "size", "against", "messages",
              "host msg/s", "host MiB/s", "other msg/s", "other MiB/s", "ratio", "target", "host RSS");
  std::printf("%-13s %-6s %-15s %9s %11s %10s %11s %10s %6s %-9s %8s\n", "", "", "", "", "", "", "", "", "", "",
              "(MiB)");

  const std::vector<std::string> host = {host_path};
  const std::string connect = "ABSTRACT-CONNECT:" + endpoint_name();
  const Relay copy_in{"copy", {"/usr/bin/socat", "-u", "STDIN", connect}, false, 1.5};
  const Relay copy_out{"copy", {"/usr/bin/socat", "-u", connect, "STDOUT"}, false, 1.5};
  const Relay one_write{
      "one-write", {zorvia::testing::sibling_program("bench_one_write_relay"), endpoint_name()}, true, 1.5};
  Relay copy_in_small = copy_in, copy_out_small = copy_out;
  copy_in_small.target = copy_out_small.target = 0;

  measure(true, "100 B", 100, 1'000'000, host, {copy_in_small, one_write}, runs);
  measure(true, "4 KiB", 4096, 50'000, host, {copy_in}, runs);
  measure(true, "1 MiB", 1 << 20, 200, host, {copy_in}, runs);
  measure(false, "100 B", 100, 1'000'000, host, {copy_out_small}, runs);
  measure(false, "4 KiB", 4096, 50'000, host, {copy_out}, runs);
  measure(false, "1 MiB", 1 << 20, 200, host, {copy_out}, runs);
  std::printf("load average (1, 5 min) at the end: %s\n", load().c_str());

  // From starting the host to the first reply relayed back by the echoing application.
  {
    std::vector<std::string> app_argv = {zorvia::testing::sibling_program("stand_in_app"), "echo", "--connections",
                                         "1000"};
    Process app = spawn(app_argv, false, true);
    read_report_line(app.out, "listening");
    std::vector<double> ms;
    const std::string request = le32(7) + "{\"a\":1}";
    for (int i = 0; i < 30; ++i) {
      const auto start = Clock::now();
      Process p = spawn(host, true, true);
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
    ::kill(app.pid, SIGKILL);
    reap(app);
    std::sort(ms.begin(), ms.end());
    std::printf("\nstart to first reply: median %.2f ms, best %.2f ms, worst %.2f ms (%zu starts)\n", median(ms),
                ms.front(), ms.back(), ms.size());
  }

  // The application writes a 64 MiB blank line, then a 64 MiB non-blank one: the host skips
  // the first and ends at the second, storing neither.
  {
    std::vector<std::string> app_argv = {zorvia::testing::sibling_program("stand_in_app"), "blank-then-long",
                                         std::to_string(64u << 20)};
    Process app = spawn(app_argv, false, true);
    read_report_line(app.out, "listening");
    Process p = spawn(host, true, false);
    const long peak = reap(p);
    ::kill(app.pid, SIGKILL);
    reap(app);
    std::printf("peak RSS, 64 MiB blank line then 64 MiB non-blank line: %.1f MiB (under 12 MiB wanted)\n",
                peak / 1024.0);
  }
  return 0;
}
