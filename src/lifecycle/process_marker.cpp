#include "lifecycle/process_marker.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>

#include "text/unicode.h"

namespace zorvia::lifecycle {

namespace {

// The record's fields by position: the array form's element order and the bit of each
// field in the set of keys already seen.
enum class Field : std::uint8_t {
  session_id,
  pid,
  started_at,
  version,
  executable,
  parent_pid,
  parent_name,
  parent_executable,
  debug_build,
  e2e,
  active_tasks,
  expected_exit,
  expected_exit_detail,
  exit_requested_event_seen,
  clean_exit,
  ui_ready,
};

inline constexpr std::size_t kFieldCount = std::to_underlying(Field::ui_ready) + 1;

struct FieldKey {
  Field field;
  std::string_view key;
};

// Each field's JSON key, which is its name.
inline constexpr FieldKey kFieldKeys[] = {
    {Field::session_id, "session_id"},
    {Field::pid, "pid"},
    {Field::started_at, "started_at"},
    {Field::version, "version"},
    {Field::executable, "executable"},
    {Field::parent_pid, "parent_pid"},
    {Field::parent_name, "parent_name"},
    {Field::parent_executable, "parent_executable"},
    {Field::debug_build, "debug_build"},
    {Field::e2e, "e2e"},
    {Field::active_tasks, "active_tasks"},
    {Field::expected_exit, "expected_exit"},
    {Field::expected_exit_detail, "expected_exit_detail"},
    {Field::exit_requested_event_seen, "exit_requested_event_seen"},
    {Field::clean_exit, "clean_exit"},
    {Field::ui_ready, "ui_ready"},
};

// A key for every field, at the field's own position (which the array form relies on).
constexpr bool keys_follow_the_fields() {
  if (std::size(kFieldKeys) != kFieldCount) return false;
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    if (std::to_underlying(kFieldKeys[i].field) != i || kFieldKeys[i].key.empty()) return false;
  }
  return true;
}
static_assert(keys_follow_the_fields(), "one key per marker field, in the fields' order");
// The keys already seen in an object are one bit each.
static_assert(kFieldCount <= 16, "every field has a bit in the set of keys seen");

constexpr std::uint16_t bit(Field f) { return static_cast<std::uint16_t>(1u << static_cast<unsigned>(f)); }

// An object without any of these is no marker; every other field has a default.
inline constexpr std::uint16_t kRequiredFields = bit(Field::session_id) | bit(Field::pid) | bit(Field::started_at) |
                                                 bit(Field::version) | bit(Field::executable) |
                                                 bit(Field::debug_build) | bit(Field::e2e);

// The array form may stop after `expected_exit_detail`; the trailing booleans then stay false.
inline constexpr std::size_t kShortestArray = 13;

std::optional<Field> field_of_key(std::string_view key) {
  for (const FieldKey& entry : kFieldKeys) {
    if (entry.key == key) return entry.field;
  }
  return std::nullopt;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Nesting of a skipped value, one bit per level (set: object), so that any depth costs
// an eighth of a byte per level and no call stack.
class NestingStack {
 public:
  void push(bool object) {
    if (depth_ % 64 == 0 && depth_ / 64 == words_.size()) words_.push_back(0);
    auto& word = words_[depth_ / 64];
    const std::uint64_t mask = std::uint64_t{1} << (depth_ % 64);
    word = object ? (word | mask) : (word & ~mask);
    ++depth_;
  }
  void pop() { --depth_; }
  [[nodiscard]] bool empty() const { return depth_ == 0; }
  [[nodiscard]] bool top_is_object() const {
    const std::size_t at = depth_ - 1;
    return (words_[at / 64] >> (at % 64)) & 1u;
  }

 private:
  std::vector<std::uint64_t> words_;
  std::size_t depth_ = 0;
};

// One strict pass over the file's bytes. Texts without escapes are taken straight from the
// input; texts with escapes are unescaped through `scratch_`, reused for every text.
class MarkerParser {
 public:
  explicit MarkerParser(std::string_view input) : in_(input) {}

  std::optional<ProcessMarker> parse() {
    skip_whitespace();
    ProcessMarker marker;
    bool ok = false;
    if (consume('{')) {
      ok = parse_object(marker);
    } else if (consume('[')) {
      ok = parse_array(marker);
    }
    if (!ok) return std::nullopt;
    skip_whitespace();
    if (pos_ != in_.size()) return std::nullopt;
    return marker;
  }

 private:
  // ---- bytes and tokens -------------------------------------------------------------

  [[nodiscard]] bool at_end() const { return pos_ >= in_.size(); }
  [[nodiscard]] char peek() const { return in_[pos_]; }

  bool consume(char c) {
    if (at_end() || peek() != c) return false;
    ++pos_;
    return true;
  }

  bool consume_literal(std::string_view word) {
    if (in_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  // Only these four bytes separate tokens; no byte-order mark, no other space.
  void skip_whitespace() {
    while (!at_end()) {
      const char c = peek();
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
      ++pos_;
    }
  }

  // Four hexadecimal digits after "\u"; -1 when they are not there.
  long read_hex4() {
    if (in_.size() - pos_ < 4) return -1;
    long value = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = hex_value(in_[pos_ + static_cast<std::size_t>(i)]);
      if (digit < 0) return -1;
      value = value * 16 + digit;
    }
    pos_ += 4;
    return value;
  }

  // ---- texts ---------------------------------------------------------------------------

  // A key or text value at its opening quote. The view lives until the next text is read.
  std::optional<std::string_view> parse_text() {
    if (!consume('"')) return std::nullopt;
    const std::size_t start = pos_;
    while (!at_end()) {
      const auto c = static_cast<unsigned char>(peek());
      if (c == '"') {
        const std::string_view raw = in_.substr(start, pos_ - start);
        ++pos_;
        if (!text::is_valid_utf8(raw)) return std::nullopt;
        return raw;
      }
      if (c == '\\') return parse_escaped_text(start);
      if (c < 0x20) return std::nullopt;
      ++pos_;
    }
    return std::nullopt;
  }

  // The rest of a text from its first backslash, unescaped into the scratch buffer.
  std::optional<std::string_view> parse_escaped_text(std::size_t start) {
    scratch_.assign(in_.substr(start, pos_ - start));
    while (!at_end()) {
      const auto c = static_cast<unsigned char>(peek());
      if (c == '"') {
        ++pos_;
        if (!text::is_valid_utf8(scratch_)) return std::nullopt;
        return std::string_view(scratch_);
      }
      if (c < 0x20) return std::nullopt;
      if (c != '\\') {
        scratch_.push_back(static_cast<char>(c));
        ++pos_;
        continue;
      }
      ++pos_;
      if (at_end()) return std::nullopt;
      const char kind = peek();
      ++pos_;
      switch (kind) {
        case '"': scratch_.push_back('"'); break;
        case '\\': scratch_.push_back('\\'); break;
        case '/': scratch_.push_back('/'); break;
        case 'b': scratch_.push_back('\b'); break;
        case 'f': scratch_.push_back('\f'); break;
        case 'n': scratch_.push_back('\n'); break;
        case 'r': scratch_.push_back('\r'); break;
        case 't': scratch_.push_back('\t'); break;
        case 'u': {
          const long unit = read_hex4();
          if (unit < 0) return std::nullopt;
          if (unit >= 0xDC00 && unit <= 0xDFFF) return std::nullopt;  // low surrogate first
          if (unit >= 0xD800 && unit <= 0xDBFF) {
            // A high surrogate counts only with a low one escaped right after it.
            if (!consume_literal("\\u")) return std::nullopt;
            const long low = read_hex4();
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            text::append_utf8(scratch_, static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
          } else {
            text::append_utf8(scratch_, static_cast<char32_t>(unit));
          }
          break;
        }
        default: return std::nullopt;
      }
    }
    return std::nullopt;
  }

  // A string inside a skipped value: its escapes and raw control characters are checked,
  // its bytes are not decoded.
  bool skip_string() {
    if (!consume('"')) return false;
    while (!at_end()) {
      const auto c = static_cast<unsigned char>(peek());
      ++pos_;
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') continue;
      if (at_end()) return false;
      const char kind = peek();
      ++pos_;
      switch (kind) {
        case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't': break;
        case 'u':
          if (read_hex4() < 0) return false;
          break;
        default: return false;
      }
    }
    return false;
  }

  // ---- numbers and literals ----------------------------------------------------------

  // Digits alone, 0 to 4294967295: no sign, fraction, exponent or leading zero.
  std::optional<std::uint32_t> parse_u32() {
    if (at_end() || !is_digit(peek())) return std::nullopt;
    std::uint64_t value = 0;
    if (peek() == '0') {
      ++pos_;
    } else {
      while (!at_end() && is_digit(peek())) {
        value = value * 10 + static_cast<std::uint64_t>(peek() - '0');
        if (value > UINT32_MAX) return std::nullopt;
        ++pos_;
      }
    }
    // What would make the number a fraction, an exponent or a leading-zero form.
    if (!at_end() && (peek() == '.' || peek() == 'e' || peek() == 'E' || is_digit(peek()))) return std::nullopt;
    return static_cast<std::uint32_t>(value);
  }

  bool skip_digits() {
    if (at_end() || !is_digit(peek())) return false;
    while (!at_end() && is_digit(peek())) ++pos_;
    return true;
  }

  // Any JSON number; only its grammar is checked.
  bool skip_number() {
    consume('-');
    if (consume('0')) {
      // A leading zero stands alone; a digit after it is left to fail as the next token.
    } else if (!skip_digits()) {
      return false;
    }
    if (consume('.') && !skip_digits()) return false;
    if (consume('e') || consume('E')) {
      if (!consume('+')) consume('-');
      if (!skip_digits()) return false;
    }
    return true;
  }

  std::optional<bool> parse_bool() {
    if (consume_literal("true")) return true;
    if (consume_literal("false")) return false;
    return std::nullopt;
  }

  // ---- skipped values ----------------------------------------------------------------

  // Any well-formed JSON value, nested to any depth, walked with an explicit stack.
  bool skip_value() {
    NestingStack nesting;
    for (;;) {
      // A value starts here.
      skip_whitespace();
      if (at_end()) return false;
      bool value_done = true;
      switch (peek()) {
        case '{':
          ++pos_;
          skip_whitespace();
          if (consume('}')) break;
          nesting.push(true);
          if (!skip_member_head()) return false;
          value_done = false;
          break;
        case '[':
          ++pos_;
          skip_whitespace();
          if (consume(']')) break;
          nesting.push(false);
          value_done = false;
          break;
        case '"':
          if (!skip_string()) return false;
          break;
        case 't':
          if (!consume_literal("true")) return false;
          break;
        case 'f':
          if (!consume_literal("false")) return false;
          break;
        case 'n':
          if (!consume_literal("null")) return false;
          break;
        default:
          if (!skip_number()) return false;
          break;
      }
      if (!value_done) continue;
      // A value has ended: close every container that ends with it, then go on to the
      // next element or member.
      for (;;) {
        if (nesting.empty()) return true;
        skip_whitespace();
        const bool object = nesting.top_is_object();
        if (consume(',')) {
          if (object && !skip_member_head()) return false;
          break;
        }
        if (!consume(object ? '}' : ']')) return false;
        nesting.pop();
      }
    }
  }

  // A skipped object's key and colon.
  bool skip_member_head() {
    skip_whitespace();
    if (!skip_string()) return false;
    skip_whitespace();
    return consume(':');
  }

  // ---- the record ----------------------------------------------------------------------

  bool parse_optional_text(std::optional<std::string>& into) {
    if (consume_literal("null")) {
      into.reset();
      return true;
    }
    const auto value = parse_text();
    if (!value) return false;
    into.emplace(*value);
    return true;
  }

  bool parse_required_text(std::string& into) {
    const auto value = parse_text();
    if (!value) return false;
    into.assign(*value);
    return true;
  }

  bool parse_bool_into(bool& into) {
    const auto value = parse_bool();
    if (!value) return false;
    into = *value;
    return true;
  }

  bool parse_text_list(std::vector<std::string>& into) {
    into.clear();
    if (!consume('[')) return false;
    skip_whitespace();
    if (consume(']')) return true;
    for (;;) {
      skip_whitespace();
      const auto element = parse_text();
      if (!element) return false;
      into.emplace_back(*element);
      skip_whitespace();
      if (consume(']')) return true;
      if (!consume(',')) return false;
    }
  }

  // The value of `field` at the current position, in that field's form.
  bool parse_field(Field field, ProcessMarker& m) {
    skip_whitespace();
    switch (field) {
      case Field::session_id: return parse_required_text(m.session_id);
      case Field::started_at: return parse_required_text(m.started_at);
      case Field::version: return parse_required_text(m.version);
      case Field::executable: return parse_required_text(m.executable);
      case Field::pid: {
        const auto value = parse_u32();
        if (!value) return false;
        m.pid = *value;
        return true;
      }
      case Field::parent_pid: {
        if (consume_literal("null")) {
          m.parent_pid.reset();
          return true;
        }
        const auto value = parse_u32();
        if (!value) return false;
        m.parent_pid = *value;
        return true;
      }
      case Field::parent_name: return parse_optional_text(m.parent_name);
      case Field::parent_executable: return parse_optional_text(m.parent_executable);
      case Field::expected_exit: return parse_optional_text(m.expected_exit);
      case Field::expected_exit_detail: return parse_optional_text(m.expected_exit_detail);
      case Field::debug_build: return parse_bool_into(m.debug_build);
      case Field::e2e: return parse_bool_into(m.e2e);
      case Field::exit_requested_event_seen: return parse_bool_into(m.exit_requested_event_seen);
      case Field::clean_exit: return parse_bool_into(m.clean_exit);
      case Field::ui_ready: return parse_bool_into(m.ui_ready);
      case Field::active_tasks: return parse_text_list(m.active_tasks);
    }
    return false;
  }

  // After the opening brace. Fields never seen keep the record's defaults.
  bool parse_object(ProcessMarker& m) {
    skip_whitespace();
    std::uint16_t seen = 0;
    if (!consume('}')) {
      for (;;) {
        skip_whitespace();
        const auto key = parse_text();
        if (!key) return false;
        const auto field = field_of_key(*key);
        skip_whitespace();
        if (!consume(':')) return false;
        if (field) {
          // A repeated known key is refused even when both values agree.
          if (seen & bit(*field)) return false;
          seen |= bit(*field);
          if (!parse_field(*field, m)) return false;
        } else if (!skip_value()) {
          return false;
        }
        skip_whitespace();
        if (consume('}')) break;
        if (!consume(',')) return false;
      }
    }
    return (seen & kRequiredFields) == kRequiredFields;
  }

  // After the opening bracket: 13 to 16 field values by position.
  bool parse_array(ProcessMarker& m) {
    for (std::size_t index = 0;; ++index) {
      if (index == kFieldCount) return false;  // a 17th element
      if (!parse_field(static_cast<Field>(index), m)) return false;
      skip_whitespace();
      if (consume(']')) return index + 1 >= kShortestArray;
      if (!consume(',')) return false;
    }
  }

  std::string_view in_;
  std::size_t pos_ = 0;
  std::string scratch_;
};

}  // namespace

std::optional<ProcessMarker> parse_process_marker(std::string_view bytes) { return MarkerParser(bytes).parse(); }

}  // namespace zorvia::lifecycle
