#include "text/json_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>

namespace zorvia::text {
namespace {

TEST(JsonText, ObjectKeysComeOutInByteOrderWithPrefixFirst) {
  const JsonObject object{{"ab", 1}, {"a", 2}, {"b", 3}, {"\xc3\xa9", 4}, {"Z", 5}, {"", 6}};
  EXPECT_EQ(to_json_text(object), "{\"\":6,\"Z\":5,\"a\":2,\"ab\":1,\"b\":3,\"\xc3\xa9\":4}");
}

TEST(JsonText, StringEscapes) {
  struct Case {
    std::string_view in;
    std::string_view out;
  };
  static constexpr Case kCases[] = {
      {"", R"("")"},
      {"\"", R"("\"")"},
      {"\\", R"("\\")"},
      {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
      {std::string_view("\x00", 1), R"("\u0000")"},
      {"\x01\x0b\x1f", R"("\u0001\u000b\u001f")"},
      {"\x1b", R"("\u001b")"},
      {"/", R"("/")"},
      {"\x7f", "\"\x7f\""},
      {"Зорвия \xe2\x80\xa8 \xf0\x9f\x98\x80", "\"Зорвия \xe2\x80\xa8 \xf0\x9f\x98\x80\""},
      {"a\"b\\c", R"("a\"b\\c")"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.in));
    std::string out;
    append_json_string(out, c.in);
    EXPECT_EQ(out, c.out);
  }
}

TEST(JsonText, IntegersSignedAndUnsigned) {
  const JsonArray values{JsonValue(std::int32_t{0}), JsonValue(std::int32_t{-1}),
                         JsonValue(std::int32_t{std::numeric_limits<std::int32_t>::min()}),
                         JsonValue(std::uint32_t{4294967295u}), JsonValue(std::uint64_t{18446744073709551615ull}),
                         JsonValue(std::int64_t{std::numeric_limits<std::int64_t>::min()})};
  EXPECT_EQ(to_json_text(values), "[0,-1,-2147483648,4294967295,18446744073709551615,-9223372036854775808]");
}

TEST(JsonText, NestedValuesAreCompactAndParseBack) {
  const JsonObject object{{"list", JsonArray{"x", JsonNull{}, true, false}},
                          {"inner", JsonObject{{"k", "v"}, {"e", JsonArray{}}}},
                          {"none", JsonNull{}}};
  const std::string out = to_json_text(object);
  EXPECT_EQ(out, R"({"inner":{"e":[],"k":"v"},"list":["x",null,true,false],"none":null})");
  const auto parsed = nlohmann::json::parse(out);
  EXPECT_EQ(parsed["list"][0], "x");
  EXPECT_TRUE(parsed["none"].is_null());
}

}  // namespace
}  // namespace zorvia::text
