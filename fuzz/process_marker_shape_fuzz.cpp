// Builds marker texts from the fuzzer's bytes instead of reading the bytes as one: records
// of the marker's shape in both forms, their keys, value forms, values, whitespace, member
// order and unknown members varied. A quarter of the inputs also choose one flaw that no
// marker may have, and give a second text with it: a near miss of the first. Each text goes
// to the reader and the nlohmann-based reference, and the reader must also give exactly the
// record the text was built from, or refuse the text when it was built with a flaw; that
// check needs no reference and so also covers what the reference leaves out.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lifecycle/process_marker.h"
#include "marker_check.h"
#include "marker_fields.h"

namespace {

using zorvia::fuzzing::Kind;
using zorvia::fuzzing::kFieldCount;
using zorvia::fuzzing::kKeys;
using zorvia::fuzzing::kKinds;
using zorvia::lifecycle::ProcessMarker;

// The fuzzer's bytes as a stream of decisions. A spent input reads as zeros, and zero is
// always the plain choice, so that short inputs make plain markers.
class Choices {
 public:
  Choices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  unsigned below(unsigned n) { return byte() % n; }
  std::uint32_t u32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | byte();
    return v;
  }
  template <std::size_t N>
  std::string_view one_of(const std::string_view (&options)[N]) {
    return options[below(N)];
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A JSON text as written and, for strings, the UTF-8 it stands for.
struct Piece {
  std::string json;
  std::string value;
};

class MarkerText {
 public:
  // A quarter of the inputs choose a flaw and one of the places that can take one; the text
  // is then built `with_flaw` or without, alike up to that place.
  MarkerText(Choices& choices, bool with_flaw) : c_(choices) {
    const std::uint8_t mode = c_.byte();
    array_form_ = (mode & 3) == 3;
    if (((mode >> 2) & 3) == 3) {
      chose_flaw_ = true;
      const unsigned site = c_.below(24);
      if (with_flaw) flaw_site_ = site;
    }
  }

  // The text, the marker it stands for, and whether it carries a flaw.
  std::string build() {
    std::string out = ws();
    if (array_form_) {
      array_record(out);
    } else {
      object_record(out);
    }
    out += ws();
    if (flaw_here()) record_flaw(out);
    return out;
  }

  [[nodiscard]] const ProcessMarker& expected() const { return expected_; }
  [[nodiscard]] bool flawed() const { return flawed_; }
  [[nodiscard]] bool chose_flaw() const { return chose_flaw_; }

 private:
  // Each place that may take a flaw asks once; the flaw goes to the chosen one.
  bool flaw_here() {
    if (flawed_ || !flaw_site_ || sites_++ != *flaw_site_) return false;
    flawed_ = true;
    return true;
  }

  std::string ws() {
    static constexpr std::string_view kBlanks[] = {"", " ", "\n", "\t", "\r\n", "  ", "\r", " \t\n"};
    return std::string(c_.one_of(kBlanks));
  }

  // Whitespace that JSON does not allow between tokens.
  std::string bad_ws() {
    static constexpr std::string_view kNotBlank[] = {"\f", "\v", "\xc2\xa0", std::string_view("\0", 1), "\x1b"};
    return std::string(c_.one_of(kNotBlank));
  }

  // One part of a string. `skipped`: inside an unknown key's value, where bytes need not be
  // UTF-8 and escapes need not pair their surrogates.
  void string_part(Piece& s, bool skipped) {
    switch (c_.below(skipped ? 14 : 12)) {
      case 0: {
        const unsigned n = 1 + c_.below(8);
        for (unsigned i = 0; i < n; ++i) {
          char ch = static_cast<char>(0x20 + c_.below(95));
          if (ch == '"' || ch == '\\') ch = 'a';
          s.json += ch;
          s.value += ch;
        }
        return;
      }
      case 1: {
        static constexpr std::string_view kWords[] = {"s-1", "1.0.0", "2026-01-31T12:00:00.000Z", "user_quit"};
        const std::string_view w = c_.one_of(kWords);
        s.json += w;
        s.value += w;
        return;
      }
      case 2: {
        static constexpr std::pair<std::string_view, char> kShort[] = {
            {"\\\"", '"'}, {"\\\\", '\\'}, {"\\/", '/'}, {"\\b", '\b'},
            {"\\f", '\f'}, {"\\n", '\n'},  {"\\r", '\r'}, {"\\t", '\t'}};
        const auto& [json, value] = kShort[c_.below(8)];
        s.json += json;
        s.value += value;
        return;
      }
      case 3: {
        // A control character or another ASCII one through \u, in either case of hex digits.
        const unsigned code = c_.below(2) ? c_.below(0x20) : c_.below(0x80);
        char hex[8];
        std::snprintf(hex, sizeof hex, c_.below(2) ? "\\u%04x" : "\\u%04X", code);
        s.json += hex;
        s.value += static_cast<char>(code);
        return;
      }
      case 4: {
        static constexpr std::pair<std::string_view, std::string_view> kEscaped[] = {
            {"\\u00e9", "\xc3\xa9"},         {"\\u0416", "\xd0\x96"},         {"\\u20AC", "\xe2\x82\xac"},
            {"\\uffff", "\xef\xbf\xbf"},     {"\\u0080", "\xc2\x80"},         {"\\ud83d\\ude00", "\xf0\x9f\x98\x80"},
            {"\\uD834\\uDD1E", "\xf0\x9d\x84\x9e"}, {"\\udbff\\udfff", "\xf4\x8f\xbf\xbf"}};
        const auto& [json, value] = kEscaped[c_.below(8)];
        s.json += json;
        s.value += value;
        return;
      }
      case 5:
      case 6: {
        static constexpr std::string_view kRaw[] = {"\xc3\xa9", "\xd0\x97\xd0\xbe\xd1\x80\xd0\xb2\xd0\xb8\xd1\x8f",
                                                    "\xf0\x9f\x98\x80", "\xe2\x82\xac", "\x7f", "\xef\xbf\xbd"};
        const std::string_view raw = c_.one_of(kRaw);
        s.json += raw;
        s.value += raw;
        return;
      }
      case 7:
        s.json += "C:\\\\Apps\\\\zorvia-app.exe";
        s.value += "C:\\Apps\\zorvia-app.exe";
        return;
      case 8:
      case 9:
      case 10:
      case 11:
        return;  // nothing: short and empty texts are common
      default: {
        // Only in skipped strings: what a text may not hold but a skipped value may.
        static constexpr std::string_view kLoose[] = {"\xff", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                                                      "\x80", "\\ud800", "\\udc00x", "\\ude00\\ud83d", "\\ud83d\\u0041"};
        s.json += c_.one_of(kLoose);
        return;
      }
    }
  }

  // A part that refuses the string wherever it stands.
  void string_flaw(Piece& s, bool skipped) {
    static constexpr std::string_view kBad[] = {"\\x", "\\U0041", "\\u12G4", "\\'", "\\a", "\\u00g", "\"x"};
    static constexpr std::string_view kNotText[] = {"\xff", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                                                    "\x80", "\xd0" "a", "\\ud800", "\\udc00x", "\\ude00\\ud83d",
                                                    "\\ud83d\\u0041", "\\ud83d\""};
    switch (c_.below(skipped ? 2 : 3)) {
      case 0:
        s.json += static_cast<char>(c_.below(0x20));  // raw control character
        return;
      case 1:
        s.json += c_.one_of(kBad);
        return;
      default:
        s.json += c_.one_of(kNotText);
        return;
    }
  }

  Piece string(bool skipped, bool flaw) {
    Piece s{"\"", ""};
    const unsigned parts = c_.below(4);
    const unsigned flaw_at = flaw ? c_.below(parts + 1) : parts + 1;
    for (unsigned i = 0; i <= parts; ++i) {
      if (i == flaw_at) string_flaw(s, skipped);
      if (i < parts) string_part(s, skipped);
    }
    s.json += '"';
    return s;
  }

  std::string u32_json(std::uint32_t& value) {
    switch (c_.below(6)) {
      case 0: value = 0; break;
      case 1: value = 1; break;
      case 2: value = 42; break;
      case 3: value = 4294967295u; break;
      case 4: value = 2147483648u; break;
      default: value = c_.u32(); break;
    }
    return std::to_string(value);
  }

  // Any JSON value, as an unknown key's value: never a flaw unless `flaw`.
  std::string any_value(unsigned depth, bool flaw) {
    if (flaw) {
      static constexpr std::string_view kBroken[] = {"[1,]", "{\"a\"}", "{\"a\":}", "[1 2]", "tru", "01", "-",
                                                     "1.",   ".5",      "{,}",     "[",     "{\"a\":1,}", "nul"};
      if (c_.below(2)) return std::string(c_.one_of(kBroken));
      return string(true, true).json;
    }
    switch (c_.below(depth > 3 ? 5 : 8)) {
      case 0: return "null";
      case 1: return c_.below(2) ? "true" : "false";
      case 2: {
        static constexpr std::string_view kNumbers[] = {"0", "-0", "1.5", "-12e+3", "1E400", "0.0e-0",
                                                        "123456789012345678901234567890", "4294967296"};
        return std::string(c_.one_of(kNumbers));
      }
      case 3:
      case 4: return string(true, false).json;
      case 5: {
        // Deep nesting, walked without recursion by the reader.
        const unsigned levels = 1 + c_.byte();
        return std::string(levels, '[') + std::string(levels, ']');
      }
      case 6: {
        std::string out = "[" + ws();
        const unsigned n = c_.below(4);
        for (unsigned i = 0; i < n; ++i) out += (i ? "," : "") + ws() + any_value(depth + 1, false) + ws();
        return out + "]";
      }
      default: {
        std::string out = "{" + ws();
        const unsigned n = c_.below(3);
        for (unsigned i = 0; i < n; ++i)
          out += (i ? "," : "") + ws() + string(true, false).json + ws() + ":" + ws() + any_value(depth + 1, false);
        return out + ws() + "}";
      }
    }
  }

  // A value of `field`'s form (stored into the expected marker), or one that refuses it.
  std::string field_value(std::size_t field, bool flaw) {
    const Kind kind = kKinds[field];
    const bool optional = kind == Kind::optional_text || kind == Kind::optional_u32;
    if (flaw) return value_flaw(kind);
    if (optional && c_.below(3) == 2) {
      clear(field);
      return "null";
    }
    switch (kind) {
      case Kind::text:
      case Kind::optional_text: {
        Piece s = string(false, false);
        set_text(field, std::move(s.value));
        return s.json;
      }
      case Kind::u32:
      case Kind::optional_u32: {
        std::uint32_t value = 0;
        std::string json = u32_json(value);
        (field == 1 ? expected_.pid : expected_.parent_pid.emplace()) = value;
        return json;
      }
      case Kind::boolean: {
        const bool value = c_.below(2);
        set_bool(field, value);
        return value ? "true" : "false";
      }
      case Kind::text_list: {
        expected_.active_tasks.clear();
        std::string out = "[" + ws();
        const unsigned n = c_.below(4);
        for (unsigned i = 0; i < n; ++i) {
          Piece s = string(false, false);
          out += (i ? "," : "") + ws() + s.json + ws();
          expected_.active_tasks.push_back(std::move(s.value));
        }
        return out + "]";
      }
    }
    return "null";
  }

  std::string value_flaw(Kind kind) {
    switch (kind) {
      case Kind::text:
      case Kind::optional_text: {
        static constexpr std::string_view kNotText[] = {"1", "true", "{}", "[]", "[\"a\"]"};
        if (c_.below(3) == 0) return kind == Kind::text ? "null" : std::string(c_.one_of(kNotText));
        if (c_.below(2) == 0) return std::string(c_.one_of(kNotText));
        return string(false, true).json;
      }
      case Kind::u32:
      case Kind::optional_u32: {
        static constexpr std::string_view kNotU32[] = {"4294967296", "-1", "-0",   "1.0",  "1e3",   "01", "\"42\"",
                                                       "99999999999999999999", "true", "+1", "0x10", "[1]", "1E0"};
        if (kind == Kind::u32 && c_.below(4) == 0) return "null";
        return std::string(c_.one_of(kNotU32));
      }
      case Kind::boolean: {
        static constexpr std::string_view kNotBool[] = {"0", "1", "\"true\"", "null", "tru", "False", "[]"};
        return std::string(c_.one_of(kNotBool));
      }
      case Kind::text_list: {
        static constexpr std::string_view kNotList[] = {"null",       "\"a\"",     "{}",   "[1]",  "[\"a\",null]",
                                                        "[\"a\",]",   "[\"a\" \"b\"]", "[[]]", "[true]", "[,]"};
        if (c_.below(2)) return std::string(c_.one_of(kNotList));
        return "[" + string(false, true).json + "]";
      }
    }
    return "null";
  }

  // The key as written: plain, with one letter escaped, or with the first one in capitals
  // (`counts` false: an unknown key then). `plain`: neither, where a flaw goes in.
  std::string key_json(std::size_t field, bool plain, bool& counts) {
    const std::string_view key = kKeys[field];
    counts = true;
    switch (plain ? 2 : c_.below(16)) {
      case 0: {
        const std::size_t at = c_.below(static_cast<unsigned>(key.size()));
        char hex[8];
        std::snprintf(hex, sizeof hex, c_.below(2) ? "\\u%04x" : "\\u%04X", static_cast<unsigned>(key[at]));
        return "\"" + std::string(key.substr(0, at)) + hex + std::string(key.substr(at + 1)) + "\"";
      }
      case 1: {
        // A differently cased key is an unknown one; a required field cannot do without it.
        if (zorvia::fuzzing::is_required(field)) return "\"" + std::string(key) + "\"";
        counts = false;
        std::string upper(key);
        upper[0] = static_cast<char>(upper[0] - 'a' + 'A');
        return "\"" + upper + "\"";
      }
      default:
        return "\"" + std::string(key) + "\"";
    }
  }

  std::string unknown_key() {
    static constexpr std::string_view kUnknown[] = {"\"extra\"", "\"Session_Id\"", "\"pid \"", "\"\"",
                                                    "\"\xd0\xba\xd0\xbb\xd1\x8e\xd1\x87\"", "\"session_id\\u0000\"",
                                                    "\"ui_ready2\"", "\"\\u0050ID\""};
    return std::string(c_.one_of(kUnknown));
  }

  void object_record(std::string& out) {
    std::vector<std::string> members;
    for (std::size_t field = 0; field < kFieldCount; ++field) {
      const bool required = zorvia::fuzzing::is_required(field);
      const bool flaw = flaw_here();
      // Fields with a default or null as absence are left out at times.
      if (!required && !flaw && c_.below(3) == 1) continue;
      unsigned flaw_kind = flaw ? c_.below(9) : 9;
      if (!required && (flaw_kind == 3 || flaw_kind == 4)) flaw_kind = 2;  // only a required field can go missing
      if (flaw_kind == 3) continue;
      bool counts = true;
      std::string key = flaw_kind == 4 ? "\"" + std::string(1, static_cast<char>(kKeys[field][0] - 'a' + 'A')) +
                                             std::string(kKeys[field].substr(1)) + "\""
                                       : key_json(field, flaw, counts);
      if (flaw_kind == 1) {
        Piece broken{"\"", ""};
        string_flaw(broken, false);
        key.insert(1 + c_.below(static_cast<unsigned>(key.size() - 1)), broken.json.substr(1));
      }
      std::string value = field_value(field, flaw_kind == 0);
      if (!counts) clear(field);
      std::string member = (flaw_kind == 6 ? bad_ws() : ws()) + key + ws() + (flaw_kind == 5 ? "" : ":") + ws() +
                           value + ws();
      if (flaw_kind == 2) member += "," + ws() + key + ":" + (kKinds[field] == Kind::optional_text ? "null" : value);
      if (flaw_kind == 7) member = "\x01" + member;  // the separator goes missing below
      if (flaw_kind == 8) member += ",";
      members.push_back(std::move(member));
    }
    const unsigned unknown = c_.below(4);
    for (unsigned i = 0; i < unknown; ++i) {
      const bool flaw = flaw_here();
      members.push_back(ws() + unknown_key() + ws() + ":" + ws() + any_value(0, flaw) + ws());
    }
    // Member order does not matter.
    for (std::size_t i = members.size(); i > 1; --i) std::swap(members[i - 1], members[c_.below(static_cast<unsigned>(i))]);
    out += "{";
    for (std::size_t i = 0; i < members.size(); ++i) {
      std::string& m = members[i];
      const bool drop_separator = !m.empty() && m[0] == '\x01';
      if (drop_separator) m.erase(0, 1);
      if (i > 0 && !drop_separator) out += ",";
      if (i == 0 && drop_separator) out += ",";  // the first member: a comma before it instead
      out += m;
    }
    out += ws() + "}";
  }

  void array_record(std::string& out) {
    // 13 to 16 elements: the trailing booleans may be left out. A flaw here: 12 or 17.
    std::size_t count = 13 + c_.below(4);
    if (flaw_here()) count = c_.below(2) ? 17 : 12;
    out += "[";
    for (std::size_t field = 0; field < count; ++field) {
      const bool flaw = flaw_here();
      const unsigned flaw_kind = flaw ? c_.below(4) : 4;
      const std::string value = field < kFieldCount ? field_value(field, flaw_kind == 0) : "true";
      // A separator missing, or one too many.
      if (field > 0 || flaw_kind == 2) out += field > 0 && flaw_kind == 2 ? "" : ",";
      out += (flaw_kind == 1 ? bad_ws() : ws()) + value + ws();
      if (flaw_kind == 3) out += ",";
    }
    out += "]";
  }

  void record_flaw(std::string& out) {
    switch (c_.below(array_form_ ? 6 : 5)) {
      case 0:
        out.insert(0, "\xef\xbb\xbf");
        return;
      case 1: {
        static constexpr std::string_view kAfter[] = {",", "x", "{}", "[]", std::string_view("\0", 1), "null", "\"\""};
        out += c_.one_of(kAfter);
        return;
      }
      case 2:
        out.resize(out.find_last_of(array_form_ ? ']' : '}'));
        return;
      case 3:
        out.insert(0, "x");
        return;
      case 4:
        out = "[" + out + "]";
        return;
      default:
        // Every element one place on: a text where the process id belongs.
        out.insert(out.find('[') + 1, "\"s-0\",");
        return;
    }
  }

  void clear(std::size_t field) {
    switch (field) {
      case 5: expected_.parent_pid.reset(); return;
      case 6: expected_.parent_name.reset(); return;
      case 7: expected_.parent_executable.reset(); return;
      case 10: expected_.active_tasks.clear(); return;
      case 11: expected_.expected_exit.reset(); return;
      case 12: expected_.expected_exit_detail.reset(); return;
      case 13:
      case 14:
      case 15: set_bool(field, false); return;
      default: return;  // a required field: the text is refused anyway
    }
  }

  void set_text(std::size_t field, std::string value) {
    switch (field) {
      case 0: expected_.session_id = std::move(value); return;
      case 2: expected_.started_at = std::move(value); return;
      case 3: expected_.version = std::move(value); return;
      case 4: expected_.executable = std::move(value); return;
      case 6: expected_.parent_name = std::move(value); return;
      case 7: expected_.parent_executable = std::move(value); return;
      case 11: expected_.expected_exit = std::move(value); return;
      default: expected_.expected_exit_detail = std::move(value); return;
    }
  }

  void set_bool(std::size_t field, bool value) {
    switch (field) {
      case 8: expected_.debug_build = value; return;
      case 9: expected_.e2e = value; return;
      case 13: expected_.exit_requested_event_seen = value; return;
      case 14: expected_.clean_exit = value; return;
      default: expected_.ui_ready = value; return;
    }
  }

  Choices& c_;
  bool array_form_ = false;
  bool chose_flaw_ = false;
  std::optional<unsigned> flaw_site_;
  unsigned sites_ = 0;
  bool flawed_ = false;
  ProcessMarker expected_;
};

[[noreturn]] void fail(const char* what, const std::string& text) {
  std::fprintf(stderr, "%s; the text (%zu bytes):\n", what, text.size());
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::abort();
}

// Builds the text of `data`, with its flaw or without, and checks what the reader makes of
// it; true when the input chose a flaw.
bool check(const std::uint8_t* data, std::size_t size, bool with_flaw) {
  Choices choices(data, size);
  MarkerText builder(choices, with_flaw);
  const std::string text = builder.build();
  const auto marker = zorvia::fuzzing::read_and_compare(text);
  if (builder.flawed()) {
    if (marker) fail("the reader accepts a text built with a flaw", text);
  } else if (!marker) {
    fail("the reader refuses a marker", text);
  } else if (*marker != builder.expected()) {
    fail("the reader gives other field values than the text holds", text);
  }
  return builder.chose_flaw();
}

}  // namespace

// Every input gives a marker to compare field by field, and an input that chose a flaw also
// its near miss.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (check(data, size, false)) (void)check(data, size, true);
  return 0;
}
