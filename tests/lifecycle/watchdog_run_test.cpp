#include "lifecycle/watchdog_run.h"

#include <gtest/gtest.h>

#include <deque>
#include <nlohmann/json.hpp>

namespace zorvia::lifecycle {
namespace {

using Json = nlohmann::json;
using Log = std::vector<std::string>;

constexpr std::uint32_t kWatchedPid = 4242;
constexpr std::uint32_t kOwnPid = 77;
constexpr std::string_view kSession = "session-1";

struct FakeProcess final : WatchedProcess {
  Log& log;
  std::uint32_t wait_result;
  std::optional<std::uint32_t> code;
  FakeProcess(Log& l, std::uint32_t w, std::optional<std::uint32_t> c) : log(l), wait_result(w), code(c) {}
  ~FakeProcess() override { log.push_back("close"); }
  std::uint32_t wait() override {
    log.push_back("wait");
    return wait_result;
  }
  std::optional<std::uint32_t> exit_code() override {
    log.push_back("exit_code");
    return code;
  }
};

// Records every call in order; each clock reading is one second after the previous one.
class FakeWorld final : public WatchdogWorld {
 public:
  std::optional<io::OsError> open_error;
  std::uint32_t wait_result = 0;
  std::optional<std::uint32_t> exit_code = 0;
  std::deque<std::optional<ProcessMarker>> marker_reads;
  std::optional<AntivirusHit> hit;
  bool executable_exists = true;
  std::vector<std::string> suspects = {"setup.exe:10"};
  bool lose_events = false;

  Log log;
  std::vector<Json> events;
  std::vector<std::string> clock_texts;

  std::expected<std::unique_ptr<WatchedProcess>, io::OsError> open_process(std::uint32_t pid) override {
    log.push_back("open " + std::to_string(pid));
    if (open_error) return std::unexpected(*open_error);
    return std::make_unique<FakeProcess>(log, wait_result, exit_code);
  }
  std::uint32_t own_pid() override { return kOwnPid; }
  io::OsError invalid_parameter_error() override { return io::OsError{87}; }
  WallClockTime now() override {
    log.push_back("now");
    const WallClockTime t = WallClockTime(std::chrono::sys_days(std::chrono::year(2026) / 1 / 31)) +
                            std::chrono::seconds(clock_texts.size()) + std::chrono::microseconds(999'900);
    clock_texts.push_back(timestamp_text(t));
    return t;
  }
  std::string os_error_text(io::OsError error) override {
    const std::string code = std::to_string(error.code);
    log.push_back("os_error_text " + code);
    return "text of error " + code;
  }
  std::optional<ProcessMarker> read_marker() override {
    log.push_back("read_marker");
    if (marker_reads.empty()) return std::nullopt;
    auto m = std::move(marker_reads.front());
    marker_reads.pop_front();
    return m;
  }
  void append_event(const text::JsonValue& event) override {
    const auto line = event_line(event);
    const Json parsed = Json::parse(line);
    log.push_back("append " + parsed["event"].get<std::string>());
    if (!lose_events) events.push_back(parsed);
  }
  std::optional<AntivirusHit> query_antivirus(std::string_view executable) override {
    log.push_back("query " + std::string(executable));
    return hit;
  }
  std::string classify(std::uint32_t code, const std::optional<ExitSummary>& summary) override {
    std::string label = "code=" + std::to_string(code);
    if (!summary) {
      label += " no-summary";
    } else {
      label += std::string(" expected=") + (summary->expected_exit ? "[" + std::string(*summary->expected_exit) + "]" : "-") +
               " requested=" + std::to_string(summary->exit_requested_event_seen) +
               " clean=" + std::to_string(summary->clean_exit) + " av=" + std::to_string(summary->antivirus_hit);
    }
    log.push_back("classify " + label);
    return label;
  }
  bool is_regular_file(std::string_view executable) override {
    log.push_back("is_regular_file " + std::string(executable));
    return executable_exists;
  }
  std::vector<std::string> snapshot_suspects(std::uint32_t own) override {
    log.push_back("suspects " + std::to_string(own));
    return suspects;
  }
  void remove_marker() override { log.push_back("remove_marker"); }

  void run(std::uint32_t pid = kWatchedPid) { watch_process_exit(*this, pid, kSession); }
};

ProcessMarker marker_of(std::string session, std::string task = "task") {
  ProcessMarker m;
  m.session_id = std::move(session);
  m.pid = 1;
  m.executable = "C:\\Apps\\Zorvia.exe";
  m.active_tasks = {std::move(task)};
  return m;
}

// A run in which no read gives a marker: also the run of a command line without a marker
// path, whose world never has one to give.
const Log kNoMarkerRun = {
    "open 4242", "read_marker", "now", "append watchdog_ready", "wait", "exit_code", "close",
    "read_marker", "now", "classify code=0 no-summary", "suspects 77", "append process_exit_observed",
};

TEST(WatchdogRun, WithoutMarker) {
  FakeWorld world;
  world.run();
  EXPECT_EQ(world.log, kNoMarkerRun);
  ASSERT_EQ(world.events.size(), 2u);
  EXPECT_EQ(world.events[0],
            Json::parse(R"({"at":"2026-01-31T00:00:00.999Z","event":"watchdog_ready","marker_seen":false,
                            "pid":4242,"session_id":"session-1","watchdog_pid":77})"));
  EXPECT_EQ(world.events[1],
            Json::parse(R"({"active_tasks":[],"antivirus":null,"at":"2026-01-31T00:00:01.999Z",
                            "classification":"code=0 no-summary","clean_exit":null,"event":"process_exit_observed",
                            "executable_present":null,"exit_code":0,"exit_code_hex":"0x00000000",
                            "exit_code_signed":0,"expected_exit":null,"expected_exit_detail":null,
                            "marker_source":"missing","pid":4242,"session_id":"session-1",
                            "suspects":["setup.exe:10"],"wait_result":0})"));
}

TEST(WatchdogRun, MarkerOfAnotherSessionRunsLikeNoMarker) {
  FakeWorld without;
  without.run();
  FakeWorld world;
  world.marker_reads = {marker_of("other", "before"), marker_of("other", "after")};
  world.run();
  EXPECT_EQ(world.log, kNoMarkerRun);
  EXPECT_EQ(world.events, without.events);
}

TEST(WatchdogRun, MarkerBeforeAndAfterIsTakenAtExitAndDeletedAfterTheEvent) {
  for (const bool lose_events : {false, true}) {
    SCOPED_TRACE(lose_events ? "events file not writable" : "events written");
    FakeWorld world;
    world.lose_events = lose_events;
    world.exit_code = 0xC0000005u;
    world.marker_reads = {marker_of("session-1", "before"), marker_of("session-1", "after")};
    world.run();
    const Log expected = {
        "open 4242",
        "read_marker",
        "now",
        "append watchdog_ready",
        "wait",
        "exit_code",
        "close",
        "read_marker",
        "query C:\\Apps\\Zorvia.exe",
        "now",
        "classify code=3221225477 expected=- requested=0 clean=0 av=0",
        "is_regular_file C:\\Apps\\Zorvia.exe",
        "suspects 77",
        "append process_exit_observed",
        "remove_marker",
    };
    EXPECT_EQ(world.log, expected);
    if (lose_events) continue;
    ASSERT_EQ(world.events.size(), 2u);
    EXPECT_EQ(world.events[0]["marker_seen"], true);
    const Json& exit = world.events[1];
    EXPECT_EQ(exit["marker_source"], "at_exit");
    EXPECT_EQ(exit["active_tasks"], Json::parse(R"(["after"])"));
    EXPECT_EQ(exit["clean_exit"], false);
    EXPECT_EQ(exit["executable_present"], true);
    EXPECT_EQ(exit["antivirus"], nullptr);
    // The exit event's time is the reading taken after the query, not the ready event's.
    EXPECT_EQ(world.events[0]["at"], world.clock_texts[0]);
    EXPECT_EQ(exit["at"], world.clock_texts[1]);
  }
}

TEST(WatchdogRun, PreWaitCopyWhenTheAtExitReadDoesNotCount) {
  ProcessMarker later_other = marker_of("other", "after");
  const std::optional<ProcessMarker> second_reads[] = {std::nullopt, later_other};
  for (const auto& second : second_reads) {
    SCOPED_TRACE(second ? "other session after the exit" : "gone after the exit");
    FakeWorld world;
    world.executable_exists = false;
    world.marker_reads = {marker_of("session-1", "before"), second};
    world.run();
    ASSERT_EQ(world.events.size(), 2u);
    EXPECT_EQ(world.events[0]["marker_seen"], true);
    EXPECT_EQ(world.events[1]["marker_source"], "pre_wait");
    EXPECT_EQ(world.events[1]["active_tasks"], Json::parse(R"(["before"])"));
    EXPECT_EQ(world.events[1]["executable_present"], false);
    EXPECT_EQ(world.log.back(), "append process_exit_observed");  // nothing removed
  }
}

TEST(WatchdogRun, AtExitCopyWithoutPreWaitCopy) {
  FakeWorld world;
  world.marker_reads = {std::nullopt, marker_of("session-1", "after")};
  world.run();
  ASSERT_EQ(world.events.size(), 2u);
  EXPECT_EQ(world.events[0]["marker_seen"], false);
  EXPECT_EQ(world.events[1]["marker_source"], "at_exit");
  EXPECT_EQ(world.log.back(), "remove_marker");
}

TEST(WatchdogRun, SessionIdMustMatchExactlyButMarkerPidDoesNotMatter) {
  struct Case {
    std::string_view session;
    bool counts;
  };
  static constexpr Case kCases[] = {
      {"session-1", true}, {"Session-1", false}, {"SESSION-1", false}, {" session-1", false},
      {"session-1 ", false}, {"session-1\n", false}, {"", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.session));
    FakeWorld world;
    ProcessMarker m = marker_of(std::string(c.session));
    m.pid = kWatchedPid + 1;
    world.marker_reads = {m, m};
    world.run();
    ASSERT_EQ(world.events.size(), 2u);
    EXPECT_EQ(world.events[0]["marker_seen"], c.counts);
    EXPECT_EQ(world.events[1]["marker_source"], c.counts ? "at_exit" : "missing");
  }
}

TEST(WatchdogRun, DefenderQueryOnlyWithoutExpectedExitAndCleanExit) {
  struct Case {
    const char* name;
    std::optional<std::string> expected_exit;
    bool clean_exit;
    bool requested;
    bool queried;
    const char* summary;
  };
  const Case cases[] = {
      {"nothing recorded", std::nullopt, false, false, true, "expected=- requested=0 clean=0 av=1"},
      {"exit requested", std::nullopt, false, true, true, "expected=- requested=1 clean=0 av=1"},
      {"expected exit", "update", false, false, false, "expected=[update] requested=0 clean=0 av=0"},
      {"empty expected exit", "", false, false, false, "expected=[] requested=0 clean=0 av=0"},
      {"clean exit", std::nullopt, true, false, false, "expected=- requested=0 clean=1 av=0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWorld world;
    world.exit_code = 3;
    world.hit = AntivirusHit{"Trojan:Win32/X", std::nullopt, "C:\\Apps\\Zorvia.exe"};
    ProcessMarker m = marker_of("session-1");
    m.expected_exit = c.expected_exit;
    m.clean_exit = c.clean_exit;
    m.exit_requested_event_seen = c.requested;
    world.marker_reads = {std::nullopt, m};
    world.run();
    const bool queried = std::find(world.log.begin(), world.log.end(), "query C:\\Apps\\Zorvia.exe") != world.log.end();
    EXPECT_EQ(queried, c.queried);
    ASSERT_EQ(world.events.size(), 2u);
    const Json& exit = world.events[1];
    EXPECT_EQ(exit["classification"], std::string("code=3 ") + c.summary);
    EXPECT_EQ(exit["expected_exit"], c.expected_exit ? Json(*c.expected_exit) : Json(nullptr));
    EXPECT_EQ(exit["clean_exit"], c.clean_exit);
    if (c.queried) {
      EXPECT_EQ(exit["antivirus"],
                Json::parse(R"({"action":null,"path":"C:\\Apps\\Zorvia.exe","threat":"Trojan:Win32/X"})"));
    } else {
      EXPECT_EQ(exit["antivirus"], nullptr);
    }
  }
}

TEST(WatchdogRun, FailedOpenWritesOneEventAndTouchesNothingElse) {
  struct Case {
    const char* name;
    std::uint32_t pid;
    std::optional<io::OsError> open_error;
    Log log;
    std::string_view os_error;
  };
  const Case cases[] = {
      {"no such process", 0, io::OsError{87}, {"open 0", "now", "os_error_text 87", "append watchdog_open_failed"},
       "text of error 87"},
      {"access denied", kWatchedPid, io::OsError{5},
       {"open 4242", "now", "os_error_text 5", "append watchdog_open_failed"}, "text of error 5"},
      // Watching ourselves would never end: refused as an invalid parameter, without opening.
      {"own pid", kOwnPid, std::nullopt, {"now", "os_error_text 87", "append watchdog_open_failed"},
       "text of error 87"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWorld world;
    world.open_error = c.open_error;
    world.marker_reads = {marker_of("session-1"), marker_of("session-1")};
    world.run(c.pid);
    EXPECT_EQ(world.log, c.log);
    ASSERT_EQ(world.events.size(), 1u);
    EXPECT_EQ(world.events[0], Json({{"at", world.clock_texts[0]},
                                     {"event", "watchdog_open_failed"},
                                     {"os_error", c.os_error},
                                     {"pid", c.pid},
                                     {"session_id", "session-1"}}));
  }
}

TEST(WatchdogRun, ExitCodeNotReadGivesNullsButTheRestRuns) {
  struct Case {
    const char* name;
    std::uint32_t wait_result;
    std::optional<std::uint32_t> exit_code;
    bool exit_code_called;
  };
  const Case cases[] = {
      {"failed wait", 0xFFFFFFFFu, 0, false},
      {"abandoned wait", 0x80u, 0, false},
      {"failed exit code", 0, std::nullopt, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWorld world;
    world.wait_result = c.wait_result;
    world.exit_code = c.exit_code;
    world.marker_reads = {marker_of("session-1"), marker_of("session-1")};
    world.run();
    Log expected = {"open 4242", "read_marker", "now", "append watchdog_ready", "wait"};
    if (c.exit_code_called) expected.push_back("exit_code");
    for (const char* step : {"close", "read_marker", "query C:\\Apps\\Zorvia.exe", "now",
                             "is_regular_file C:\\Apps\\Zorvia.exe", "suspects 77",
                             "append process_exit_observed", "remove_marker"})
      expected.push_back(step);
    EXPECT_EQ(world.log, expected);
    ASSERT_EQ(world.events.size(), 2u);
    const Json& exit = world.events[1];
    EXPECT_EQ(exit["wait_result"], c.wait_result);
    for (const char* key : {"exit_code", "exit_code_hex", "exit_code_signed", "classification"})
      EXPECT_EQ(exit[key], nullptr) << key;
    EXPECT_EQ(exit["marker_source"], "at_exit");
  }
}

TEST(WatchdogRun, ExitCode259IsAnOrdinaryCode) {
  FakeWorld world;
  world.exit_code = 259;
  world.run();
  ASSERT_EQ(world.events.size(), 2u);
  EXPECT_EQ(world.events[1]["exit_code"], 259);
  EXPECT_EQ(world.events[1]["exit_code_hex"], "0x00000103");
  EXPECT_EQ(world.events[1]["classification"], "code=259 no-summary");
}

}  // namespace
}  // namespace zorvia::lifecycle
