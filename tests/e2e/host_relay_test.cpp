// The relay end to end: the built host between a test standing for the browser and the
// stand-in application.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/child_process.h"
#include "support/host_program.h"
#include "support/stand_in.h"

namespace zorvia {
namespace {

using namespace std::chrono_literals;
using testing::Child;
using testing::frame;
using testing::sibling_program;
using testing::split_frames;
using testing::StandInApp;

// Generous: "at once" here means without waiting for more input, not within a time.
constexpr auto kEnds = 30s;

std::vector<std::string> frames_of(Child& host) {
  return split_frames(host.output()).value_or(std::vector<std::string>{"(not whole frames)"});
}

TEST(HostRelay, RoundTripInBothDirections) {
  StandInApp app({"echo"});
  ASSERT_TRUE(app.ready());
  Child host(testing::host_program(), {});
  const std::string big(1'048'576, 'q');
  const std::vector<std::string> bodies = {"{\"id\":1}", "{\"text\":\"Привет\"}", "  {}  ", big};
  std::string input;
  std::size_t expected_size = 0;
  for (const auto& b : bodies) {
    input += frame(b);
    expected_size += 4 + b.size();
  }
  ASSERT_TRUE(host.write_stdin(input));
  ASSERT_TRUE(host.wait_for_output(expected_size, kEnds));
  host.close_stdin();
  EXPECT_EQ(host.wait(kEnds), 0u);
  host.join_output();
  EXPECT_EQ(frames_of(host), bodies);
  EXPECT_EQ(host.errors(), "");
  EXPECT_TRUE(app.wait_for("closed " + std::to_string(input.size() - 4 * bodies.size() + bodies.size()) + " 4\n"));
}

TEST(HostRelay, FramesSentDuringTheBusyRetryArriveInOrder) {
  StandInApp app({"busy-then-echo", "400"});
  ASSERT_TRUE(app.ready());
  Child host(testing::host_program(), {});
  std::vector<std::string> bodies;
  for (int i = 0; i < 5; ++i) {
    bodies.push_back("{\"n\":" + std::to_string(i) + "}");
    ASSERT_TRUE(host.write_stdin(frame(bodies.back())));
  }
  ASSERT_TRUE(host.wait_for_output(5 * (4 + 7), kEnds));
  host.close_stdin();
  EXPECT_EQ(host.wait(kEnds), 0u);
  host.join_output();
  EXPECT_EQ(frames_of(host), bodies);
  EXPECT_EQ(host.errors(), "");
}

TEST(HostRelay, ApplicationClosingThePipeEndsTheHostWithoutMoreInput) {
  struct Case {
    std::vector<std::string> app;
    std::vector<std::string> frames;
  };
  const Case cases[] = {
      {{"accept-and-close"}, {}},
      {{"flood", "3", "10"}, {std::string(10, 'x'), std::string(10, 'x'), std::string(10, 'x')}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.app.front());
    StandInApp app(c.app);
    ASSERT_TRUE(app.ready());
    Child host(testing::host_program(), {});  // standard input stays open, and silent
    EXPECT_EQ(host.wait(kEnds), 0u);
    host.join_output();
    EXPECT_EQ(frames_of(host), c.frames);
    EXPECT_EQ(host.errors(), "");
  }
}

TEST(HostRelay, ClosingStandardInputEndsTheHostWhileTheApplicationWrites) {
  StandInApp app({"flood", "0", "100"});  // writes without end
  ASSERT_TRUE(app.ready());
  Child host(testing::host_program(), {});
  ASSERT_TRUE(host.wait_for_output(100'000, kEnds));
  host.close_stdin();
  EXPECT_EQ(host.wait(kEnds), 0u);
  host.join_output();
  const auto frames = split_frames(host.output());
  ASSERT_TRUE(frames.has_value()) << "a frame was torn at the end";
  for (const auto& f : *frames) ASSERT_EQ(f, std::string(100, 'x'));
  EXPECT_EQ(host.errors(), "");
}

// A server that ends its connection once everything it wrote was read: whether it closes or,
// as a multi-instance server does, disconnects first, its final line without "\n" (already
// read by the host) still goes to the browser.
TEST(HostRelay, FinalLineArrivesHoweverTheApplicationEndsTheConnection) {
  for (const char* how : {"close", "disconnect"}) {
    SCOPED_TRACE(how);
    StandInApp app({"write", "{\"a\":1}\n{\"final\":true}", "--finish", how});
    ASSERT_TRUE(app.ready());
    Child host(testing::host_program(), {});  // standard input stays open, and silent
    EXPECT_EQ(host.wait(kEnds), 0u);
    host.join_output();
    EXPECT_EQ(frames_of(host), (std::vector<std::string>{"{\"a\":1}", "{\"final\":true}"}));
    EXPECT_EQ(host.errors(), "");
  }
}

// Started without standard input or output, the host must not take the bridge connection
// for it: missing input is its end, missing output fails, and either ends the relay. Only
// descriptor numbers are handed out again, lowest first; a Windows standard handle is not.
TEST(HostRelay, MissingStandardStreamIsNeverTheBridgeConnection) {
#ifdef _WIN32
  GTEST_SKIP() << "a missing standard handle is never reused on Windows";
#endif
  struct Case {
    const char* name;
    bool stdin_missing;
    bool stdout_missing;
    const char* app_received;
  };
  constexpr Case kCases[] = {
      {"no standard input", true, false, "closed 0 0\n"},
      {"no standard output", false, true, "closed 8 1\n"},  // the one line, never its echo
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    StandInApp app({"echo"});
    ASSERT_TRUE(app.ready());
    testing::ChildOptions options;
    options.stdin_missing = c.stdin_missing;
    options.stdout_missing = c.stdout_missing;
    Child host(testing::host_program(), {}, options);
    if (!c.stdin_missing) {
      ASSERT_TRUE(host.write_stdin(frame("{\"a\":1}")));
    }
    EXPECT_EQ(host.wait(kEnds), 0u);
    EXPECT_TRUE(app.wait_for(c.app_received, kEnds)) << app.report();
    host.join_output();
    EXPECT_EQ(host.output(), "");
    EXPECT_EQ(host.errors(), "");
  }
}

// The browser stops reading while the application writes fast, then closes standard input.
// The application learns at once that the host is gone, though a frame's write is stuck; once
// the browser reads again, that frame goes out whole and no frame after it.
TEST(HostRelay, EndWhileTheBrowserIsNotReading) {
  constexpr std::size_t kCapacity = 64 * 1024;
  constexpr std::size_t kFrame = 4 + 100;
  StandInApp app({"flood", "0", "100"});  // writes until the client goes
  ASSERT_TRUE(app.ready());
  testing::ChildOptions options;
  options.stdout_held = true;
  options.stdout_capacity = kCapacity;
  Child host(testing::host_program(), {}, options);
  ASSERT_TRUE(app.wait_for("accepted\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // let standard output fill up
  host.close_stdin();
  EXPECT_TRUE(app.wait_for("closed ", kEnds)) << "the pipe stayed open while the write was stuck";
  EXPECT_FALSE(host.wait(std::chrono::milliseconds(0))) << "the stuck frame is finished first";
  host.release_output();
  EXPECT_EQ(host.wait(kEnds), 0u);
  host.join_output();
  const auto frames = split_frames(host.output());
  ASSERT_TRUE(frames.has_value()) << "a frame was torn at the end";
  // What the pipe held, and the one frame whose write was in progress.
  EXPECT_LE(frames->size(), kCapacity / kFrame + 1);
  for (const auto& f : *frames) ASSERT_EQ(f, std::string(100, 'x'));
  EXPECT_EQ(host.errors(), "");
}

}  // namespace
}  // namespace zorvia
