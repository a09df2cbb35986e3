#include "lifecycle/process_marker.h"

#include <gtest/gtest.h>

#include <string>

namespace zorvia::lifecycle {
namespace {

// The seven required fields; cases add to or replace parts of it.
const std::string kRequired =
    R"("session_id":"s-1","pid":42,"started_at":"2026-01-31T12:00:00Z","version":"1.2.3",)"
    R"("executable":"C:\\Apps\\Zorvia.exe","debug_build":false,"e2e":true)";

std::string object(const std::string& extra = "") { return "{" + kRequired + extra + "}"; }

std::string with_pid(const std::string& pid) {
  return R"({"session_id":"s","pid":)" + pid +
         R"(,"started_at":"t","version":"v","executable":"e","debug_build":false,"e2e":false})";
}

std::string with_session_id(const std::string& json_string) {
  return R"({"session_id":)" + json_string +
         R"(,"pid":1,"started_at":"t","version":"v","executable":"e","debug_build":false,"e2e":false})";
}

const std::string kArray16 =
    R"(["s-1",42,"t","v","e",7,"parent","C:\\p.exe",true,false,["a","b"],"update","detail",true,true,true])";

TEST(ProcessMarker, RequiredFieldsAloneGiveTheDefaults) {
  const auto m = parse_process_marker(object());
  ASSERT_TRUE(m);
  EXPECT_EQ(m->session_id, "s-1");
  EXPECT_EQ(m->pid, 42u);
  EXPECT_EQ(m->started_at, "2026-01-31T12:00:00Z");
  EXPECT_EQ(m->version, "1.2.3");
  EXPECT_EQ(m->executable, "C:\\Apps\\Zorvia.exe");
  EXPECT_FALSE(m->debug_build);
  EXPECT_TRUE(m->e2e);
  EXPECT_EQ(m->parent_pid, std::nullopt);
  EXPECT_EQ(m->parent_name, std::nullopt);
  EXPECT_EQ(m->parent_executable, std::nullopt);
  EXPECT_EQ(m->expected_exit, std::nullopt);
  EXPECT_EQ(m->expected_exit_detail, std::nullopt);
  EXPECT_TRUE(m->active_tasks.empty());
  EXPECT_FALSE(m->exit_requested_event_seen);
  EXPECT_FALSE(m->clean_exit);
  EXPECT_FALSE(m->ui_ready);
}

TEST(ProcessMarker, EveryFieldRead) {
  const auto m = parse_process_marker(object(
      R"(,"parent_pid":7,"parent_name":"parent","parent_executable":"C:\\p.exe","active_tasks":["a","","a"],)"
      R"("expected_exit":"","expected_exit_detail":"d","exit_requested_event_seen":true,"clean_exit":true,"ui_ready":true)"));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->parent_pid, 7u);
  EXPECT_EQ(m->parent_name, "parent");
  EXPECT_EQ(m->parent_executable, "C:\\p.exe");
  EXPECT_EQ(m->active_tasks, (std::vector<std::string>{"a", "", "a"}));
  EXPECT_EQ(m->expected_exit, "") << "an empty text stays present";
  EXPECT_EQ(m->expected_exit_detail, "d");
  EXPECT_TRUE(m->exit_requested_event_seen);
  EXPECT_TRUE(m->clean_exit);
  EXPECT_TRUE(m->ui_ready);
}

TEST(ProcessMarker, AcceptanceTable) {
  struct Case {
    std::string name;
    std::string input;
    bool accepted;
  };
  const Case cases[] = {
      // Whole-file shape.
      {"empty file", "", false},
      {"white space only", " \r\n\t ", false},
      {"byte-order mark", "\xEF\xBB\xBF" + object(), false},
      {"utf-16 file", std::string("\xFF\xFE{\0\"\0", 6), false},
      {"form feed is not white space", "\f" + object(), false},
      {"empty object", "{}", false},
      {"a string at top level", R"("s")", false},
      {"trailing white space", object() + " \r\n\t", true},
      {"trailing comma", object() + ",", false},
      {"second value", object() + "{}", false},
      {"trailing NUL", object() + std::string(1, '\0'), false},
      {"truncated", object().substr(0, 40), false},
      {"comma before the closing brace", "{" + kRequired + ",}", false},
      {"single quotes", "{'session_id':'s'}", false},
      // Required fields, defaults and nulls.
      {"a required field missing", R"({"session_id":"s","pid":1,"started_at":"t","version":"v","executable":"e","debug_build":false})", false},
      {"clean_exit null", object(R"(,"clean_exit":null)"), false},
      {"active_tasks null", object(R"(,"active_tasks":null)"), false},
      {"ui_ready null", object(R"(,"ui_ready":null)"), false},
      {"exit_requested_event_seen null", object(R"(,"exit_requested_event_seen":null)"), false},
      {"optional fields null", object(R"(,"parent_pid":null,"parent_name":null,"parent_executable":null,"expected_exit":null,"expected_exit_detail":null)"), true},
      {"session_id null", R"({"session_id":null,"pid":1,"started_at":"t","version":"v","executable":"e","debug_build":false,"e2e":false})", false},
      {"pid null", with_pid("null"), false},
      // Keys.
      {"case-changed key is unknown", object(R"(,"Session_Id":5)"), true},
      {"case-changed key instead of the real one", R"({"Session_Id":"s","pid":1,"started_at":"t","version":"v","executable":"e","debug_build":false,"e2e":false})", false},
      {"escaped key names the field", R"({"session\u005fid":"s","pid":1,"started_at":"t","version":"v","executable":"e","debug_build":false,"e2e":false})", true},
      {"known key twice", object(R"(,"pid":42)"), false},
      {"expected_exit null twice", object(R"(,"expected_exit":null,"expected_exit":null)"), false},
      {"unknown key twice", object(R"(,"x":1,"x":2)"), true},
      {"unknown keys with nested values", object(R"(,"x":{"a":[1,-2.5e+3,{"b":[[],{}]},true,false,null,"s"]},"y":[])"), true},
      {"malformed skipped value", object(R"(,"x":[1,])"), false},
      {"skipped number without digits", object(R"(,"x":-)"), false},
      {"skipped number with leading zero", object(R"(,"x":01)"), false},
      {"key that is not a string", "{" + kRequired + ",x:1}", false},
      {"missing colon", "{" + kRequired + R"(,"x" 1})", false},
      // Numbers.
      {"pid 0", with_pid("0"), true},
      {"pid 4294967295", with_pid("4294967295"), true},
      {"pid 4294967296", with_pid("4294967296"), false},
      {"pid -1", with_pid("-1"), false},
      {"pid -0", with_pid("-0"), false},
      {"pid 1.0", with_pid("1.0"), false},
      {"pid 1e3", with_pid("1e3"), false},
      {"pid as a string", with_pid(R"("1")"), false},
      {"pid with a leading zero", with_pid("01"), false},
      {"parent_pid 4294967296", object(R"(,"parent_pid":4294967296)"), false},
      {"parent_pid -0", object(R"(,"parent_pid":-0)"), false},
      // Booleans and lists.
      {"boolean as 0", object(R"(,"clean_exit":0)"), false},
      {"boolean as 1", object(R"(,"ui_ready":1)"), false},
      {"boolean as a string", object(R"(,"clean_exit":"true")"), false},
      {"active_tasks with a number", object(R"(,"active_tasks":["a",1])"), false},
      {"active_tasks with null", object(R"(,"active_tasks":["a",null])"), false},
      {"active_tasks empty", object(R"(,"active_tasks":[])"), true},
      {"active_tasks trailing comma", object(R"(,"active_tasks":["a",])"), false},
      // Texts.
      {"raw tab in a text", with_session_id("\"a\tb\""), false},
      {"raw line feed in a text", with_session_id("\"a\nb\""), false},
      {"escaped tab", with_session_id(R"("a\tb")"), true},
      {"surrogate pair", with_session_id(R"("\ud83d\ude00")"), true},
      {"lone high surrogate", with_session_id(R"("\ud83d")"), false},
      {"lone low surrogate", with_session_id(R"("\ude00")"), false},
      {"reversed surrogates", with_session_id(R"("\ude00\ud83d")"), false},
      {"high surrogate then a letter", with_session_id(R"("\ud83dx")"), false},
      {"unknown escape", with_session_id(R"("\x41")"), false},
      {"short u escape", with_session_id(R"("\u12")"), false},
      {"invalid UTF-8 in a known text", with_session_id("\"a\xFF\""), false},
      {"overlong UTF-8 in a known text", with_session_id("\"\xC0\xAF\""), false},
      {"invalid UTF-8 in an unknown key", object(",\"k\xFF\":1"), false},
      {"invalid UTF-8 inside an unknown key's value", object(",\"x\":[\"\xFF\",{\"\xFE\":1}]"), true},
      {"lone surrogate inside an unknown key's value", object(R"(,"x":"\ud800")"), true},
      {"raw control inside an unknown key's value", object(",\"x\":\"\x01\""), false},
      {"bad escape inside an unknown key's value", object(R"(,"x":"\q")"), false},
      // Array form.
      {"array of 16", kArray16, true},
      {"array of 13", R"(["s",1,"t","v","e",null,null,null,false,false,[],null,null])", true},
      {"array of 12", R"(["s",1,"t","v","e",null,null,null,false,false,[],null])", false},
      {"array of 17", kArray16.substr(0, kArray16.size() - 1) + ",true]", false},
      {"array with a null boolean", R"(["s",1,"t","v","e",null,null,null,false,false,[],null,null,null])", false},
      {"array with null active_tasks", R"(["s",1,"t","v","e",null,null,null,false,false,null,null,null])", false},
      {"array trailing comma", R"(["s",1,"t","v","e",null,null,null,false,false,[],null,null,])", false},
      {"empty array", "[]", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse_process_marker(c.input).has_value(), c.accepted);
  }
}

TEST(ProcessMarker, TextsAreUnescaped) {
  const auto m = parse_process_marker(with_session_id(R"("q\" b\\ s\/ \b\f\n\r\t \u0416 \ud83d\ude00")"));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->session_id, "q\" b\\ s/ \b\f\n\r\t \xD0\x96 \xF0\x9F\x98\x80");
}

TEST(ProcessMarker, ArrayFormMatchesTheObjectForm) {
  const auto from_array = parse_process_marker(kArray16);
  const auto from_object = parse_process_marker(
      R"({"ui_ready":true,"clean_exit":true,"exit_requested_event_seen":true,"expected_exit_detail":"detail",)"
      R"("expected_exit":"update","active_tasks":["a","b"],"e2e":false,"debug_build":true,)"
      R"("parent_executable":"C:\\p.exe","parent_name":"parent","parent_pid":7,"executable":"e","version":"v",)"
      R"("started_at":"t","pid":42,"session_id":"s-1"})");
  ASSERT_TRUE(from_array);
  ASSERT_TRUE(from_object);
  EXPECT_EQ(*from_array, *from_object);

  const auto short_form = parse_process_marker(R"(["s",1,"t","v","e",null,null,null,false,false,[],null,null])");
  ASSERT_TRUE(short_form);
  EXPECT_FALSE(short_form->exit_requested_event_seen);
  EXPECT_FALSE(short_form->clean_exit);
  EXPECT_FALSE(short_form->ui_ready);
}

TEST(ProcessMarker, DeepSkippedValuesNeedNoRecursion) {
  const std::size_t depth = 1'000'000;
  std::string deep = object(",\"x\":" + std::string(depth, '[') + std::string(depth, ']'));
  EXPECT_TRUE(parse_process_marker(deep));
  std::string objects;
  for (int i = 0; i < 100'000; ++i) objects += "{\"k\":";
  objects += "1" + std::string(100'000, '}');
  EXPECT_TRUE(parse_process_marker(object(",\"x\":" + objects)));
  EXPECT_FALSE(parse_process_marker(object(",\"x\":" + std::string(depth, '['))));
}

}  // namespace
}  // namespace zorvia::lifecycle
