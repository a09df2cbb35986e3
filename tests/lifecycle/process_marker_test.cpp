#include "lifecycle/process_marker.h"

#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zorvia::lifecycle {
namespace {

// The seven required members; tests append members after them.
constexpr std::string_view kRequired =
    R"("session_id":"s-1","pid":42,"started_at":"2026-01-31T12:00:00.000Z","version":"1.2.3",)"
    R"("executable":"C:\\Zorvia\\zorvia.exe","debug_build":false,"e2e":true)";

std::string object_with(std::string_view extra_members) {
  std::string out = "{";
  out += kRequired;
  if (!extra_members.empty()) {
    out += ',';
    out += extra_members;
  }
  out += '}';
  return out;
}

ProcessMarker required_only() {
  ProcessMarker m;
  m.session_id = "s-1";
  m.pid = 42;
  m.started_at = "2026-01-31T12:00:00.000Z";
  m.version = "1.2.3";
  m.executable = "C:\\Zorvia\\zorvia.exe";
  m.e2e = true;
  return m;
}

struct Verdict {
  std::string_view name;
  std::string_view text;
  bool accepted;
};

void expect_verdicts(std::span<const Verdict> cases, std::string (*build)(std::string_view)) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = build(c.text);
    SCOPED_TRACE(::testing::PrintToString(bytes));
    EXPECT_EQ(parse_process_marker(bytes).has_value(), c.accepted);
  }
}

std::string as_is(std::string_view text) { return std::string(text); }

TEST(ProcessMarkerDocument, OnlyOneObjectOrArrayBetweenWhitespace) {
  static constexpr Verdict kCases[] = {
      {"empty file", "", false},
      {"whitespace only", " \r\n\t \n", false},
      {"top-level string", R"("session_id")", false},
      {"top-level number", "42", false},
      {"top-level null", "null", false},
      {"empty object lacks the required fields", "{}", false},
      {"empty array", "[]", false},
      {"truncated object", R"({"session_id":"s-1","pid":4)", false},
      {"unclosed object", R"({"session_id":"s-1")", false},
      {"single quotes", "{'session_id':'s-1'}", false},
      {"unquoted key", "{session_id:\"s-1\"}", false},
      {"comment", "/* marker */{}", false},
      {"form feed is no whitespace", "\f{}", false},
  };
  expect_verdicts(kCases, as_is);
}

TEST(ProcessMarkerDocument, EncodingAndTrailingBytes) {
  const std::string plain = object_with("");
  EXPECT_EQ(parse_process_marker(plain), required_only());
  EXPECT_EQ(parse_process_marker(" \r\n\t" + plain + "\r\n \t\n"), required_only());

  EXPECT_FALSE(parse_process_marker("\xEF\xBB\xBF" + plain));
  // The same text saved as UTF-16 (little endian with its mark, and big endian without).
  std::string utf16le = "\xFF\xFE", utf16be;
  for (const char c : plain) {
    utf16le += c;
    utf16le += '\0';
    utf16be += '\0';
    utf16be += c;
  }
  EXPECT_FALSE(parse_process_marker(utf16le));
  EXPECT_FALSE(parse_process_marker(utf16be));

  for (const std::string tail : {",", "{}", "x", "[]", " ,", "}", "\n\"s\""}) {
    SCOPED_TRACE(::testing::PrintToString(tail));
    EXPECT_FALSE(parse_process_marker(plain + tail));
  }
  EXPECT_FALSE(parse_process_marker(plain + std::string(1, '\0')));
}

TEST(ProcessMarkerObject, RequiredFieldsAloneTakeTheDefaults) {
  const auto marker = parse_process_marker(object_with(""));
  ASSERT_TRUE(marker);
  EXPECT_EQ(*marker, required_only());
  EXPECT_FALSE(marker->parent_pid);
  EXPECT_FALSE(marker->parent_name);
  EXPECT_FALSE(marker->parent_executable);
  EXPECT_FALSE(marker->expected_exit);
  EXPECT_FALSE(marker->expected_exit_detail);
  EXPECT_TRUE(marker->active_tasks.empty());
  EXPECT_FALSE(marker->exit_requested_event_seen);
  EXPECT_FALSE(marker->clean_exit);
  EXPECT_FALSE(marker->ui_ready);
}

TEST(ProcessMarkerObject, EveryRequiredFieldMissingOrNullRefuses) {
  static constexpr std::string_view kMembers[] = {
      R"("session_id":"s-1")", R"("pid":42)", R"("started_at":"t")", R"("version":"v")",
      R"("executable":"e")",   R"("debug_build":false)", R"("e2e":true)",
  };
  for (std::size_t left_out = 0; left_out < std::size(kMembers); ++left_out) {
    std::string missing = "{", nulled = "{";
    for (std::size_t i = 0; i < std::size(kMembers); ++i) {
      const std::string member(kMembers[i]);
      const std::string key = member.substr(0, member.find(':'));
      const std::string sep = i == 0 ? "" : ",";
      if (i != left_out) missing += (missing.size() > 1 ? "," : "") + member;
      nulled += sep + (i == left_out ? key + ":null" : member);
    }
    missing += '}';
    nulled += '}';
    SCOPED_TRACE(kMembers[left_out]);
    EXPECT_FALSE(parse_process_marker(missing)) << missing;
    EXPECT_FALSE(parse_process_marker(nulled)) << nulled;
  }
}

TEST(ProcessMarkerObject, MemberRules) {
  static constexpr Verdict kCases[] = {
      // null only where the field is optional; a default for a missing key is no licence for null
      {"clean_exit null", R"("clean_exit":null)", false},
      {"exit_requested_event_seen null", R"("exit_requested_event_seen":null)", false},
      {"ui_ready null", R"("ui_ready":null)", false},
      {"active_tasks null", R"("active_tasks":null)", false},
      {"optional fields null",
       R"("parent_pid":null,"parent_name":null,"parent_executable":null,"expected_exit":null,"expected_exit_detail":null)",
       true},
      // keys
      {"case-changed key is unknown, real key present", R"("Session_Id":5)", true},
      {"known key twice with equal values", R"("clean_exit":true,"clean_exit":true)", false},
      {"optional key null twice", R"("expected_exit":null,"expected_exit":null)", false},
      {"required key repeated", R"("pid":42)", false},
      {"escaped key names the field and repeats it", R"("\u0070id":42)", false},
      {"unknown key twice", R"("extra":1,"extra":{"a":[]})", true},
      {"unknown keys of every kind",
       R"("s":"x","n":-0.5e+3,"t":true,"f":false,"z":null,"a":[1,[2,{"k":[]}],{}],"o":{"p":{"q":[null,"r"]}},"Pid":"7")",
       true},
      {"key with invalid UTF-8", "\"k\xFF\":1", false},
      {"key that is not a string", R"(5:1)", false},
      {"missing colon", R"("extra" 1)", false},
      {"trailing comma before the brace", R"("extra":1,)", false},
      {"double comma", R"("extra":1,,"more":2)", false},
      // booleans
      {"boolean as 0", R"("clean_exit":0)", false},
      {"boolean as 1", R"("ui_ready":1)", false},
      {"boolean as string", R"("exit_requested_event_seen":"true")", false},
      {"boolean as capitalised literal", R"("clean_exit":True)", false},
      // lists of texts
      {"empty active_tasks", R"("active_tasks":[])", true},
      {"active_tasks holding a number", R"("active_tasks":["a",1])", false},
      {"active_tasks holding null", R"("active_tasks":["a",null])", false},
      {"active_tasks holding a list", R"("active_tasks":[["a"]])", false},
      {"active_tasks as a string", R"("active_tasks":"a")", false},
      {"active_tasks with a trailing comma", R"("active_tasks":["a",])", false},
      // texts
      {"optional text as a number", R"("expected_exit":1)", false},
      {"raw tab in a text", "\"expected_exit\":\"a\tb\"", false},
      {"raw line feed in a text", "\"parent_name\":\"a\nb\"", false},
      {"escaped tab in a text", R"("expected_exit":"a\tb")", true},
      {"unknown escape", R"("expected_exit":"a\x41")", false},
      {"short u escape", R"("expected_exit":"\u12")", false},
      {"surrogate pair", R"("expected_exit":"\ud83d\ude00")", true},
      {"lone high surrogate", R"("expected_exit":"\ud83d")", false},
      {"high surrogate before a plain character", R"("expected_exit":"\ud83dx")", false},
      {"lone low surrogate", R"("expected_exit":"\ude00")", false},
      {"reversed surrogates", R"("expected_exit":"\ude00\ud83d")", false},
      {"two high surrogates", R"("expected_exit":"\ud83d\ud83d")", false},
      {"invalid UTF-8 in a known text", "\"parent_executable\":\"a\xC3(\"", false},
      {"overlong UTF-8 in a known text", "\"version2\":1,\"expected_exit\":\"\xC0\xAF\"", false},
      {"escaped NUL in a text", R"("expected_exit":"\u0000")", true},
      // skipped values: checked for grammar, escapes and raw control characters only
      {"invalid UTF-8 inside an unknown value", "\"extra\":{\"k\":[\"\xFF\xFE\"]}", true},
      {"lone surrogate inside an unknown value", R"("extra":"\ud800")", true},
      {"bad escape inside an unknown value", R"("extra":["\q"])", false},
      {"raw control character inside an unknown value", "\"extra\":\"\x01\"", false},
      {"malformed array inside an unknown value", R"("extra":[1,])", false},
      {"mismatched brackets inside an unknown value", R"("extra":[1})", false},
      {"object key not a string inside an unknown value", R"("extra":{1:2})", false},
      {"number with a leading zero inside an unknown value", R"("extra":01)", false},
      {"number with an empty fraction inside an unknown value", R"("extra":1.)", false},
      {"number with an empty exponent inside an unknown value", R"("extra":1e+)", false},
      {"bare minus inside an unknown value", R"("extra":-)", false},
      {"misspelled literal inside an unknown value", R"("extra":nul)", false},
      {"huge exponent inside an unknown value", R"("extra":1e99999)", true},
  };
  expect_verdicts(kCases, object_with);
}

TEST(ProcessMarkerObject, UnsignedNumbersAreDigitsAlone) {
  struct Case {
    std::string_view text;
    std::optional<std::uint32_t> value;
  };
  static constexpr Case kCases[] = {
      {"0", 0u},        {"4294967295", 4294967295u}, {"4294967296", std::nullopt}, {"18446744073709551617", std::nullopt},
      {"-1", std::nullopt}, {"-0", std::nullopt},    {"1.0", std::nullopt},        {"1e3", std::nullopt},
      {"1E3", std::nullopt}, {"\"1\"", std::nullopt}, {"01", std::nullopt},        {"00", std::nullopt},
      {"+1", std::nullopt},  {"true", std::nullopt},  {"", std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    std::string with_pid = "{";
    with_pid += kRequired;
    with_pid.replace(with_pid.find("\"pid\":42"), 8, "\"pid\":" + std::string(c.text));
    with_pid += '}';
    const auto by_pid = parse_process_marker(with_pid);
    ASSERT_EQ(by_pid.has_value(), c.value.has_value()) << with_pid;
    if (by_pid) {
      EXPECT_EQ(by_pid->pid, *c.value);
    }

    const auto by_parent = parse_process_marker(object_with("\"parent_pid\":" + std::string(c.text)));
    ASSERT_EQ(by_parent.has_value(), c.value.has_value());
    if (by_parent) {
      EXPECT_EQ(by_parent->parent_pid, c.value);
    }
  }
}

TEST(ProcessMarkerObject, ValuesAreUnescapedAndKeptInOrder) {
  const auto marker = parse_process_marker(object_with(
      R"("parent_pid":7,"parent_name":"","parent_executable":"C:\/x\\y.exe",)"
      R"("active_tasks":["b","a","b",""],"expected_exit":"\"\\\/\b\f\n\r\t",)"
      R"("expected_exit_detail":"\u0041\u00e9\u20AC\ud83d\ude00 \u0000|",)"
      R"("exit_requested_event_seen":true,"clean_exit":true,"ui_ready":true,"\u0053ession_id":1)"));
  ASSERT_TRUE(marker);
  EXPECT_EQ(marker->parent_pid, 7u);
  EXPECT_EQ(marker->parent_name, "");  // an empty text is present
  EXPECT_EQ(marker->parent_executable, "C:/x\\y.exe");
  EXPECT_EQ(marker->active_tasks, (std::vector<std::string>{"b", "a", "b", ""}));
  EXPECT_EQ(marker->expected_exit, "\"\\/\b\f\n\r\t");
  EXPECT_EQ(marker->expected_exit_detail, std::string("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 \0|", 13));
  EXPECT_TRUE(marker->exit_requested_event_seen);
  EXPECT_TRUE(marker->clean_exit);
  EXPECT_TRUE(marker->ui_ready);
  EXPECT_EQ(marker->session_id, "s-1");  // "Session_id" was an unknown key

  // A key spelled with escapes is the field it unescapes to.
  const auto escaped_key = parse_process_marker(object_with(R"("clean\u005fexit":true)"));
  ASSERT_TRUE(escaped_key);
  EXPECT_TRUE(escaped_key->clean_exit);
}

TEST(ProcessMarkerObject, SkippedValuesNestToAnyDepth) {
  constexpr std::size_t kDepth = 200'000;
  const std::string nested = std::string(kDepth, '[') + std::string(kDepth, ']');
  EXPECT_TRUE(parse_process_marker(object_with("\"deep\":" + nested)));
  std::string objects;
  for (std::size_t i = 0; i < kDepth; ++i) objects += "{\"k\":";
  objects += "[]" + std::string(kDepth, '}');
  EXPECT_TRUE(parse_process_marker(object_with("\"deep\":" + objects)));

  EXPECT_FALSE(parse_process_marker(object_with("\"deep\":" + std::string(kDepth, '['))));
  EXPECT_FALSE(parse_process_marker(object_with("\"deep\":" + nested + "]")));
  // The same depth with one bracket of the wrong kind near the middle.
  std::string mismatched = nested;
  mismatched[kDepth + kDepth / 2] = '}';
  EXPECT_FALSE(parse_process_marker(object_with("\"deep\":" + mismatched)));
}

// Values by position, `session_id` first.
constexpr std::string_view kArrayElements[] = {
    R"("s-1")", "42", R"("2026-01-31T12:00:00.000Z")", R"("1.2.3")", R"("C:\\Zorvia\\zorvia.exe")",
    "7", R"("explorer.exe")", R"("C:\\Windows\\explorer.exe")", "false", "true",
    R"(["sync","ui"])", R"("update")", R"("installer started")", "true", "true", "true",
};

std::string array_of(std::size_t count) {
  std::string out = "[";
  for (std::size_t i = 0; i < count; ++i) {
    if (i) out += ", ";
    out += i < std::size(kArrayElements) ? kArrayElements[i] : std::string_view("null");
  }
  return out + "]";
}

TEST(ProcessMarkerArray, PositionsAndLengths) {
  ProcessMarker full = required_only();
  full.parent_pid = 7;
  full.parent_name = "explorer.exe";
  full.parent_executable = "C:\\Windows\\explorer.exe";
  full.active_tasks = {"sync", "ui"};
  full.expected_exit = "update";
  full.expected_exit_detail = "installer started";
  full.exit_requested_event_seen = full.clean_exit = full.ui_ready = true;

  EXPECT_EQ(parse_process_marker(array_of(16)), full);
  std::string object = "{";
  for (std::size_t i = 0; i < 16; ++i) {
    static constexpr std::string_view kKeys[] = {
        "session_id",  "pid", "started_at",   "version",       "executable",           "parent_pid",
        "parent_name", "parent_executable",   "debug_build",   "e2e",                  "active_tasks",
        "expected_exit", "expected_exit_detail", "exit_requested_event_seen", "clean_exit", "ui_ready"};
    object += std::string(i ? "," : "") + "\"" + std::string(kKeys[i]) + "\":" + std::string(kArrayElements[i]);
  }
  EXPECT_EQ(parse_process_marker(object + "}"), full);

  ProcessMarker shorter = full;
  shorter.exit_requested_event_seen = shorter.clean_exit = shorter.ui_ready = false;
  EXPECT_EQ(parse_process_marker(array_of(13)), shorter);
  shorter.exit_requested_event_seen = true;
  EXPECT_EQ(parse_process_marker(array_of(14)), shorter);

  for (const std::size_t count : {0u, 1u, 7u, 12u, 17u, 20u}) {
    SCOPED_TRACE(count);
    EXPECT_FALSE(parse_process_marker(array_of(count)));
  }
  std::string trailing_comma = array_of(16);
  trailing_comma.insert(trailing_comma.size() - 1, ",");
  EXPECT_FALSE(parse_process_marker(trailing_comma));
}

TEST(ProcessMarkerArray, ElementsHaveTheirFieldsForm) {
  struct Case {
    std::size_t index;
    std::string_view value;
    bool accepted;
  };
  static constexpr Case kCases[] = {
      {5, "null", true},  {6, "null", true},   {7, "null", true},   {11, "null", true},  {12, "null", true},
      {0, "null", false}, {1, "null", false},  {10, "null", false}, {13, "null", false}, {15, "null", false},
      {1, "-1", false},   {5, "1.5", false},   {8, "0", false},     {9, "\"true\"", false}, {10, "[1]", false},
      {3, "3", false},    {4, "{}", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "element " << c.index << " = " << c.value);
    std::string text = "[";
    for (std::size_t i = 0; i < 16; ++i) {
      if (i) text += ",";
      text += i == c.index ? c.value : kArrayElements[i];
    }
    text += "]";
    const auto marker = parse_process_marker(text);
    EXPECT_EQ(marker.has_value(), c.accepted) << text;
  }
  const auto nulls = parse_process_marker(
      R"(["s",1,"t","v","e",null,null,null,true,false,[],null,null])");
  ASSERT_TRUE(nulls);
  EXPECT_FALSE(nulls->parent_pid);
  EXPECT_FALSE(nulls->expected_exit);
  EXPECT_TRUE(nulls->debug_build);
}

}  // namespace
}  // namespace zorvia::lifecycle
