// The pipe client against the stand-in application, on a pipe name of this test's own (so
// that it never meets the per-user bridge endpoint of the end-to-end tests).

#include "support/pipe_codes.h"
#include "platform/bridge_pipe.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "host/bridge_name.h"
#include "support/stand_in.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace zorvia::platform {
namespace {

using testing::StandInApp;

std::string private_pipe_name() {
  return std::string(host::kPipeNamespace) + "zorvia-platform-test-" + std::to_string(std::random_device{}());
}

using testing::kBusy;
using testing::kMissing;

TEST(BridgePipe, MissingAndBusyPipes) {
  const std::string name = private_pipe_name();
  const auto missing = open_bridge_pipe(name);
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().code, kMissing);
  EXPECT_FALSE(missing.error().busy);

  StandInApp app({"busy", "--pipe", name});
  ASSERT_TRUE(app.ready());
  const auto busy = open_bridge_pipe(name);
  ASSERT_FALSE(busy.has_value());
  EXPECT_EQ(busy.error().code, kBusy);
  EXPECT_TRUE(busy.error().busy);
}

// A read pending on one thread must not keep a write on another from going out: that is
// what lets both directions of the relay run at once.
TEST(BridgePipe, ReadAndWritePendingAtOnce) {
  const std::string name = private_pipe_name();
  StandInApp app({"echo", "--pipe", name});
  ASSERT_TRUE(app.ready());
  auto pipe = open_bridge_pipe(name);
  ASSERT_TRUE(pipe.has_value()) << pipe.error().code;
  EXPECT_TRUE(pipe_server_is_same_user(**pipe));

  std::string echoed;
  std::thread reader([&] {
    char buffer[64];
    while (echoed.size() < 6) {
      const auto got = (*pipe)->read_half().read_some(buffer);
      if (!got || *got == 0) return;
      echoed.append(buffer, *got);
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the read be pending first
  EXPECT_EQ(io::write_all((*pipe)->write_half(), std::string_view("hello\n")), io::WriteAll::complete);
  reader.join();
  EXPECT_EQ(echoed, "hello\n");

  pipe->reset();  // our end closes: the application sees the end of its client
  EXPECT_TRUE(app.wait_for("closed 6 1\n"));
}

TEST(BridgePipe, ServerClosingIsTheEndOfThePipe) {
  const std::string name = private_pipe_name();
  StandInApp app({"accept-and-close", "--pipe", name});
  ASSERT_TRUE(app.ready());
  auto pipe = open_bridge_pipe(name);
  ASSERT_TRUE(pipe.has_value()) << pipe.error().code;
  char buffer[16];
  const auto got = (*pipe)->read_half().read_some(buffer);
  ASSERT_TRUE(got.has_value()) << got.error().code;
  EXPECT_EQ(*got, 0u);
}

}  // namespace
}  // namespace zorvia::platform
