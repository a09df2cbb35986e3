// The host's start-up end to end: the built host against the stand-in application serving
// the current user's bridge endpoint.

#include <gtest/gtest.h>

#include <chrono>

#include "host/bridge_name.h"
#include "host/run_host.h"
#include "platform/os_error.h"
#include "platform/user_identity.h"
#include "support/child_process.h"
#include "support/host_program.h"
#include "support/pipe_codes.h"
#include "support/stand_in.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#endif

namespace zorvia {
namespace {

using testing::Child;
using testing::run_child;
using testing::sibling_program;
using testing::split_frames;
using testing::StandInApp;

using testing::kBusy;
using testing::kMissing;

std::string event(std::string_view text) {
  return "{\"error\":\"" + std::string(text) + "\",\"event\":\"host_error\"}";
}

std::string not_running(std::int32_t code) {
  return event(std::string(host::kNotRunningTextBefore) + platform::os_error_text(code) +
               std::string(host::kNotRunningTextAfter));
}

TEST(HostStartup, WatchExitSwitchOpensNothingAndWritesNothing) {
  StandInApp app({"echo"});
  ASSERT_TRUE(app.ready());
  const auto result = run_child(testing::host_program(), {"--zorvia-watch-exit"}, testing::frame("{}"));
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(app.report(), "listening\n") << "the pipe was opened";
}

TEST(HostStartup, NoApplicationGivesOneEventWithTheSystemsMessage) {
  const auto result = run_child(testing::host_program(), {}, testing::frame("{}"));
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(split_frames(result.out), std::vector<std::string>{not_running(kMissing)});
}

TEST(HostStartup, PipeBusyOnEveryOpenGivesUpAfterTheRetries) {
  StandInApp app({"busy"});
  ASSERT_TRUE(app.ready());
  const auto started = std::chrono::steady_clock::now();
  const auto result = run_child(testing::host_program(), {});
  const auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(split_frames(result.out), std::vector<std::string>{not_running(kBusy)});
  EXPECT_GE(elapsed, std::chrono::milliseconds(20 * 50)) << "twenty waits of 50 ms";
}

TEST(HostStartup, PipeBusyForAWhileThenConnects) {
  StandInApp app({"busy-then-echo", "300"});
  ASSERT_TRUE(app.ready());
  Child host(testing::host_program(), {});
  ASSERT_TRUE(host.write_stdin(testing::frame("{\"n\":1}")));
  ASSERT_TRUE(host.wait_for_output(4 + 7, std::chrono::seconds(30)));
  host.close_stdin();
  EXPECT_EQ(host.wait(std::chrono::seconds(30)), 0u);
  host.join_output();
  EXPECT_EQ(split_frames(host.output()), std::vector<std::string>{"{\"n\":1}"}) << "connected, and no event";
  EXPECT_EQ(host.errors(), "");
}

#ifndef _WIN32
std::string own_pipe_name() {
  return host::bridge_pipe_name_for(host::build_flavour(), platform::current_user_sid().value());
}

// Wine has a single user; there the decision is shown with chosen users (user_identity_test).
TEST(HostStartup, PipeServedByAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the application as another user";
  // The abstract socket has no owner or mode: another uid can serve our name.
  StandInApp app({"--reuid=65534", "--regid=65534", "--clear-groups", sibling_program("stand_in_app"), "echo",
                  "--pipe", own_pipe_name()},
                 "/usr/bin/setpriv");
  ASSERT_TRUE(app.ready());
  Child host(testing::host_program(), {});
  ASSERT_TRUE(host.write_stdin(testing::frame("{\"secret\":1}")));
  EXPECT_EQ(host.wait(std::chrono::seconds(30)), 0u) << "ends without standard input closing";
  host.join_output();
  EXPECT_EQ(split_frames(host.output()), std::vector<std::string>{event(host::kForeignServerText)});
  EXPECT_EQ(host.errors(), "");
  EXPECT_TRUE(app.wait_for("accepted\nclosed 0 0\n")) << "nothing was written to the pipe";
}
#endif

}  // namespace
}  // namespace zorvia
