#include "text/unicode.h"

#include <gtest/gtest.h>

namespace zorvia::text {
namespace {

TEST(Utf8, StrictValidation) {
  struct Case {
    std::string_view bytes;
    bool valid;
  };
  static constexpr Case kCases[] = {
      {"", true},
      {"plain ascii text", true},
      {"\xd0\x97", true},                // З
      {"\xe2\x82\xac", true},            // €
      {"\xf0\x9f\x98\x80", true},        // U+1F600
      {"\xf4\x8f\xbf\xbf", true},        // U+10FFFF
      {"\xff", false},
      {"\xc0\xaf", false},               // overlong /
      {"\xe0\x80\xaf", false},           // overlong
      {"\xed\xa0\x80", false},           // encoded surrogate
      {"\xf4\x90\x80\x80", false},       // above U+10FFFF
      {"\xd0", false},                   // truncated
      {"abcdefgh\x80", false},           // stray continuation after an ASCII run
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.bytes)));
    EXPECT_EQ(is_valid_utf8(c.bytes), c.valid);
  }
}

TEST(Utf8, LossyDecodingReplacesMaximalSubparts) {
  EXPECT_EQ(utf8_lossy("a\xff" "b"), "a\xef\xbf\xbd" "b");
  // A truncated three-byte sequence is one replacement, not two.
  EXPECT_EQ(utf8_lossy("\xe2\x82" "x"), "\xef\xbf\xbd" "x");
  EXPECT_EQ(utf8_lossy("\xed\xa0\x80"), "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");
}

TEST(Utf16, SurrogatesStrictAndLossy) {
  const std::u16string pair = u"a\U0001F600b";
  EXPECT_EQ(utf16_to_utf8_strict(pair), "a\xf0\x9f\x98\x80" "b");
  const std::u16string lone{u'a', char16_t(0xD800), u'b'};
  EXPECT_EQ(utf16_to_utf8_strict(lone), std::nullopt);
  EXPECT_EQ(utf16_to_utf8_lossy(lone), "a\xef\xbf\xbd" "b");
  const std::u16string reversed{char16_t(0xDC00), char16_t(0xD800)};
  EXPECT_EQ(utf16_to_utf8_lossy(reversed), "\xef\xbf\xbd\xef\xbf\xbd");
  EXPECT_EQ(utf8_to_utf16("З\xf0\x9f\x98\x80"), u"З\U0001F600");
}

TEST(WhiteSpace, TheTwentyFiveCharacters) {
  int count = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) count += is_white_space(c) ? 1 : 0;
  EXPECT_EQ(count, 25);
  EXPECT_TRUE(is_white_space(0x3000));
  EXPECT_TRUE(is_white_space(0x85));
  EXPECT_FALSE(is_white_space(0x200B));  // zero width space is not White_Space
  EXPECT_EQ(trim_white_space(" \t\xe3\x80\x80x y\r\n\xc2\xa0"), "x y");
  EXPECT_EQ(trim_white_space_end("message.\r\n"), "message.");
  EXPECT_EQ(trim_white_space("   "), "");
}

}  // namespace
}  // namespace zorvia::text
