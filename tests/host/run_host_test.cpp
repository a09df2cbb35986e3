#include "host/run_host.h"

#include <gtest/gtest.h>

#include <deque>

#include "host/bridge_name.h"
#include "support/child_process.h"
#include "support/memory_streams.h"
#include "thread_runtime.h"

namespace zorvia::host {
namespace {

using testing::MemorySink;
using testing::MemorySource;

// A pipe whose server check, shutting down and closing are recorded in the world's log.
class FakePipe final : public PipeClient {
 public:
  FakePipe(std::vector<std::string>& log, bool same_user, std::string from_app, MemorySink& to_app)
      : log_(log), same_user_(same_user), from_app_(std::move(from_app)), to_app_(to_app) {}
  ~FakePipe() override { log_.push_back("pipe closed"); }
  io::ByteSource& read_half() override { return from_app_; }
  io::ByteSink& write_half() override { return to_app_; }
  void shut_down() override { log_.push_back("pipe shut down"); }
  bool server_is_same_user() override {
    log_.push_back("check user");
    return same_user_;
  }

 private:
  std::vector<std::string>& log_;
  bool same_user_;
  MemorySource from_app_;
  MemorySink& to_app_;
};

// One open's answer: a system error (busy or not), or else a pipe.
struct Answer {
  std::optional<std::int32_t> code;
  bool busy = false;
};

class FakeWorld final : public HostWorld {
 public:
  std::optional<std::int32_t> runtime_error;
  std::optional<std::string> sid = "S-1-5-21-7-8-9-1001";
  std::deque<Answer> answers;  // when empty, the open succeeds
  bool same_user = true;
  std::string from_app;
  std::string browser_input_data;
  std::unique_ptr<testing::BlockingSource> browser_input;  // made when the host asks for it
  MemorySink browser_output;

  std::vector<std::string> log;
  std::vector<std::string> opened_names;
  std::vector<std::chrono::milliseconds> sleeps;
  MemorySink to_app;

  std::expected<std::unique_ptr<Runtime>, io::OsError> build_runtime() override {
    log.push_back("build runtime");
    if (runtime_error) return std::unexpected(io::OsError{*runtime_error});
    return std::make_unique<ThreadRuntime>();
  }
  std::optional<std::string> current_user_sid() override {
    log.push_back("sid");
    return sid;
  }
  std::expected<std::unique_ptr<PipeClient>, PipeOpenError> open_pipe(std::string_view name) override {
    log.push_back("open");
    opened_names.emplace_back(name);
    if (!answers.empty()) {
      const Answer a = answers.front();
      if (answers.size() > 1) answers.pop_front();  // the last answer repeats
      if (a.code) return std::unexpected(PipeOpenError{io::OsError{*a.code}, a.busy});
    }
    return std::make_unique<FakePipe>(log, same_user, from_app, to_app);
  }
  void sleep(std::chrono::milliseconds d) override {
    log.push_back("sleep");
    sleeps.push_back(d);
  }
  std::string os_error_text(io::OsError error) override {
    return "message " + std::to_string(error.code) + " (os error " + std::to_string(error.code) + ")";
  }
  // Open until the relay has ended, as a browser keeps it.
  io::ByteSource& standard_input() override {
    if (!browser_input) browser_input = std::make_unique<testing::BlockingSource>(browser_input_data);
    return *browser_input;
  }
  io::SharedOutput& standard_output() override { return shared_; }
  void relay_ended() override {
    log.push_back("relay ended");
    if (browser_input) browser_input->release();  // the real host would end the process here
  }

  // The host error texts written, in order; the frames must be whole.
  std::vector<std::string> events() {
    std::vector<std::string> texts;
    const auto frames = testing::split_frames(browser_output.data());
    EXPECT_TRUE(frames.has_value());
    for (const auto& f : frames.value_or(std::vector<std::string>{})) {
      const std::string before = "{\"error\":\"", after = "\",\"event\":\"host_error\"}";
      if (f.starts_with(before) && f.ends_with(after))
        texts.push_back(f.substr(before.size(), f.size() - before.size() - after.size()));
      else
        texts.push_back("not an event: " + f);
    }
    return texts;
  }

 private:
  io::SharedOutput shared_{browser_output};
};

std::string not_running(std::string_view inner) {
  return std::string(kNotRunningTextBefore) + std::string(inner) + std::string(kNotRunningTextAfter);
}

TEST(HostMain, RuntimeFailureIsOneEventAndNoOpen) {
  FakeWorld world;
  world.runtime_error = 8;
  host_main(world);
  EXPECT_EQ(world.events(), std::vector<std::string>{"Хост не запустился: message 8 (os error 8)"});
  EXPECT_EQ(world.log, std::vector<std::string>{"build runtime"});
}

TEST(HostMain, UnknownUserIsOneEventAndNoOpen) {
  FakeWorld world;
  world.sid.reset();
  host_main(world);
  EXPECT_EQ(world.events(), std::vector<std::string>{std::string(kUserUnknownText)});
  EXPECT_EQ(world.log, (std::vector<std::string>{"build runtime", "sid"}));
}

TEST(HostMain, ConnectFailuresAndTheBusyRetry) {
  struct Case {
    std::string name;
    std::vector<Answer> answers;
    std::size_t opens;
    std::optional<std::string> event;  // nothing: connected and relayed
  };
  const Answer busy{231, true};
  const std::vector<Case> cases = {
      {"no application", {{2, false}}, 1, not_running("message 2 (os error 2)")},
      {"access denied", {{5, false}}, 1, not_running("message 5 (os error 5)")},
      {"busy without the busy mark is not retried", {{231, false}}, 1, not_running("message 231 (os error 231)")},
      {"busy every time", {busy}, 21, not_running("message 231 (os error 231)")},
      {"busy once", {busy, {}}, 2, std::nullopt},
      {"busy twenty times", std::vector<Answer>(20, busy), 21, std::nullopt},
      {"busy, then missing", {busy, busy, {2, false}}, 3, not_running("message 2 (os error 2)")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWorld world;
    world.answers.assign(c.answers.begin(), c.answers.end());
    if (!c.event) world.answers.push_back({});  // connected after the busy answers
    host_main(world);
    EXPECT_EQ(world.opened_names.size(), c.opens);
    EXPECT_EQ(world.sleeps, std::vector<std::chrono::milliseconds>(c.opens - 1, std::chrono::milliseconds(50)));
    for (const auto& n : world.opened_names)
      EXPECT_EQ(n, bridge_pipe_name_for(build_flavour(), "S-1-5-21-7-8-9-1001"));
    if (c.event) {
      EXPECT_EQ(world.events(), std::vector<std::string>{*c.event});
      EXPECT_EQ(std::count(world.log.begin(), world.log.end(), "check user"), 0);
    } else {
      EXPECT_EQ(world.events(), std::vector<std::string>{});
      EXPECT_EQ(world.log.back(), "pipe closed") << "connected, relayed, closed";
    }
  }
}

TEST(HostMain, ForeignServerIsRefusedBeforeAnythingMoves) {
  FakeWorld world;
  world.same_user = false;
  world.browser_input_data = testing::frame("{\"never\":1}");
  world.from_app = "{\"never\":2}\n";
  host_main(world);
  EXPECT_EQ(world.events(), std::vector<std::string>{std::string(kForeignServerText)});
  // The event is written while the pipe is still open, and the pipe closes right after.
  EXPECT_EQ(world.log, (std::vector<std::string>{"build runtime", "sid", "open", "check user", "pipe closed"}));
  EXPECT_TRUE(!world.browser_input || world.browser_input->consumed() == 0) << "standard input is never read";
}

TEST(HostMain, ConnectedHostRelaysBothWaysSilently) {
  FakeWorld world;
  world.browser_input_data = testing::frame("{\"to\":\"app\"}");
  world.from_app = "{\"to\":\"browser\"}\r\n";
  host_main(world);
  // The application's side ends first; the relay's end comes once, silently, after the pipe
  // was shut down.
  EXPECT_EQ(world.to_app.data(), "{\"to\":\"app\"}\n");
  EXPECT_EQ(world.browser_output.data(), testing::frame("{\"to\":\"browser\"}"));
  EXPECT_EQ(world.log, (std::vector<std::string>{"build runtime", "sid", "open", "check user", "pipe shut down",
                                                 "relay ended", "pipe closed"}));
}

}  // namespace
}  // namespace zorvia::host
