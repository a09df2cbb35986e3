#pragma once
// JSON values as the system writes them: compact, object keys in byte order, and the
// exact escapes that peers reading host errors and events files rely on.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zorvia::text {

class JsonValue;
using JsonArray = std::vector<JsonValue>;
// std::string compares through char_traits<char>, which orders as unsigned bytes:
// exactly the byte order the written objects need, a prefix key first.
using JsonObject = std::map<std::string, JsonValue, std::less<>>;

struct JsonNull {
  friend bool operator==(JsonNull, JsonNull) = default;
};

class JsonValue {
 public:
  using Storage = std::variant<JsonNull, bool, std::int64_t, std::uint64_t, std::string, JsonArray, JsonObject>;

  JsonValue() = default;
  JsonValue(JsonNull) {}
  JsonValue(bool b) : value_(b) {}
  JsonValue(std::int32_t i) : value_(std::int64_t{i}) {}
  JsonValue(std::int64_t i) : value_(i) {}
  JsonValue(std::uint32_t u) : value_(std::uint64_t{u}) {}
  JsonValue(std::uint64_t u) : value_(u) {}
  JsonValue(std::string s) : value_(std::move(s)) {}
  JsonValue(std::string_view s) : value_(std::string(s)) {}
  JsonValue(const char* s) : value_(std::string(s)) {}
  JsonValue(JsonArray a) : value_(std::move(a)) {}
  JsonValue(JsonObject o) : value_(std::move(o)) {}

  const Storage& storage() const { return value_; }

 private:
  Storage value_;
};

// Appends `s` as a JSON string: quotation mark and reverse solidus escaped, \b \t \n \f \r,
// other controls as \u00xx with lower-case hex, everything else (solidus, DEL, non-ASCII)
// as its bytes. `s` is expected to be UTF-8; its bytes are copied as they are.
void append_json_string(std::string& out, std::string_view s);

void append_json(std::string& out, const JsonValue& value);
[[nodiscard]] std::string to_json_text(const JsonValue& value);

}  // namespace zorvia::text
