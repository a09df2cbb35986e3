// The relay end to end: the built host between a test standing for the browser and the
// stand-in application.

#include <gtest/gtest.h>

#include <chrono>

#include "support/child_process.h"
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
  Child host(sibling_program("zorvia-host"), {});
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
  Child host(sibling_program("zorvia-host"), {});
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
    Child host(sibling_program("zorvia-host"), {});  // standard input stays open, and silent
    EXPECT_EQ(host.wait(kEnds), 0u);
    host.join_output();
    EXPECT_EQ(frames_of(host), c.frames);
    EXPECT_EQ(host.errors(), "");
  }
}

TEST(HostRelay, ClosingStandardInputEndsTheHostWhileTheApplicationWrites) {
  StandInApp app({"flood", "0", "100"});  // writes without end
  ASSERT_TRUE(app.ready());
  Child host(sibling_program("zorvia-host"), {});
  ASSERT_TRUE(host.wait_for_output(100'000, kEnds));
  host.close_stdin();
  EXPECT_EQ(host.wait(kEnds), 0u);
  host.join_output();
  const auto frames = split_frames(host.output());
  ASSERT_TRUE(frames.has_value()) << "a frame was torn at the end";
  for (const auto& f : *frames) ASSERT_EQ(f, std::string(100, 'x'));
  EXPECT_EQ(host.errors(), "");
}

}  // namespace
}  // namespace zorvia
