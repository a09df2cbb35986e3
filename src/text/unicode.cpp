#include "text/unicode.h"

#include "text/utf8.h"

namespace zorvia::text {

bool is_valid_utf8(std::string_view bytes) {
  Utf8Decoder decoder;
  return decoder.feed(bytes) && decoder.at_boundary();
}

char32_t decode_utf8_lossy(std::string_view bytes, std::size_t& pos) {
  Utf8Decoder decoder;
  const std::size_t start = pos;
  while (pos < bytes.size()) {
    switch (decoder.feed(static_cast<unsigned char>(bytes[pos]))) {
      case Utf8Decoder::Step::character: ++pos; return decoder.code_point();
      case Utf8Decoder::Step::more: ++pos; break;
      case Utf8Decoder::Step::invalid:
        // The maximal valid prefix is replaced; the byte that broke it starts the next one.
        if (pos == start) ++pos;
        return kReplacementCharacter;
    }
  }
  return kReplacementCharacter;  // cut short by the end
}

std::string utf8_lossy(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 8);
  std::size_t pos = 0;
  while (pos < bytes.size()) append_utf8(out, decode_utf8_lossy(bytes, pos));
  return out;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

namespace {

// Walks UTF-16 units; `on_unpaired` decides what an unpaired surrogate becomes.
template <typename OnUnpaired>
bool convert_utf16(std::u16string_view units, std::string& out, OnUnpaired on_unpaired) {
  out.reserve(out.size() + units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      if (!on_unpaired()) return false;
      append_utf8(out, kReplacementCharacter);
    } else {
      append_utf8(out, u);
    }
  }
  return true;
}

}  // namespace

std::string utf16_to_utf8_lossy(std::u16string_view units) {
  std::string out;
  convert_utf16(units, out, [] { return true; });
  return out;
}

std::optional<std::string> utf16_to_utf8_strict(std::u16string_view units) {
  std::string out;
  if (!convert_utf16(units, out, [] { return false; })) return std::nullopt;
  return out;
}

std::u16string utf8_to_utf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = decode_utf8_lossy(utf8, pos);
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

namespace {

// Start of the code point that ends at `end` (exclusive) in valid UTF-8.
std::size_t previous_code_point_start(std::string_view s, std::size_t end) {
  std::size_t start = end - 1;
  while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
  return start;
}

}  // namespace

std::string_view trim_white_space_end(std::string_view s) {
  std::size_t end = s.size();
  while (end > 0) {
    const std::size_t start = previous_code_point_start(s, end);
    std::size_t pos = start;
    if (!is_white_space(decode_utf8_lossy(s, pos))) break;
    end = start;
  }
  return s.substr(0, end);
}

std::string_view trim_white_space(std::string_view s) {
  std::size_t begin = 0;
  while (begin < s.size()) {
    std::size_t pos = begin;
    if (!is_white_space(decode_utf8_lossy(s, pos))) break;
    begin = pos;
  }
  return trim_white_space_end(s.substr(begin));
}

}  // namespace zorvia::text
