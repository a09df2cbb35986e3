#pragma once
// The one strict UTF-8 decoder of the system (RFC 3629: no overlong forms, no encoded
// surrogates, nothing above U+10FFFF). It is fed byte by byte or in runs, and a sequence may
// span the runs it is fed; runs of ASCII are skipped a word at a time.

#include <cstdint>
#include <string_view>

namespace zorvia::text {

class Utf8Decoder {
 public:
  enum class Step : std::uint8_t {
    character,  // the byte ended a character, which code_point() gives
    more,       // the byte began or continued a sequence
    invalid,    // the byte cannot continue valid UTF-8; the decoder is back at a boundary
  };

  constexpr Step feed(unsigned char byte) {
    if (pending_ == 0) {
      if (byte < 0x80) {
        code_point_ = byte;
        return Step::character;
      }
      low_ = 0x80;
      high_ = 0xBF;
      if (byte >= 0xC2 && byte <= 0xDF) {
        pending_ = 1;
        code_point_ = byte & 0x1Fu;
      } else if (byte >= 0xE0 && byte <= 0xEF) {
        pending_ = 2;
        code_point_ = byte & 0x0Fu;
        if (byte == 0xE0) low_ = 0xA0;   // no overlong forms
        if (byte == 0xED) high_ = 0x9F;  // no encoded surrogates
      } else if (byte >= 0xF0 && byte <= 0xF4) {
        pending_ = 3;
        code_point_ = byte & 0x07u;
        if (byte == 0xF0) low_ = 0x90;   // no overlong forms
        if (byte == 0xF4) high_ = 0x8F;  // nothing above U+10FFFF
      } else {
        return Step::invalid;
      }
      return Step::more;
    }
    if (byte < low_ || byte > high_) {
      pending_ = 0;
      return Step::invalid;
    }
    low_ = 0x80;
    high_ = 0xBF;
    code_point_ = (code_point_ << 6) | (byte & 0x3Fu);
    return --pending_ == 0 ? Step::character : Step::more;
  }

  [[nodiscard]] constexpr char32_t code_point() const { return code_point_; }
  // True when no sequence is left unfinished.
  [[nodiscard]] constexpr bool at_boundary() const { return pending_ == 0; }

  // Decodes [first, last) up to the first `stop` (an ASCII byte) met at a character boundary
  // and returns its position without taking it; `last` when there is none; nullptr at a byte
  // that cannot continue valid UTF-8.
  [[nodiscard]] const char* find(const char* first, const char* last, char stop);
  // Decodes all of `bytes`; false at a byte that cannot continue valid UTF-8.
  [[nodiscard]] bool feed(std::string_view bytes);

 private:
  char32_t code_point_ = 0;
  std::uint8_t pending_ = 0;                // continuation bytes still expected
  unsigned char low_ = 0x80, high_ = 0xBF;  // the range allowed for the next continuation byte
};

}  // namespace zorvia::text
