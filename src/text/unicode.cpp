#include "text/unicode.h"

namespace zorvia::text {

namespace {

// Length of the valid UTF-8 sequence starting at `pos`, or 0 with `prefix` set to the length
// of its longest valid prefix (at least 1) when it is invalid.
std::size_t utf8_sequence_length(std::string_view s, std::size_t pos, std::size_t& prefix, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  prefix = 1;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 3;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 4;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < need; ++i) {
    if (pos + i >= s.size()) return 0;
    const auto b = static_cast<unsigned char>(s[pos + i]);
    if (b < lo || b > hi) return 0;
    lo = 0x80;
    hi = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
    prefix = i + 1;
  }
  return need;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    // ASCII runs are the common case: skip them eight bytes at a time.
    while (pos + 8 <= bytes.size()) {
      std::uint64_t word = 0;
      for (int i = 0; i < 8; ++i) word |= std::uint64_t{static_cast<unsigned char>(bytes[pos + i])} << (8 * i);
      if (word & 0x8080808080808080ULL) break;
      pos += 8;
    }
    if (pos >= bytes.size()) break;
    std::size_t prefix;
    char32_t cp;
    const auto len = utf8_sequence_length(bytes, pos, prefix, cp);
    if (len == 0) return false;
    pos += len;
  }
  return true;
}

char32_t decode_utf8_lossy(std::string_view bytes, std::size_t& pos) {
  std::size_t prefix;
  char32_t cp;
  const auto len = utf8_sequence_length(bytes, pos, prefix, cp);
  if (len == 0) {
    pos += prefix;
    return kReplacementCharacter;
  }
  pos += len;
  return cp;
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
