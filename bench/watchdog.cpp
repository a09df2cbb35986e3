// How long after the watched process ends its exit event is in the events file.
//
//   bench_watchdog [RUNS]                    the native build beside this program
//   bench_watchdog [RUNS] --wine BUILD_DIR   the Windows build in BUILD_DIR, under Wine
//
// The watched program stamps the real-time clock just before it exits; the bench polls the
// events file and takes the clock when the exit line appears. Prints figures only.

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/host_program.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using zorvia::testing::Child;

struct Programs {
  std::string launcher;  // empty: run directly
  std::string watched;
  std::string host;
  bool windows_paths = false;
};

std::string read_all(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::size_t line_count(const fs::path& p) {
  const std::string text = read_all(p);
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Wine maps the Unix root to drive Z:.
std::string as_seen_by(const Programs& programs, const fs::path& p) {
  if (!programs.windows_paths) return p.string();
  std::string s = "Z:" + p.string();
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

std::unique_ptr<Child> launch(const Programs& programs, const std::string& program, std::vector<std::string> args) {
  if (programs.launcher.empty()) return std::make_unique<Child>(program, args);
  args.insert(args.begin(), program);
  return std::make_unique<Child>(programs.launcher, args);
}

std::int64_t now_micros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// One run: the latency in microseconds, or nothing when something did not happen in time.
std::optional<std::int64_t> one_run(const Programs& programs, const fs::path& dir) {
  const fs::path events = dir / "events.jsonl";
  const fs::path stamp = dir / "stamp";
  fs::remove(events);
  fs::remove(stamp);
  auto watched =
      launch(programs, programs.watched, {"pid", "wait-stdin", "stamp", as_seen_by(programs, stamp), "exit", "0"});
  if (!watched->started()) return std::nullopt;
  const auto pid_deadline = std::chrono::steady_clock::now() + 30s;
  while (watched->output().find('\n') == std::string::npos) {
    if (std::chrono::steady_clock::now() > pid_deadline) return std::nullopt;
    watched->wait_for_output(1, 100ms);
  }
  const std::string pid = watched->output().substr(0, watched->output().find('\n'));
  auto watchdog =
      launch(programs, programs.host, {"--zorvia-watch-exit", pid, "bench", as_seen_by(programs, events)});

  const auto ready_deadline = std::chrono::steady_clock::now() + 30s;
  while (line_count(events) < 1) {
    if (std::chrono::steady_clock::now() > ready_deadline) return std::nullopt;
    std::this_thread::sleep_for(1ms);
  }
  watched->close_stdin();
  const auto exit_deadline = std::chrono::steady_clock::now() + 30s;
  while (line_count(events) < 2) {
    if (std::chrono::steady_clock::now() > exit_deadline) return std::nullopt;
    std::this_thread::sleep_for(100us);
  }
  const std::int64_t seen = now_micros();
  watchdog->wait(30s);
  watched->wait(30s);
  const std::string stamped = read_all(stamp);
  if (stamped.empty()) return std::nullopt;
  std::int64_t stamped_at = 0;
  if (std::from_chars(stamped.data(), stamped.data() + stamped.size(), stamped_at).ec != std::errc()) return std::nullopt;
  return seen - stamped_at;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 20;
  Programs programs;
  programs.watched = zorvia::testing::sibling_program("watched_program");
  programs.host = zorvia::testing::host_program();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--wine" && i + 1 < argc) {
      const fs::path build = argv[++i];
      programs.launcher = (fs::path(ZORVIA_SOURCE_DIR) / "cmake" / "wine-run").string();
      programs.watched = (build / "watched_program.exe").string();
      programs.host = (build / "zorvia-host-e2e.exe").string();
      programs.windows_paths = true;
    } else {
      runs = std::max(1, std::atoi(arg.c_str()));
    }
  }

  const fs::path dir = zorvia::testing::make_temp_directory("bench_watchdog");
  std::vector<std::int64_t> latencies;
  int failed = 0;
  for (int i = 0; i < runs; ++i) {
    if (const auto latency = one_run(programs, dir)) {
      latencies.push_back(*latency);
    } else {
      ++failed;
    }
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);

  std::printf("watchdog exit-to-event latency (%s): %zu runs", programs.launcher.empty() ? "native" : "wine",
              latencies.size());
  if (failed) std::printf(", %d failed", failed);
  std::printf("\n");
  if (latencies.empty()) return 0;
  std::sort(latencies.begin(), latencies.end());
  const auto ms = [](std::int64_t us) { return static_cast<double>(us) / 1000.0; };
  std::printf("  median %.2f ms   min %.2f ms   max %.2f ms\n", ms(latencies[latencies.size() / 2]),
              ms(latencies.front()), ms(latencies.back()));
  return 0;
}
