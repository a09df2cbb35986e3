#include "text/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/unicode.h"

namespace zorvia::text {
namespace {

// The reference: a byte string is valid UTF-8 when it splits into encodings of Unicode scalar
// values, each exactly as the encoder writes it (so no overlong form, surrogate or value past
// U+10FFFF can pass). Only the bit layout is read here; every range rule comes from the encoder.
bool is_encoding(std::string_view s) {
  const auto lead = static_cast<unsigned char>(s[0]);
  const int length = lead < 0x80 ? 1 : lead >> 5 == 0b110 ? 2 : lead >> 4 == 0b1110 ? 3 : lead >> 3 == 0b11110 ? 4 : 0;
  if (length != static_cast<int>(s.size())) return false;
  char32_t cp = length == 1 ? lead : lead & (0x7Fu >> length);
  for (int i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b >> 6 != 0b10) return false;
    cp = cp << 6 | (b & 0x3Fu);
  }
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  std::string again;
  append_utf8(again, cp);
  return again == s;
}

bool splits_into_encodings(std::string_view s) {
  std::vector<bool> reachable(s.size() + 1, false);
  reachable[0] = true;
  for (std::size_t end = 1; end <= s.size(); ++end)
    for (std::size_t length = 1; length <= 4 && length <= end && !reachable[end]; ++length)
      reachable[end] = reachable[end - length] && is_encoding(s.substr(end - length, length));
  return reachable[s.size()];
}

// Every lead byte before the bytes around each continuation range's edges, every two-byte
// string, and every three-byte string with a three-byte lead; then four-byte leads with every
// second byte. Each is checked whole, and its last character's value when it is valid.
TEST(Utf8Decoder, AgreesWithTheEncoderOnShortSequences) {
  static constexpr unsigned char kEdges[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
  std::size_t checked = 0, mismatches = 0;
  const auto check = [&](const std::string& s) {
    ++checked;
    const bool expected = splits_into_encodings(s);
    if (is_valid_utf8(s) != expected && ++mismatches <= 10) ADD_FAILURE() << ::testing::PrintToString(s);
  };
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) check({static_cast<char>(a), static_cast<char>(b)});
    for (const unsigned char b : kEdges)
      for (const unsigned char c : kEdges)
        for (const unsigned char d : kEdges)
          check({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c), static_cast<char>(d)});
  }
  for (int a = 0xE0; a <= 0xEF; ++a)
    for (int b = 0; b < 256; ++b)
      for (int c = 0; c < 256; ++c) check({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)});
  for (int a = 0xF0; a <= 0xF7; ++a)
    for (int b = 0; b < 256; ++b)
      for (const unsigned char c : kEdges)
        for (const unsigned char d : kEdges)
          check({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c), static_cast<char>(d)});
  EXPECT_EQ(mismatches, 0u) << "of " << checked;

  // The values: every scalar value decodes to itself.
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string s;
    append_utf8(s, cp);
    Utf8Decoder decoder;
    Utf8Decoder::Step step = Utf8Decoder::Step::more;
    for (const char byte : s) step = decoder.feed(static_cast<unsigned char>(byte));
    ASSERT_EQ(step, Utf8Decoder::Step::character) << std::hex << static_cast<std::uint32_t>(cp);
    ASSERT_EQ(decoder.code_point(), cp);
  }
}

// One special sequence at every offset of an ASCII run, so that it falls at every place of the
// word-at-a-time fast path and of its byte-by-byte tail.
TEST(Utf8Decoder, FindsTheStopAndTheFaultAtEveryOffset) {
  struct Case {
    const char* name;
    std::string inserted;
    long found;  // offset of the stop from the insertion, -1 for none, -2 for invalid
  };
  const Case cases[] = {
      {"the stop", "\n", 0},
      {"a two-byte character, then the stop", "\xd0\x97\n", 2},
      {"a four-byte character", "\xf0\x9f\x98\x80", -1},
      {"a byte that is never UTF-8", "\xff", -2},
      {"a stray continuation byte", "\x80", -2},
      {"the stop inside a sequence", "\xe3\x80\n", -2},
      {"an encoded surrogate", "\xed\xa0\x80", -2},
  };
  for (const auto& c : cases) {
    for (std::size_t at = 0; at <= 40; ++at) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(at));
      const std::string s = std::string(at, 'a') + c.inserted + std::string(40 - at, 'b');
      Utf8Decoder decoder;
      const char* result = decoder.find(s.data(), s.data() + s.size(), '\n');
      if (c.found == -2) {
        EXPECT_EQ(result, nullptr);
      } else if (c.found == -1) {
        EXPECT_EQ(result, s.data() + s.size());
      } else {
        EXPECT_EQ(result, s.data() + at + static_cast<std::size_t>(c.found));
      }
      // Without a stop byte, only validity counts.
      EXPECT_EQ(is_valid_utf8(s), c.found != -2) << "whole";
    }
  }
}

// A sequence may span the runs fed to one decoder, wherever they are cut.
TEST(Utf8Decoder, RunsMayCutSequencesAnywhere) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"{\"a\":\"\xd0\x97\xe2\x82\xac\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf plain ascii after\"}", true},
      {"\xe2\x82\xac\xe2\x82", false},  // cut at the end
      {"abc\xf4\x90\x80\x80", false},   // above U+10FFFF
      {"abc\xe0\x80\xaf", false},       // overlong
  };
  for (const auto& c : cases) {
    for (std::size_t cut = 0; cut <= c.bytes.size(); ++cut) {
      SCOPED_TRACE(::testing::PrintToString(c.bytes) + " cut at " + std::to_string(cut));
      const std::string_view all = c.bytes;
      Utf8Decoder by_find;
      const char* first = by_find.find(all.data(), all.data() + cut, '\n');
      const char* second = first ? by_find.find(all.data() + cut, all.data() + all.size(), '\n') : nullptr;
      EXPECT_EQ(second != nullptr && by_find.at_boundary(), c.valid);
      Utf8Decoder by_feed;
      EXPECT_EQ(by_feed.feed(all.substr(0, cut)) && by_feed.feed(all.substr(cut)) && by_feed.at_boundary(), c.valid);
    }
  }
}

}  // namespace
}  // namespace zorvia::text
