#include "text/unicode_case.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "text/unicode.h"

#ifdef ZORVIA_CHECK_AGAINST_ICU
#include <unicode/ustring.h>
#endif

namespace zorvia::text {
namespace {

TEST(LowerFull, SpotCases) {
  struct Case {
    std::string_view input;
    std::string_view lower;
  };
  static constexpr Case kCases[] = {
      {"", ""},
      {"MsiExec.EXE", "msiexec.exe"},
      {"already lower 123 -_.", "already lower 123 -_."},
      {"\xd0\x97\xd0\x9e\xd0\xa0\xd0\x92\xd0\x98\xd0\xaf.exe", "\xd0\xb7\xd0\xbe\xd1\x80\xd0\xb2\xd0\xb8\xd1\x8f.exe"},  // ЗОРВИЯ
      {"\xc4\xb0", "i\xcc\x87"},                        // U+0130: two code points, three bytes
      {"SETUP\xc4\xb0.EXE", "setupi\xcc\x87.exe"},
      {"\xc3\x9f", "\xc3\x9f"},                         // ß has no single lower-case form to change to
      {"\xe1\xba\x9e", "\xc3\x9f"},                     // ẞ U+1E9E
      {"\xe2\x84\xaa", "k"},                            // KELVIN SIGN
      {"\xe2\x84\xa6", "\xcf\x89"},                     // OHM SIGN to ω
      {"\xc7\x85", "\xc7\x86"},                         // title-case Dž
      {"\xe1\xbe\x88", "\xe1\xbe\x80"},                 // U+1F88 keeps its simple mapping
      {"\xf0\x90\x90\x80", "\xf0\x90\x90\xa8"},         // Deseret, outside the BMP
      {"\xf0\x9e\xa4\x80", "\xf0\x9e\xa4\xa2"},         // Adlam
      {"\xef\xbf\xbd", "\xef\xbf\xbd"},                 // U+FFFD stays
      {"\xe2\x85\xa0", "\xe2\x85\xb0"},                 // Roman numeral one
      {"\xe2\x92\xb6", "\xe2\x93\x90"},                 // circled A
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.input)));
    EXPECT_EQ(to_lower_full(c.input), c.lower);
  }
}

// Σ is U+03A3, σ U+03C3, ς U+03C2.
TEST(LowerFull, FinalSigma) {
  struct Case {
    std::string_view input;
    std::string_view lower;
  };
  static constexpr Case kCases[] = {
      {"\xce\xa3", "\xcf\x83"},                                  // alone: not final
      {"A\xce\xa3", "a\xcf\x82"},                                // after a cased letter, at the end
      {"A\xce\xa3.EXE", "a\xcf\x83.exe"},                        // '.' is case-ignorable: E still follows
      {"A\xce\xa3 EXE", "a\xcf\x82 exe"},                        // a blank ends the word
      {"A\xce\xa3" "B", "a\xcf\x83" "b"},                        // inside a word
      {"A\xce\xa3\xce\xa3", "a\xcf\x83\xcf\x82"},                // the second sigma ends the word
      {"A'\xce\xa3", "a'\xcf\x82"},                              // ignorable before: skipped
      {"1\xce\xa3", "1\xcf\x83"},                                // a digit is not cased
      {"'\xce\xa3", "'\xcf\x83"},                                // only ignorable before
      {"A\xce\xa3'", "a\xcf\x82'"},                              // only ignorable after
      {"A\xce\xa3'B", "a\xcf\x83'b"},                            // ignorable, then cased after
      {"\xca\xb0\xce\xa3", "\xca\xb0\xcf\x83"},                  // ʰ is cased but also ignorable: skipped
      {"\xf0\x90\x90\x80\xce\xa3", "\xf0\x90\x90\xa8\xcf\x82"},  // a cased letter outside the BMP
      {"\xce\x9f\xce\x94\xce\x9f\xce\xa3", "\xce\xbf\xce\xb4\xce\xbf\xcf\x82"},  // ΟΔΟΣ
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.input)));
    EXPECT_EQ(to_lower_full(c.input), c.lower);
  }
}

TEST(LowerFull, OutputIsValidUtf8ForEveryCodePoint) {
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string one;
    append_utf8(one, cp);
    const std::string lower = to_lower_full(one);
    ASSERT_TRUE(is_valid_utf8(lower)) << std::hex << static_cast<std::uint32_t>(cp);
    ASSERT_FALSE(lower.empty()) << std::hex << static_cast<std::uint32_t>(cp);
  }
}

#ifdef ZORVIA_CHECK_AGAINST_ICU

std::string icu_lower(const std::string& utf8) {
  const std::u16string in = utf8_to_utf16(utf8);
  std::u16string out(in.size() * 3 + 4, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length =
      u_strToLower(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                   reinterpret_cast<const UChar*>(in.data()), static_cast<int32_t>(in.size()), "", &status);
  EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
  out.resize(static_cast<std::size_t>(length));
  return utf16_to_utf8_lossy(out);
}

std::string utf8_of(char32_t cp) {
  std::string s;
  append_utf8(s, cp);
  return s;
}

TEST(LowerFullAgainstIcu, EveryCodePointAlone) {
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    const std::string one = utf8_of(cp);
    ASSERT_EQ(to_lower_full(one), icu_lower(one)) << "U+" << std::hex << static_cast<std::uint32_t>(cp);
  }
}

// Next to a sigma, each code point shows whether it is cased and whether it is
// case-ignorable: "cΣ" ends a word only for a cased c that is not ignorable, "AcΣ" for an
// ignorable or cased c, and "AΣc" unless c is cased and not ignorable.
TEST(LowerFullAgainstIcu, EveryCodePointBesideASigma) {
  const std::string sigma = "\xce\xa3";
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    const std::string c = utf8_of(cp);
    for (const std::string& text : {c + sigma, "A" + c + sigma, "A" + sigma + c}) {
      ASSERT_EQ(to_lower_full(text), icu_lower(text)) << "U+" << std::hex << static_cast<std::uint32_t>(cp);
    }
  }
}

// Every text of up to four characters over an alphabet of sigmas, cased, ignorable,
// cased-and-ignorable and uncased characters.
TEST(LowerFullAgainstIcu, SigmaContexts) {
  static constexpr std::string_view kAlphabet[] = {
      "\xce\xa3",          // Σ
      "A",                 // cased
      "\xcf\x83",          // σ, cased
      "'",                 // ignorable
      "\xcd\x85",          // U+0345, cased and ignorable
      "\xca\xb0",          // U+02B0, cased and ignorable
      "\xc2\xad",          // soft hyphen, ignorable
      " ",                 // neither
      "7",                 // neither
      "\xc4\xb0",          // U+0130
      "\xf0\x90\x90\x80",  // cased, outside the BMP
      "\xf0\x9f\x8f\xbb",  // skin tone modifier, ignorable, outside the BMP
  };
  constexpr std::size_t kSize = std::size(kAlphabet);
  std::size_t combinations = 1;
  for (int length = 1; length <= 4; ++length) {
    combinations *= kSize;
    for (std::size_t n = 0; n < combinations; ++n) {
      std::string text;
      for (std::size_t rest = n, i = 0; i < static_cast<std::size_t>(length); ++i, rest /= kSize) {
        text += kAlphabet[rest % kSize];
      }
      ASSERT_EQ(to_lower_full(text), icu_lower(text)) << ::testing::PrintToString(text);
    }
  }
}

#endif  // ZORVIA_CHECK_AGAINST_ICU

}  // namespace
}  // namespace zorvia::text
