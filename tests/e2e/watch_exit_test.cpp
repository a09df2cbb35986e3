// The watch-exit mode of the real executable, watching a program of ours.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "platform/scoped_native.h"
#include "support/child_process.h"
#include "support/host_program.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace zorvia {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using namespace std::chrono_literals;
using testing::Child;
using testing::run_child;
using testing::sibling_program;

constexpr const char* kSwitch = "--zorvia-watch-exit";
#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

fs::path utf8_path(const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); }

std::string contents(const std::string& path) {
  std::ifstream in(utf8_path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> lines_of(const std::string& path) {
  std::vector<std::string> lines;
  const std::string text = contents(path);
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start != text.size()) lines.push_back(text.substr(start) + "<no line feed>");
  return lines;
}

bool wait_for_lines(const std::string& path, std::size_t count, std::chrono::milliseconds timeout = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (lines_of(path).size() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

using Millis = std::chrono::sys_time<std::chrono::milliseconds>;

Millis now_millis() { return std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now()); }

// The library's clock may lag the system's precise one by a tick: enough to allow after a
// reading, far too little to hide a wrong time zone or epoch.
constexpr std::chrono::seconds kClockSlack{1};

// The moment an event's "at" names, or nothing when it is not of the form
// 2026-01-31T12:00:00.000Z.
std::optional<Millis> time_of(const Json& at) {
  if (!at.is_string()) return std::nullopt;
  const std::string text = at;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0, end = 0;
  if (text.size() != 24 || std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ%n", &y, &mo, &d, &h, &mi, &s, &ms,
                                       &end) != 7 || end != 24)
    return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(y), std::chrono::month(static_cast<unsigned>(mo)),
                                         std::chrono::day(static_cast<unsigned>(d))};
  if (!date.ok()) return std::nullopt;
  return std::chrono::sys_days(date) + std::chrono::hours(h) + std::chrono::minutes(mi) + std::chrono::seconds(s) +
         std::chrono::milliseconds(ms);
}

std::string marker_json(const std::string& session, const std::string& extra = "") {
  return R"({"session_id":")" + session +
         R"(","pid":1,"started_at":"2026-01-31T12:00:00.000Z","version":"1.0.0",)"
         R"("executable":"C:\\Apps\\zorvia-app.exe","debug_build":false,"e2e":true,"active_tasks":["sync"])" +
         extra + "}";
}

class WatchExit : public ::testing::Test {
 protected:
  std::string dir = testing::make_temp_directory("watch_exit");
  std::string events = testing::join_path(dir, "events.jsonl");
  std::string marker = testing::join_path(dir, "marker.json");
  std::string host = testing::host_program();
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(utf8_path(dir), ignored);
  }

  // Starts the watched program (ending when its standard input closes, after `steps_before`
  // and before `steps_after`) and a watchdog on it; returns once the ready event is in.
  struct Run {
    std::unique_ptr<Child> watched;
    std::unique_ptr<Child> watchdog;
  };
  Run start(const std::vector<std::string>& steps_before, const std::vector<std::string>& steps_after,
            const std::string& session = "s-1", bool with_marker_path = true, std::size_t ready_lines = 1) {
    std::vector<std::string> steps = steps_before;
    steps.insert(steps.end(), {"pid", "wait-stdin"});
    steps.insert(steps.end(), steps_after.begin(), steps_after.end());
    Run run;
    run.watched = std::make_unique<Child>(sibling_program("watched_program"), steps);
    EXPECT_TRUE(run.watched->started());
    // The program prints its id once the marker, if any, is in place.
    EXPECT_TRUE(run.watched->wait_for_output(1, 30s));
    EXPECT_EQ(run.watched->output(), std::to_string(run.watched->pid()) + "\n");
    std::vector<std::string> args = {kSwitch, std::to_string(run.watched->pid()), session, events};
    if (with_marker_path) args.push_back(marker);
    run.watchdog = std::make_unique<Child>(host, args);
    EXPECT_TRUE(run.watchdog->started());
    EXPECT_TRUE(wait_for_lines(events, ready_lines));
    return run;
  }

  // Lets the watched program end and the watchdog finish; the watched program is reaped
  // only after the watchdog has read its exit code.
  static void finish(Run& run) {
    run.watched->close_stdin();
    EXPECT_EQ(run.watchdog->wait(60s), 0u);
    run.watchdog->join_output();
    EXPECT_EQ(run.watchdog->output(), "");
    EXPECT_EQ(run.watchdog->errors(), "");
    EXPECT_TRUE(run.watched->wait(30s).has_value());
  }
};

TEST_F(WatchExit, ReadyEventThenExitEvent) {
  // Non-ASCII text and blanks reach the run unchanged (on Windows: the wide command line).
  const std::string session = "s-\xd0\x97\xd0\xbe\xf0\x9f\x98\x80 \"q\"";
  events = testing::join_path(dir, "\xd1\x81\xd0\xbe\xd0\xb1 events.jsonl");
  const Millis before_start = now_millis();
  auto run = start({}, {"exit", "3"}, session, false);
  const Millis ready_seen = now_millis();
  {
    const auto lines = lines_of(events);
    ASSERT_EQ(lines.size(), 1u);
    const Json ready = Json::parse(lines[0]);
    EXPECT_EQ(ready["event"], "watchdog_ready");
    EXPECT_EQ(ready["pid"], run.watched->pid());
    EXPECT_EQ(ready["watchdog_pid"], run.watchdog->pid());
    EXPECT_EQ(ready["marker_seen"], false);
    EXPECT_EQ(ready["session_id"], session);
    // The system's time in UTC, read while the run started.
    const auto at = time_of(ready["at"]);
    ASSERT_TRUE(at) << ready["at"];
    EXPECT_LE(before_start, *at);
    EXPECT_LE(*at, ready_seen + kClockSlack);
    EXPECT_FALSE(run.watchdog->wait(200ms).has_value()) << "the watchdog must wait for the process";
  }
  const Millis before_exit = now_millis();
  finish(run);
  const Millis finished = now_millis();
  const auto lines = lines_of(events);
  ASSERT_EQ(lines.size(), 2u);
  const Json exit = Json::parse(lines[1]);
  EXPECT_EQ(exit["event"], "process_exit_observed");
  EXPECT_EQ(exit["session_id"], session);
  EXPECT_EQ(exit["pid"], run.watched->pid());
  EXPECT_EQ(exit["wait_result"], 0);
  EXPECT_EQ(exit["exit_code"], 3);
  EXPECT_EQ(exit["exit_code_hex"], "0x00000003");
  EXPECT_EQ(exit["classification"], "nonzero_exit");
  EXPECT_EQ(exit["marker_source"], "missing");
  EXPECT_TRUE(exit["suspects"].is_array());
  // Read after the exit, not when the run started.
  const auto exit_at = time_of(exit["at"]);
  ASSERT_TRUE(exit_at) << exit["at"];
  EXPECT_LE(before_exit, *exit_at);
  EXPECT_LE(*exit_at, finished + kClockSlack);
  EXPECT_GT(*exit_at, *time_of(Json::parse(lines[0])["at"]));
}

// The exit code of a real process and the marker from a real file reach the classification;
// the labels themselves are the classification's own tests.
TEST_F(WatchExit, ExitCodeAndMarkerReachTheClassification) {
  struct Case {
    const char* name;
    std::uint32_t code;
    std::optional<std::string> marker_extra;  // nothing: no marker file at all
    const char* label;
    bool windows_only;
  };
  const Case cases[] = {
      {"zero without marker", 0, std::nullopt, "zero_exit_without_marker", false},
      {"zero with marker", 0, "", "terminated_with_zero_code", false},
      {"expected and clean", 0, R"(,"expected_exit":"user_quit","clean_exit":true)", "expected_exit", false},
      {"access violation", 0xC0000005u, std::nullopt, "access_violation", true},
  };
  for (const auto& c : cases) {
    if (c.windows_only && !kWindows) continue;
    SCOPED_TRACE(c.name);
    std::error_code ignored;
    fs::remove(utf8_path(events), ignored);
    std::vector<std::string> before;
    if (c.marker_extra) before = {"write", marker, marker_json("s-1", *c.marker_extra)};
    auto run = start(before, {"exit", std::to_string(c.code)});
    finish(run);
    const auto lines = lines_of(events);
    ASSERT_EQ(lines.size(), 2u);
    const Json exit = Json::parse(lines[1]);
    EXPECT_EQ(exit["exit_code"], c.code);
    EXPECT_EQ(exit["classification"], c.label);
    EXPECT_EQ(exit["marker_source"], c.marker_extra ? "at_exit" : "missing");
    EXPECT_EQ(Json::parse(lines[0])["marker_seen"], c.marker_extra.has_value());
    EXPECT_FALSE(fs::exists(utf8_path(marker))) << "a marker read at exit is deleted";
  }
}

TEST_F(WatchExit, MarkerIsDeletedOnlyWhenTheCopyAtExitCounts) {
  struct Case {
    const char* name;
    std::vector<std::string> after;  // steps of the watched program between the ready event and its end
    const char* source;
    bool marker_remains;
  };
  const Case cases[] = {
      {"same session at exit", {}, "at_exit", false},
      {"rewritten for another session", {"write", marker, marker_json("s-2")}, "pre_wait", true},
      {"removed before the end", {"remove", marker}, "pre_wait", false},
      {"rewritten unparsable", {"write", marker, "{\"session_id\":\"s-1\""}, "pre_wait", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ignored;
    fs::remove(utf8_path(events), ignored);
    std::vector<std::string> after = c.after;
    after.insert(after.end(), {"exit", "0"});
    auto run = start({"write", marker, marker_json("s-1")}, after);
    EXPECT_TRUE(fs::exists(utf8_path(marker)));
    finish(run);
    const auto lines = lines_of(events);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Json::parse(lines[0])["marker_seen"], true);
    const Json exit = Json::parse(lines[1]);
    EXPECT_EQ(exit["marker_source"], c.source);
    EXPECT_EQ(exit["classification"], "terminated_with_zero_code");
    EXPECT_EQ(fs::exists(utf8_path(marker)), c.marker_remains);
  }
}

// The Defender step finds "wevtutil.exe" beside the executable first: a copy of the host
// with a fake tool beside it, in a directory of its own, sees a detection of the program.
TEST_F(WatchExit, DefenderDetectionGivesAntivirusQuarantine) {
  const std::string exe = kWindows ? ".exe" : "";
  host = testing::join_path(dir, "zorvia-host" + exe);
  fs::copy_file(utf8_path(testing::host_program()), utf8_path(host));
  fs::copy_file(utf8_path(sibling_program("fake_wevtutil")), utf8_path(testing::join_path(dir, "wevtutil.exe")));
  std::ofstream(utf8_path(testing::join_path(dir, "fake_wevtutil.xml")), std::ios::binary)
      << "<Events><Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><EventData>"
         "<Data Name='Threat Name'>Trojan:Win32/Wacatac.B!ml</Data><Data Name='Action Name'>Quarantine</Data>"
         "<Data Name='Path'>file:_C:\\Apps\\ZORVIA-APP.EXE</Data></EventData></Event></Events>";

  auto run = start({"write", marker, marker_json("s-1")}, {"exit", std::to_string(kWindows ? 0xC0000005u : 9u)});
  finish(run);
  const auto lines = lines_of(events);
  ASSERT_EQ(lines.size(), 2u);
  const Json exit = Json::parse(lines[1]);
  EXPECT_EQ(exit["classification"], "antivirus_quarantine");
  EXPECT_EQ(exit["antivirus"], Json::parse(R"({"action":"Quarantine","path":"file:_C:\\Apps\\ZORVIA-APP.EXE",
                                                "threat":"Trojan:Win32/Wacatac.B!ml"})"));
  EXPECT_EQ(exit["executable_present"], false);
}

TEST_F(WatchExit, EightWatchdogsAppendWholeLinesToOneFile) {
  if (testing::running_under_wine()) {
    // Measured: eight processes appending 50 lines each through FILE_APPEND_DATA handles lose
    // 2 to 5 per cent of them under Wine, while Windows appends each write whole, as Linux
    // does with O_APPEND.
    GTEST_SKIP() << "Wine does not make appends of different processes atomic";
  }
  constexpr int kWatchdogs = 8;
  Child watched(sibling_program("watched_program"), {"wait-stdin", "exit", "0"});
  ASSERT_TRUE(watched.started());
  std::vector<std::unique_ptr<Child>> watchdogs;
  for (int i = 0; i < kWatchdogs; ++i) {
    // Long session ids make each line a large write.
    std::string session(1, 'w');
    session += std::to_string(i);
    session.push_back('-');
    session.append(4000, static_cast<char>('a' + i));
    watchdogs.push_back(std::make_unique<Child>(
        testing::host_program(), std::vector<std::string>{kSwitch, std::to_string(watched.pid()), session, events}));
  }
  ASSERT_TRUE(wait_for_lines(events, kWatchdogs, 60s));
  watched.close_stdin();
  for (auto& w : watchdogs) EXPECT_EQ(w->wait(60s), 0u);
  EXPECT_TRUE(watched.wait(30s).has_value());

  const auto lines = lines_of(events);
  ASSERT_EQ(lines.size(), 2u * kWatchdogs);
  std::map<std::string, int> ready, exited;
  for (const auto& line : lines) {
    const Json event = Json::parse(line, nullptr, false);
    ASSERT_FALSE(event.is_discarded()) << line.substr(0, 200);
    const std::string session = event["session_id"];
    ASSERT_EQ(session.size(), 4000u + 3);
    EXPECT_EQ(session.find_first_not_of(session[4], 3), std::string::npos) << "a torn line";
    (event["event"] == "watchdog_ready" ? ready : exited)[session]++;
  }
  EXPECT_EQ(ready.size(), static_cast<std::size_t>(kWatchdogs));
  EXPECT_EQ(exited.size(), static_cast<std::size_t>(kWatchdogs));
  for (const auto& [session, n] : exited) EXPECT_EQ(n, 1) << session.substr(0, 3);
}

// Something at `path` that opens like a file but is none, and that nobody reads or writes:
// a FIFO natively, a pipe of two unserved instances on Windows.
class NotAFile {
 public:
  explicit NotAFile(const std::string& path) {
#ifdef _WIN32
    const std::wstring name = utf8_path(path).native();
    for (auto& server : servers_) {
      server.reset(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                    PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr));
      EXPECT_TRUE(server);
    }
#else
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
#endif
  }

 private:
#ifdef _WIN32
  platform::ScopedHandle servers_[2];
#endif
};

// Neither the marker read nor the events file's open may wait for another process.
TEST_F(WatchExit, PathsThatAreNoFileNeverHoldTheRunUp) {
  const auto not_a_file = [&](const std::string& name) {
#ifdef _WIN32
    return "\\\\.\\pipe\\zorvia-watch-exit-" + name + "-" + std::to_string(GetCurrentProcessId());
#else
    return testing::join_path(dir, name);
#endif
  };

  {
    SCOPED_TRACE("the marker path: an absent marker");
    const std::string fifo = not_a_file("marker");
    NotAFile holder(fifo);
    Child watched(sibling_program("watched_program"), {"wait-stdin", "exit", "0"});
    Child watchdog(host, {kSwitch, std::to_string(watched.pid()), "s-1", events, fifo});
    EXPECT_TRUE(wait_for_lines(events, 1, 15s)) << "no ready event: the marker read is stuck";
    watched.close_stdin();
    EXPECT_EQ(watchdog.wait(15s), 0u);
    const auto lines = lines_of(events);
    EXPECT_EQ(lines.size(), 2u);
    if (lines.size() == 2u) {
      EXPECT_EQ(Json::parse(lines[0])["marker_seen"], false);
      EXPECT_EQ(Json::parse(lines[1])["marker_source"], "missing");
    }
    EXPECT_TRUE(kWindows || fs::is_fifo(utf8_path(fifo))) << "the FIFO is left alone";
  }
  {
    SCOPED_TRACE("the events path: both events are lost, the run goes on");
    const std::string fifo = not_a_file("events");
    NotAFile holder(fifo);
    std::ofstream(utf8_path(marker)) << marker_json("s-1");
    Child watched(sibling_program("watched_program"), {"wait-stdin", "exit", "0"});
    Child watchdog(host, {kSwitch, std::to_string(watched.pid()), "s-1", fifo, marker});
    // The run reaches its wait only after the ready event's append.
    EXPECT_FALSE(watchdog.wait(300ms).has_value());
    watched.close_stdin();
    EXPECT_EQ(watchdog.wait(15s), 0u) << "the watchdog is stuck on the events file";
    EXPECT_FALSE(fs::exists(utf8_path(marker))) << "the run went on to delete the marker read at exit";
    EXPECT_TRUE(kWindows || fs::is_fifo(utf8_path(fifo))) << "the FIFO is left alone";
  }
}

TEST_F(WatchExit, UnusableArgumentsDoNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {kSwitch},
      {kSwitch, "42"},
      {kSwitch, "42", "s-1"},
      {kSwitch, "-1", "s-1", events},
      {kSwitch, "-0", "s-1", events},
      {kSwitch, "0x2A", "s-1", events, marker},
      {kSwitch, "4294967296", "s-1", events},
      {kSwitch, "4 2", "s-1", events},
      {kSwitch, "", "s-1", events},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const auto result = run_child(testing::host_program(), args);
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(fs::exists(utf8_path(events)));
  }
#ifndef _WIN32
  // A session id that is not text.
  const auto result = run_child(testing::host_program(), {kSwitch, "1", "s\xff", events});
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_FALSE(fs::exists(utf8_path(events)));
#endif
}

TEST_F(WatchExit, ProcessThatCannotBeOpenedGivesOneEvent) {
  std::ofstream(utf8_path(marker)) << marker_json("s-1");
  const auto result = run_child(testing::host_program(), {kSwitch, "0", "s-1", events, marker});
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  const auto lines = lines_of(events);
  ASSERT_EQ(lines.size(), 1u);
  const Json event = Json::parse(lines[0]);
  EXPECT_EQ(event["event"], "watchdog_open_failed");
  EXPECT_EQ(event["pid"], 0);
  const std::string os_error = event["os_error"];
  const std::string code = kWindows ? " (os error 87)" : " (os error 22)";
  ASSERT_GT(os_error.size(), code.size());
  EXPECT_EQ(os_error.substr(os_error.size() - code.size()), code);
  EXPECT_TRUE(fs::exists(utf8_path(marker))) << "the marker is not touched";
}

}  // namespace
}  // namespace zorvia
