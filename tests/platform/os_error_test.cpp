// The operating-system error text that host errors and "os_error" carry: the system's own
// message without the line end it appends, then the code. The messages are those of this
// test environment (glibc natively, Wine's English tables under Wine).

#include "platform/os_error.h"

#include <gtest/gtest.h>

#include <string_view>

namespace zorvia::platform {
namespace {

struct Case {
  std::int32_t code;
  std::string_view text;
};

#ifdef _WIN32
constexpr Case kCases[] = {
    {2, "File not found. (os error 2)"},
    {5, "Access denied. (os error 5)"},
    {231, "Pipe busy. (os error 231)"},
    // No message table holds it: FormatMessageW fails with ERROR_MR_MID_NOT_FOUND (317).
    {0x2ABCDEF, "OS Error 44813807 (FormatMessageW() returned error 317) (os error 44813807)"},
    // The NT facility bit sends the code, without that bit, to NTDLL's table.
    {-1, "OS Error -268435457 (FormatMessageW() returned error 317) (os error -1)"},
};
#else
constexpr Case kCases[] = {
    {2, "No such file or directory (os error 2)"},
    {111, "Connection refused (os error 111)"},
    {-1, "Unknown error -1 (os error -1)"},
};
#endif

TEST(OsErrorText, SystemMessageThenTheCode) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(os_error_text(c.code), c.text);
  }
}

}  // namespace
}  // namespace zorvia::platform
