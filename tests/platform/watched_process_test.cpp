// Watching a real process of ours end: the wait, the exit code, and the failed open.

#include "platform/watched_process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "platform/clock.h"
#include "support/child_process.h"

namespace zorvia::platform {
namespace {

using namespace std::chrono_literals;
using testing::Child;
using testing::sibling_program;

TEST(WatchedProcess, ExitCodeIsReadAfterTheWait) {
  std::vector<std::uint32_t> codes = {0, 3, 101, 255};
#ifdef _WIN32
  codes.insert(codes.end(), {259, 0xC0000005u, 0xC0000409u, 0xFFFFFFFFu});
#endif
  for (const std::uint32_t code : codes) {
    SCOPED_TRACE(code);
    Child watched(sibling_program("watched_program"), {"wait-stdin", "exit", std::to_string(code)});
    ASSERT_TRUE(watched.started());
    auto handle = WatchedProcessHandle::open(watched.pid());
    ASSERT_TRUE(handle.has_value());
    watched.close_stdin();
    EXPECT_EQ(handle->wait(), 0u);
    EXPECT_EQ(handle->exit_code(), code);
    handle->close();
    EXPECT_EQ(watched.wait(10s), code);
  }
}

TEST(WatchedProcess, AlreadyEndedProcessWaitsNotAtAll) {
  Child watched(sibling_program("watched_program"), {"exit", "7"});
  ASSERT_TRUE(watched.started());
  // Neither reaped (Linux) nor released (Windows: the runner keeps its handle).
  std::this_thread::sleep_for(300ms);
  auto handle = WatchedProcessHandle::open(watched.pid());
  ASSERT_TRUE(handle.has_value());
  EXPECT_EQ(handle->wait(), 0u);
  EXPECT_EQ(handle->exit_code(), 7u);
}

#ifndef _WIN32
TEST(WatchedProcess, SignalledOrReapedProcessHasNoExitCode) {
  {
    Child watched(sibling_program("watched_program"), {"wait-stdin", "kill-self"});
    auto handle = WatchedProcessHandle::open(watched.pid());
    ASSERT_TRUE(handle.has_value());
    watched.close_stdin();
    EXPECT_EQ(handle->wait(), 0u);
    EXPECT_EQ(handle->exit_code(), std::nullopt);
  }
  {
    Child watched(sibling_program("watched_program"), {"wait-stdin", "exit", "4"});
    auto handle = WatchedProcessHandle::open(watched.pid());
    ASSERT_TRUE(handle.has_value());
    watched.close_stdin();
    EXPECT_EQ(handle->wait(), 0u);
    EXPECT_EQ(watched.wait(10s), 4u);  // reaped by its parent before the watchdog reads
    EXPECT_EQ(handle->exit_code(), std::nullopt);
  }
}
#endif

TEST(WatchedProcess, OpenFailsWithTheSystemsCode) {
  // The system refuses id 0 as an invalid parameter: the same error the watchdog gives for
  // its own id, which it refuses without an open.
  const auto zero = WatchedProcessHandle::open(0);
  ASSERT_FALSE(zero.has_value());
  EXPECT_EQ(zero.error(), invalid_parameter_error());
#ifndef _WIN32
  const auto unused = WatchedProcessHandle::open(0x7FFFFFF0u);
  ASSERT_FALSE(unused.has_value());
  EXPECT_EQ(unused.error().code, ESRCH);
#endif
}

TEST(WatchedProcess, ClockIsTheSystemsRealTime) {
  const auto ours = precise_system_time();
  const auto library = std::chrono::system_clock::now();
  EXPECT_LT(std::chrono::abs(library - ours), 5s);
}

}  // namespace
}  // namespace zorvia::platform
