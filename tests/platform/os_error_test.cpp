// The operating-system error text that host errors and "os_error" carry.

#include "platform/os_error.h"

#include <gtest/gtest.h>

#include <string>

#include "text/unicode.h"

namespace zorvia::platform {
namespace {

TEST(OsErrorText, SystemMessageThenTheCode) {
  for (const std::int32_t code : {2, 5, 87}) {
    SCOPED_TRACE(code);
    const std::string text = os_error_text(code);
    const std::string suffix = " (os error " + std::to_string(code) + ")";
    ASSERT_TRUE(text.ends_with(suffix)) << text;
    const std::string message = text.substr(0, text.size() - suffix.size());
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(text::trim_white_space_end(message), message) << "the line end the system appends is removed";
    EXPECT_TRUE(text::is_valid_utf8(message));
    EXPECT_EQ(message, system_error_message(code));
  }
}

#ifdef _WIN32
TEST(OsErrorText, UnknownCodesFallBackToTheirNumber) {
  // No message table holds this code: FormatMessageW fails with ERROR_MR_MID_NOT_FOUND.
  EXPECT_EQ(system_error_message(0x2ABCDEF), "OS Error 44813807 (FormatMessageW() returned error 317)");
  EXPECT_EQ(os_error_text(-1), system_error_message(-1) + " (os error -1)");
}
#endif

}  // namespace
}  // namespace zorvia::platform
