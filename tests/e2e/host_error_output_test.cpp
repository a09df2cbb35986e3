// Host error frames through the process's real standard output.

#include <gtest/gtest.h>

#include "support/child_process.h"

namespace zorvia {
namespace {

using testing::run_child;
using testing::sibling_program;

TEST(HostErrorOutput, FramesReachStandardOutputUnchanged) {
  struct Case {
    std::string which;
    std::size_t body_size;
    std::string header;
  };
  const Case cases[] = {
      {"empty", 33, std::string("\x21\0\0\0", 4)},
      {"cyrillic", 106, std::string("\x6a\0\0\0", 4)},
      {"escapes", 51, std::string("\x33\0\0\0", 4)},
      {"max", 1'048'576, std::string("\0\0\x10\0", 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.which);
    const auto result = run_child(sibling_program("host_error_writer"), {c.which});
    ASSERT_EQ(result.exit_code, 0u);
    ASSERT_EQ(result.out.size(), 4 + c.body_size);
    EXPECT_EQ(result.out.substr(0, 4), c.header);
    EXPECT_EQ(result.err, "");
  }
  const auto cyrillic = run_child(sibling_program("host_error_writer"), {"cyrillic"});
  EXPECT_EQ(cyrillic.out.substr(4), "{\"error\":\"Не удалось определить пользователя Windows\",\"event\":\"host_error\"}");
  const auto escapes = run_child(sibling_program("host_error_writer"), {"escapes"});
  EXPECT_EQ(escapes.out.substr(4), R"({"error":"a\"b\\c\td\u001f/e","event":"host_error"})");
}

TEST(HostErrorOutput, OneByteOverTheLimitWritesNothing) {
  const auto result = run_child(sibling_program("host_error_writer"), {"over"});
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

TEST(HostErrorOutput, ClosedStandardOutputReturnsNormally) {
  testing::ChildOptions options;
  options.stdout_closed = true;
  const auto result = run_child(sibling_program("host_error_writer"), {"cyrillic"}, {}, options);
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace zorvia
