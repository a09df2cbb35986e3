// The pipe client against the stand-in application, on a pipe name of this test's own (so
// that it never meets the per-user bridge endpoint of the end-to-end tests).

#include "support/pipe_codes.h"
#include "platform/bridge_pipe.h"

#include <gtest/gtest.h>

#include <optional>
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
  EXPECT_EQ(missing.error().error.code, kMissing);
  EXPECT_FALSE(missing.error().busy);

  StandInApp app({"busy", "--pipe", name});
  ASSERT_TRUE(app.ready());
  const auto busy = open_bridge_pipe(name);
  ASSERT_FALSE(busy.has_value());
  EXPECT_EQ(busy.error().error.code, kBusy);
  EXPECT_TRUE(busy.error().busy);
}

// A read pending on one thread must not keep a write on another from going out: that is
// what lets both directions of the relay run at once.
TEST(BridgePipe, ReadAndWritePendingAtOnce) {
  const std::string name = private_pipe_name();
  StandInApp app({"echo", "--pipe", name});
  ASSERT_TRUE(app.ready());
  auto pipe = open_bridge_pipe(name);
  ASSERT_TRUE(pipe.has_value()) << pipe.error().error.code;
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

// However the server ends its connection, once its last bytes are read the pipe reads as
// its end, not as an error.
TEST(BridgePipe, ServerEndingTheConnectionIsTheEndOfThePipe) {
  for (const char* how : {"close", "disconnect"}) {
    SCOPED_TRACE(how);
    const std::string name = private_pipe_name();
    StandInApp app({"write", "last", "--finish", how, "--pipe", name});
    ASSERT_TRUE(app.ready());
    auto pipe = open_bridge_pipe(name);
    ASSERT_TRUE(pipe.has_value()) << pipe.error().error.code;
    std::string got;
    for (;;) {
      char buffer[16];
      const auto n = (*pipe)->read_half().read_some(buffer);
      ASSERT_TRUE(n.has_value()) << n.error().code;
      if (*n == 0) break;
      got.append(buffer, *n);
    }
    EXPECT_EQ(got, "last");
  }
}

// Shutting down from another thread ends a read in progress there, tells the application,
// and leaves every later transfer failing or reading the end.
TEST(BridgePipe, ShutDownEndsAReadInProgress) {
  const std::string name = private_pipe_name();
  StandInApp app({"sink", "--pipe", name});  // writes nothing: a read waits for ever
  ASSERT_TRUE(app.ready());
  auto pipe = open_bridge_pipe(name);
  ASSERT_TRUE(pipe.has_value()) << pipe.error().error.code;
  ASSERT_EQ(io::write_all((*pipe)->write_half(), std::string_view("one\n")), io::WriteAll::complete);
  std::optional<std::expected<std::size_t, io::OsError>> read;
  std::thread reader([&] {
    char buffer[16];
    read = (*pipe)->read_half().read_some(buffer);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the read be pending first
  (*pipe)->shut_down();
  reader.join();
  ASSERT_TRUE(read.has_value());
  EXPECT_TRUE(!read->has_value() || **read == 0) << "the read ends, with no bytes";
  EXPECT_TRUE(app.wait_for("closed 4 1\n"));
  EXPECT_NE(io::write_all((*pipe)->write_half(), std::string_view("two\n")), io::WriteAll::complete);
  char buffer[16];
  const auto later = (*pipe)->read_half().read_some(buffer);
  EXPECT_TRUE(!later.has_value() || *later == 0);
  (*pipe)->shut_down();  // a second time does nothing
}

}  // namespace
}  // namespace zorvia::platform
