#include "lifecycle/process_marker.h"

#include <array>
#include <bitset>

#include "text/unicode.h"

namespace zorvia::lifecycle {

namespace {

// The marker's keys in declaration order; the array form uses the same order.
enum Field : std::size_t {
  kSessionId,
  kPid,
  kStartedAt,
  kVersion,
  kExecutable,
  kParentPid,
  kParentName,
  kParentExecutable,
  kDebugBuild,
  kE2e,
  kActiveTasks,
  kExpectedExit,
  kExpectedExitDetail,
  kExitRequestedEventSeen,
  kCleanExit,
  kUiReady,
  kFieldCount,
};

constexpr std::array<std::string_view, kFieldCount> kKeys = {
    "session_id", "pid",          "started_at",    "version",       "executable",         "parent_pid",
    "parent_name", "parent_executable", "debug_build", "e2e",        "active_tasks",       "expected_exit",
    "expected_exit_detail", "exit_requested_event_seen", "clean_exit", "ui_ready"};

constexpr std::array kRequired = {kSessionId, kPid, kStartedAt, kVersion, kExecutable, kDebugBuild, kE2e};

// The array form holds elements 0 to 12 at least; the three trailing booleans may be left out.
constexpr std::size_t kArrayMinElements = 13;

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One pass over the file's bytes. Texts without escapes are taken straight from the input;
// texts with escapes are unescaped through one scratch buffer that the whole parse reuses.
class MarkerParser {
 public:
  explicit MarkerParser(std::string_view input) : in_(input) {}

  std::optional<ProcessMarker> parse() {
    skip_space();
    if (at_end()) return std::nullopt;
    ProcessMarker marker;
    bool ok = false;
    if (peek() == '{') {
      ok = parse_object(marker);
    } else if (peek() == '[') {
      ok = parse_array(marker);
    }
    if (!ok) return std::nullopt;
    skip_space();
    if (!at_end()) return std::nullopt;
    return marker;
  }

 private:
  bool at_end() const { return pos_ >= in_.size(); }
  char peek() const { return in_[pos_]; }
  void skip_space() {
    while (!at_end() && is_json_space(peek())) ++pos_;
  }
  bool consume(char c) {
    skip_space();
    if (at_end() || peek() != c) return false;
    ++pos_;
    return true;
  }
  bool consume_word(std::string_view word) {
    if (in_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  // Reads a string at the current position (after white space). `out` views the text:
  // straight into the input when it has no escape, else into the scratch buffer. With
  // `check_utf8` false (strings inside skipped values) only escapes and raw control characters
  // are checked.
  bool parse_string(std::string_view& out, bool check_utf8) {
    skip_space();
    if (at_end() || peek() != '"') return false;
    ++pos_;
    const std::size_t start = pos_;
    bool escaped = false;
    for (;;) {
      if (at_end()) return false;
      const auto c = static_cast<unsigned char>(peek());
      if (c == '"') break;
      if (c < 0x20) return false;
      if (c == '\\') {
        if (!escaped) {
          scratch_.assign(in_.substr(start, pos_ - start));
          escaped = true;
        }
        ++pos_;
        if (!unescape_one(check_utf8)) return false;
        continue;
      }
      if (escaped) scratch_.push_back(static_cast<char>(c));
      ++pos_;
    }
    out = escaped ? std::string_view(scratch_) : in_.substr(start, pos_ - start);
    ++pos_;  // the closing quotation mark
    return !check_utf8 || text::is_valid_utf8(out);
  }

  // After a reverse solidus: appends the escaped character to the scratch buffer. Surrogate
  // escapes must pair up in texts; in skipped strings only the escape's form is checked.
  bool unescape_one(bool pair_surrogates) {
    if (at_end()) return false;
    const char c = peek();
    ++pos_;
    switch (c) {
      case '"': scratch_.push_back('"'); return true;
      case '\\': scratch_.push_back('\\'); return true;
      case '/': scratch_.push_back('/'); return true;
      case 'b': scratch_.push_back('\b'); return true;
      case 'f': scratch_.push_back('\f'); return true;
      case 'n': scratch_.push_back('\n'); return true;
      case 'r': scratch_.push_back('\r'); return true;
      case 't': scratch_.push_back('\t'); return true;
      case 'u': break;
      default: return false;
    }
    const auto first = read_hex4();
    if (!first) return false;
    if (!pair_surrogates) return true;
    char32_t cp = *first;
    if (cp >= 0xDC00 && cp <= 0xDFFF) return false;  // a low surrogate cannot come first
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (!consume_word("\\u")) return false;
      const auto second = read_hex4();
      if (!second || *second < 0xDC00 || *second > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (*second - 0xDC00);
    }
    text::append_utf8(scratch_, cp);
    return true;
  }

  std::optional<char32_t> read_hex4() {
    if (in_.size() - pos_ < 4) return std::nullopt;
    char32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = hex_value(in_[pos_ + i]);
      if (digit < 0) return std::nullopt;
      value = value * 16 + static_cast<char32_t>(digit);
    }
    pos_ += 4;
    return value;
  }

  bool parse_text(std::string& out) {
    std::string_view view;
    if (!parse_string(view, /*check_utf8=*/true)) return false;
    out.assign(view);
    return true;
  }

  // Digits only: no sign (not even for zero), no fraction, no exponent, no leading zero.
  bool parse_u32(std::uint32_t& out) {
    skip_space();
    const std::size_t start = pos_;
    std::uint64_t value = 0;
    while (!at_end() && peek() >= '0' && peek() <= '9') {
      value = value * 10 + static_cast<std::uint64_t>(peek() - '0');
      if (value > 0xFFFFFFFFull) return false;
      ++pos_;
    }
    const std::size_t digits = pos_ - start;
    if (digits == 0) return false;
    if (digits > 1 && in_[start] == '0') return false;
    if (!at_end() && (peek() == '.' || peek() == 'e' || peek() == 'E')) return false;
    out = static_cast<std::uint32_t>(value);
    return true;
  }

  bool parse_bool(bool& out) {
    skip_space();
    if (consume_word("true")) {
      out = true;
      return true;
    }
    if (consume_word("false")) {
      out = false;
      return true;
    }
    return false;
  }

  bool consume_null() {
    skip_space();
    return consume_word("null");
  }

  bool parse_text_list(std::vector<std::string>& out) {
    if (!consume('[')) return false;
    if (consume(']')) return true;
    for (;;) {
      std::string item;
      if (!parse_text(item)) return false;
      out.push_back(std::move(item));
      if (consume(']')) return true;
      if (!consume(',')) return false;
    }
  }

  template <typename T, typename Parse>
  bool parse_optional(std::optional<T>& out, Parse parse) {
    if (consume_null()) {
      out.reset();
      return true;
    }
    T value{};
    if (!(this->*parse)(value)) return false;
    out = std::move(value);
    return true;
  }

  bool parse_field(Field field, ProcessMarker& m) {
    switch (field) {
      case kSessionId: return parse_text(m.session_id);
      case kPid: return parse_u32(m.pid);
      case kStartedAt: return parse_text(m.started_at);
      case kVersion: return parse_text(m.version);
      case kExecutable: return parse_text(m.executable);
      case kParentPid: return parse_optional(m.parent_pid, &MarkerParser::parse_u32);
      case kParentName: return parse_optional(m.parent_name, &MarkerParser::parse_text);
      case kParentExecutable: return parse_optional(m.parent_executable, &MarkerParser::parse_text);
      case kDebugBuild: return parse_bool(m.debug_build);
      case kE2e: return parse_bool(m.e2e);
      case kActiveTasks: return parse_text_list(m.active_tasks);
      case kExpectedExit: return parse_optional(m.expected_exit, &MarkerParser::parse_text);
      case kExpectedExitDetail: return parse_optional(m.expected_exit_detail, &MarkerParser::parse_text);
      case kExitRequestedEventSeen: return parse_bool(m.exit_requested_event_seen);
      case kCleanExit: return parse_bool(m.clean_exit);
      case kUiReady: return parse_bool(m.ui_ready);
      case kFieldCount: break;
    }
    return false;
  }

  bool parse_object(ProcessMarker& marker) {
    ++pos_;  // '{'
    std::bitset<kFieldCount> seen;
    if (!consume('}')) {
      for (;;) {
        std::string_view key;
        if (!parse_string(key, /*check_utf8=*/true)) return false;
        std::size_t field = kFieldCount;
        for (std::size_t i = 0; i < kFieldCount; ++i) {
          if (kKeys[i] == key) field = i;
        }
        if (!consume(':')) return false;
        if (field == kFieldCount) {
          if (!skip_value()) return false;
        } else {
          if (seen[field]) return false;
          seen[field] = true;
          if (!parse_field(static_cast<Field>(field), marker)) return false;
        }
        if (consume('}')) break;
        if (!consume(',')) return false;
      }
    }
    for (const Field required : kRequired) {
      if (!seen[required]) return false;
    }
    return true;
  }

  bool parse_array(ProcessMarker& marker) {
    ++pos_;  // '['
    std::size_t count = 0;
    if (!consume(']')) {
      for (;;) {
        if (count == kFieldCount) return false;  // a 17th element
        if (!parse_field(static_cast<Field>(count), marker)) return false;
        ++count;
        if (consume(']')) break;
        if (!consume(',')) return false;
      }
    }
    return count >= kArrayMinElements;
  }

  bool skip_number() {
    const std::size_t start = pos_;
    if (peek() == '-') ++pos_;
    if (at_end()) return false;
    if (peek() == '0') {
      ++pos_;
    } else if (peek() >= '1' && peek() <= '9') {
      while (!at_end() && peek() >= '0' && peek() <= '9') ++pos_;
    } else {
      return false;
    }
    if (!at_end() && peek() == '.') {
      ++pos_;
      const std::size_t digits = pos_;
      while (!at_end() && peek() >= '0' && peek() <= '9') ++pos_;
      if (pos_ == digits) return false;
    }
    if (!at_end() && (peek() == 'e' || peek() == 'E')) {
      ++pos_;
      if (!at_end() && (peek() == '+' || peek() == '-')) ++pos_;
      const std::size_t digits = pos_;
      while (!at_end() && peek() >= '0' && peek() <= '9') ++pos_;
      if (pos_ == digits) return false;
    }
    return pos_ > start;
  }

  // Skips one well-formed value of any depth with an explicit stack instead of recursion.
  bool skip_value() {
    std::vector<bool> in_object;  // one entry per open container: true for an object
    for (;;) {
      // A value starts here.
      skip_space();
      if (at_end()) return false;
      const char c = peek();
      if (c == '{' || c == '[') {
        ++pos_;
        const char close = c == '{' ? '}' : ']';
        if (!consume(close)) {
          in_object.push_back(c == '{');
          if (c == '{' && !skip_key_and_colon()) return false;
          continue;
        }
      } else if (c == '"') {
        std::string_view ignored;
        if (!parse_string(ignored, /*check_utf8=*/false)) return false;
      } else if (c == '-' || (c >= '0' && c <= '9')) {
        if (!skip_number()) return false;
      } else if (!consume_word("true") && !consume_word("false") && !consume_word("null")) {
        return false;
      }
      // A value ended: close containers until one continues with a comma.
      for (;;) {
        if (in_object.empty()) return true;
        if (consume(',')) {
          if (in_object.back() && !skip_key_and_colon()) return false;
          break;
        }
        if (!consume(in_object.back() ? '}' : ']')) return false;
        in_object.pop_back();
      }
    }
  }

  bool skip_key_and_colon() {
    std::string_view ignored;
    return parse_string(ignored, /*check_utf8=*/false) && consume(':');
  }

  std::string_view in_;
  std::size_t pos_ = 0;
  std::string scratch_;
};

}  // namespace

std::optional<ProcessMarker> parse_process_marker(std::string_view bytes) { return MarkerParser(bytes).parse(); }

}  // namespace zorvia::lifecycle
