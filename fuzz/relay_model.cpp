#include "relay_model.h"

#include <cstdint>

namespace zorvia::fuzzing {

namespace {

constexpr std::size_t kLimit = 1'048'576;

// The 25 characters with the Unicode White_Space property.
bool white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

struct Text {
  bool utf8 = true;
  bool blank = true;  // meaningful only when utf8
};

// RFC 3629 by decoding: the lead byte gives the length, the value must need that length and be
// a scalar value up to U+10FFFF.
Text read_text(std::string_view bytes) {
  Text text;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
      length = 1, value = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, value = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, value = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, value = lead & 0x07, smallest = 0x10000;
    } else {
      return {false, false};
    }
    if (bytes.size() - i < length) return {false, false};
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return {false, false};
      value = (value << 6) | (next & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {false, false};
    if (!white_space(value)) text.blank = false;
    i += length;
  }
  return text;
}

std::string le32(std::size_t n) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  return out;
}

}  // namespace

ModelRun frames_to_lines(std::string_view input) {
  ModelRun run;
  std::size_t at = 0;
  for (;;) {
    if (input.size() - at < 4) return run;  // the end, between frames or inside a length
    std::size_t length = 0;
    for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(input[at + i]);
    at += 4;
    if (length == 0 || length > kLimit) {
      run.end = ModelEnd::refused;
      run.decided_at = at;
      return run;
    }
    if (input.size() - at < length) return run;  // the end inside a body
    run.messages.push_back({std::string(input.substr(at, length)) + "\n", at + length});
    at += length;
  }
}

ModelRun lines_to_frames(std::string_view input, bool input_fails_at_end) {
  ModelRun run;
  std::size_t at = 0;
  while (at < input.size()) {
    const std::size_t line_feed = input.find('\n', at);
    const bool final = line_feed == std::string_view::npos;
    const std::size_t next = final ? input.size() : line_feed + 1;
    const std::size_t due = final ? kAtEnd : next;
    std::string_view line = input.substr(at, next - at);
    at = next;

    // Checked even when a read error will cut the line off: the direction may refuse its
    // bytes before the error arrives.
    if (!read_text(line).utf8) {  // with its line end
      run.end = ModelEnd::refused;
      run.decided_at = due;
      return run;
    }
    if (!final) {
      line.remove_suffix(1);
      if (line.ends_with('\r')) line.remove_suffix(1);
    }
    if (read_text(line).blank) continue;
    if (line.size() > kLimit) {
      run.end = ModelEnd::refused;
      run.decided_at = due;
      return run;
    }
    if (final && input_fails_at_end) return run;  // a read error discards the partial line
    run.messages.push_back({le32(line.size()) + std::string(line), due});
  }
  return run;
}

void limit_output(ModelRun& run, std::size_t capacity) {
  std::size_t total = 0;
  for (std::size_t i = 0; i < run.messages.size(); ++i) {
    total += run.messages[i].bytes.size();
    if (total > capacity) {
      run.end = ModelEnd::output_failed;
      run.decided_at = run.messages[i].due;
      run.messages.resize(i + 1);
      return;
    }
  }
}

}  // namespace zorvia::fuzzing
