#include "process_marker_reference.h"

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "marker_fields.h"
#include "text/unicode.h"

// Where the reference applies.
//
// nlohmann/json (3.11) reads RFC 8259 like the marker reader, with the same four whitespace
// bytes, the same escapes, the same raw-control-character rule and the same number grammar.
// Its SAX interface reports every key, so repeated keys are seen and handled by the record's
// rules, and it tells numbers apart by how they were written: number_unsigned for digits
// alone, number_integer for a leading minus (-0 included), number_float for a fraction, an
// exponent, or more digits than 64 bits hold. On top of that grammar the handler below
// applies the record's shape rules. nlohmann differs from the marker's rules in these
// places only:
//  - it skips a UTF-8 byte-order mark at the very start, where the marker has no
//    byte-order-mark handling: the reference refuses such an input itself;
//  - it takes a NUL byte outside strings for the end of the input, so it accepts a record
//    followed by NUL bytes; the marker refuses every NUL byte (raw in a string it is a
//    control character, outside one no token), so the reference refuses such an input too;
//  - inside a skipped value (an unknown key's value), where the marker checks only the
//    grammar, the escapes and raw control characters, nlohmann also refuses invalid UTF-8
//    in strings, an unpaired surrogate escape, and a number too large for a double
//    (error 406). So when nlohmann stops inside a skipped value and the input holds
//    invalid UTF-8 or an unpaired surrogate escape anywhere (found by a lexical scan of its
//    strings), or the error is 406, the reference does not apply.
// Every other stop of nlohmann, inside a skipped value or not, is a refusal by the marker's
// rules as well: outside skipped values the marker checks everything nlohmann checks, and
// a number that is no plain unsigned integer is wrong for every numeric field anyway.

namespace zorvia::fuzzing {

namespace {

using Json = nlohmann::json;

int hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The \uXXXX escape at `at` (pointing at the backslash), or -1.
long escape_at(std::string_view s, std::size_t at) {
  if (at + 6 > s.size() || s[at] != '\\' || s[at + 1] != 'u') return -1;
  long v = 0;
  for (std::size_t i = at + 2; i < at + 6; ++i) {
    const int d = hex(s[i]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

bool has_unpaired_surrogate_escape(std::string_view s) {
  bool in_string = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (!in_string) {
      in_string = s[i] == '"';
      continue;
    }
    if (s[i] == '"') {
      in_string = false;
    } else if (s[i] == '\\') {
      const long unit = escape_at(s, i);
      if (unit >= 0xDC00 && unit <= 0xDFFF) return true;
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        const long low = escape_at(s, i + 6);
        if (low < 0xDC00 || low > 0xDFFF) return true;
        i += 6;
      }
      ++i;  // the escaped character
    }
  }
  return false;
}

// One JSON value as the SAX events deliver it.
struct Value {
  enum class Type { null, boolean, unsigned_number, other_number, string, object, array } type;
  bool boolean = false;
  std::uint64_t number = 0;
  const std::string* string = nullptr;
};

class ReferenceSax final : public nlohmann::json_sax<Json> {
 public:
  lifecycle::ProcessMarker marker;
  bool stopped_in_skipped_value = false;
  int error_id = 0;

  bool null() override { return value({Value::Type::null}); }
  bool boolean(bool b) override { return value({Value::Type::boolean, b}); }
  bool number_integer(number_integer_t) override { return value({Value::Type::other_number}); }
  bool number_unsigned(number_unsigned_t n) override { return value({Value::Type::unsigned_number, false, n}); }
  bool number_float(number_float_t, const string_t&) override { return value({Value::Type::other_number}); }
  bool string(string_t& s) override { return value({Value::Type::string, false, 0, &s}); }
  bool binary(binary_t&) override { return false; }

  bool start_object(std::size_t) override {
    if (skip_depth_ > 0) return ++skip_depth_, true;
    if (form_ == Form::none) {
      form_ = Form::object;
      return true;
    }
    return value({Value::Type::object});
  }
  bool end_object() override {
    if (skip_depth_ > 0) return --skip_depth_, true;
    // Only the record itself can close here.
    for (const std::size_t index : kRequired) {
      if (!seen_[index]) return false;
    }
    return true;
  }
  bool start_array(std::size_t) override {
    if (skip_depth_ > 0) return ++skip_depth_, true;
    if (in_tasks_) return false;  // a list inside active_tasks
    if (form_ == Form::none) {
      form_ = Form::array;
      return true;
    }
    return value({Value::Type::array});
  }
  bool end_array() override {
    if (skip_depth_ > 0) return --skip_depth_, true;
    if (in_tasks_) {
      in_tasks_ = false;
      return true;
    }
    return next_index_ >= 13;  // the record in array form
  }
  bool key(string_t& k) override {
    if (skip_depth_ > 0) return true;
    pending_.reset();
    awaiting_unknown_value_ = true;
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
      if (k == kKeys[i]) {
        if (seen_[i]) return false;
        seen_[i] = true;
        pending_ = i;
        awaiting_unknown_value_ = false;
      }
    }
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    // The token that failed is the one after the last event, so the state tells where it stood.
    stopped_in_skipped_value = skip_depth_ > 0 || awaiting_unknown_value_;
    error_id = e.id;
    return false;
  }

 private:
  enum class Form { none, object, array };

  bool value(const Value& v) {
    if (skip_depth_ > 0) return true;
    if (form_ == Form::none) return false;  // the top level is no object or array
    if (in_tasks_) {
      if (v.type != Value::Type::string) return false;
      marker.active_tasks.push_back(*v.string);
      return true;
    }
    std::optional<std::size_t> field;
    if (form_ == Form::array) {
      if (next_index_ == kKeys.size()) return false;
      field = next_index_++;
    } else {
      field = pending_;
      pending_.reset();
      awaiting_unknown_value_ = false;
    }
    if (!field) {
      // An unknown key's value: containers are walked through and ignored.
      if (v.type == Value::Type::object || v.type == Value::Type::array) skip_depth_ = 1;
      return true;
    }
    return store(*field, v);
  }

  bool store(std::size_t field, const Value& v) {
    using T = Value::Type;
    const Kind kind = kKinds[field];
    if (v.type == T::null && (kind == Kind::optional_text || kind == Kind::optional_u32)) return true;
    switch (kind) {
      case Kind::text:
      case Kind::optional_text: {
        if (v.type != T::string) return false;
        std::string* plain[] = {&marker.session_id, nullptr, &marker.started_at, &marker.version, &marker.executable};
        if (field < 5) {
          *plain[field] = *v.string;
        } else {
          std::optional<std::string>* optional = field == 6    ? &marker.parent_name
                                                 : field == 7  ? &marker.parent_executable
                                                 : field == 11 ? &marker.expected_exit
                                                               : &marker.expected_exit_detail;
          *optional = *v.string;
        }
        return true;
      }
      case Kind::u32:
      case Kind::optional_u32:
        if (v.type != T::unsigned_number || v.number > 0xFFFFFFFFu) return false;
        (field == 1 ? marker.pid : marker.parent_pid.emplace()) = static_cast<std::uint32_t>(v.number);
        return true;
      case Kind::boolean: {
        if (v.type != T::boolean) return false;
        bool* flags[] = {&marker.debug_build, &marker.e2e, &marker.exit_requested_event_seen, &marker.clean_exit,
                         &marker.ui_ready};
        *flags[field == 8 ? 0 : field == 9 ? 1 : field - 11] = v.boolean;
        return true;
      }
      case Kind::text_list:
        if (v.type != T::array) return false;
        in_tasks_ = true;
        return true;
    }
    return false;
  }

  Form form_ = Form::none;
  std::array<bool, 16> seen_{};
  std::optional<std::size_t> pending_;  // the known key whose value comes next
  std::size_t next_index_ = 0;          // array form: the next element's field
  std::size_t skip_depth_ = 0;          // containers open inside an ignored value
  bool awaiting_unknown_value_ = false; // an unknown key was read, its value comes next
  bool in_tasks_ = false;
};

}  // namespace

ReferenceResult reference_marker(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF") || bytes.find('\0') != std::string_view::npos) {
    return {ReferenceVerdict::refused, std::nullopt};
  }
  ReferenceSax sax;
  const bool ok = Json::sax_parse(bytes.begin(), bytes.end(), &sax, Json::input_format_t::json, /*strict=*/true,
                                  /*ignore_comments=*/false);
  if (ok) return {ReferenceVerdict::accepted, std::move(sax.marker)};
  if (sax.stopped_in_skipped_value &&
      (sax.error_id == 406 || !text::is_valid_utf8(bytes) || has_unpaired_surrogate_escape(bytes))) {
    return {};
  }
  return {ReferenceVerdict::refused, std::nullopt};
}

}  // namespace zorvia::fuzzing
