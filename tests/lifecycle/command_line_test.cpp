#include "lifecycle/command_line.h"

#include <gtest/gtest.h>

#include <array>

namespace zorvia::lifecycle {
namespace {

std::string shown(std::u16string_view units) {
  std::string out;
  for (const char16_t u : units) {
    if (u >= 0x20 && u < 0x7f) {
      out.push_back(static_cast<char>(u));
    } else {
      char buf[16];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(u));
      out += buf;
    }
  }
  return out;
}

TEST(SplitCommandLine, PlatformArgumentRules) {
  struct Case {
    std::u16string_view line;
    std::array<std::u16string_view, 4> expected;
    std::size_t count;
  };
  static constexpr Case kCases[] = {
      {u"", {u""}, 1},
      {u"prog", {u"prog"}, 1},
      {u"prog a b", {u"prog", u"a", u"b"}, 3},
      {u"prog \t a\t\tb", {u"prog", u"a", u"b"}, 3},
      // Argument 0: quotes toggle and vanish, backslashes stay, even before a quote.
      {u"\"C:\\Program Files\\z.exe\" a", {u"C:\\Program Files\\z.exe", u"a"}, 2},
      {u"C:\\dir\\\"x y\"\\z a", {u"C:\\dir\\x y\\z", u"a"}, 2},
      {u"C:\\dir\\\" a", {u"C:\\dir\\ a"}, 1},
      {u" prog", {u"", u"prog"}, 2},
      // Quoting inside later arguments.
      {u"p a\"b c\"d", {u"p", u"ab cd"}, 2},
      {u"p \"a\"\"b\"", {u"p", u"a\"b"}, 2},
      {u"p \"a\"\"\"\"b\"", {u"p", u"a\"\"b"}, 2},
      {u"p a\"\"b", {u"p", u"ab"}, 2},
      {u"p \"\"", {u"p", u""}, 2},
      {u"p \"\" \"\"", {u"p", u"", u""}, 3},
      {u"p \"", {u"p", u""}, 2},
      {u"p \"open to the end  ", {u"p", u"open to the end  "}, 2},
      // Trailing blanks give nothing.
      {u"p a   \t", {u"p", u"a"}, 2},
      {u"p   ", {u"p"}, 1},
      // Backslash runs: literal unless a quote follows.
      {u"p a\\\\b", {u"p", u"a\\\\b"}, 2},
      {u"p a\\\\", {u"p", u"a\\\\"}, 2},
      {u"p a\\\"b", {u"p", u"a\"b"}, 2},
      {u"p a\\\\\"b c\"", {u"p", u"a\\b c"}, 2},
      {u"p a\\\\\\\"b", {u"p", u"a\\\"b"}, 2},
      {u"p \"C:\\dir\\\\\" next", {u"p", u"C:\\dir\\", u"next"}, 3},
      // A single backslash before the closing quote makes it literal and runs on.
      {u"p \"C:\\dir\\\" next x", {u"p", u"C:\\dir\" next x"}, 2},
      // Other white space is part of an argument.
      {u"p a\nb\vc", {u"p", u"a\nb\vc"}, 2},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(shown(c.line));
    const auto arguments = split_command_line(c.line);
    ASSERT_EQ(arguments.size(), c.count);
    for (std::size_t i = 0; i < c.count; ++i) EXPECT_EQ(shown(arguments[i]), shown(c.expected[i])) << "argument " << i;
  }
}

TEST(ParseProcessId, StrictUnsigned32) {
  struct Case {
    std::string_view text;
    std::optional<std::uint32_t> pid;
  };
  static constexpr Case kCases[] = {
      {"42", 42},
      {"0042", 42},
      {"+42", 42},
      {"0", 0},
      {"+0", 0},
      {"4294967295", 4294967295u},
      {"000000000000000000004294967295", 4294967295u},
      {"4294967296", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"-1", std::nullopt},
      {"-0", std::nullopt},
      {"++1", std::nullopt},
      {"+-1", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"", std::nullopt},
      {"0x2A", std::nullopt},
      {"4 2", std::nullopt},
      {" 42", std::nullopt},
      {"42\t", std::nullopt},
      {"4_2", std::nullopt},
      {"42a", std::nullopt},
      {"\xd9\xa4\xd9\xa2", std::nullopt},  // Arabic-Indic digits
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(parse_process_id(c.text), c.pid);
  }
}

enum class Kind { not_watch_exit, unusable, request };

template <class Argument>
Kind kind_of(const WatchExitChoice<Argument>& choice) {
  if (std::holds_alternative<NotWatchExit>(choice)) return Kind::not_watch_exit;
  if (std::holds_alternative<UnusableWatchExit>(choice)) return Kind::unusable;
  return Kind::request;
}

TEST(ChooseWatchExit, Utf16CommandLines) {
  struct Case {
    std::u16string_view line;
    Kind kind;
    std::uint32_t pid = 0;
    std::string_view session_id = {};
    std::u16string_view events_path = {};
    std::optional<std::u16string_view> marker_path = {};
  };
  static constexpr Case kCases[] = {
      {u"", Kind::not_watch_exit},
      {u"zorvia-host.exe", Kind::not_watch_exit},
      {u"zorvia-host.exe chrome-extension://abc/", Kind::not_watch_exit},
      {u"z --ZORVIA-WATCH-EXIT 1 s e", Kind::not_watch_exit},
      {u"z --zorvia-watch-exit=1 1 s e", Kind::not_watch_exit},
      {u"z --zorvia-watch-exi 1 s e", Kind::not_watch_exit},
      {u"z --zorvia-watch-exit\xD800 1 s e", Kind::not_watch_exit},
      {u"z \" --zorvia-watch-exit\" 1 s e", Kind::not_watch_exit},
      {u"z \"--zorvia-watch-exit \" 1 s e", Kind::not_watch_exit},
      {u"z x --zorvia-watch-exit 1 s e", Kind::not_watch_exit},
      {u"--zorvia-watch-exit 1 s e", Kind::not_watch_exit},
      {u"z --zorvia-watch-exit", Kind::unusable},
      {u"z --zorvia-watch-exit 42", Kind::unusable},
      {u"z --zorvia-watch-exit 42 s", Kind::unusable},
      {u"z --zorvia-watch-exit 4294967296 s e", Kind::unusable},
      {u"z --zorvia-watch-exit -1 s e", Kind::unusable},
      {u"z --zorvia-watch-exit -0 s e", Kind::unusable},
      {u"z --zorvia-watch-exit ++1 s e", Kind::unusable},
      {u"z --zorvia-watch-exit 0x2A s e", Kind::unusable},
      {u"z --zorvia-watch-exit \"4 2\" s e", Kind::unusable},
      {u"z --zorvia-watch-exit \"\" s e", Kind::unusable},
      {u"z --zorvia-watch-exit \u0664\u0662 s e", Kind::unusable},  // Arabic-Indic digits
      {u"z --zorvia-watch-exit 4\xDC00 s e", Kind::unusable},
      {u"z --zorvia-watch-exit 1 \xD800x e", Kind::unusable},
      {u"z --zorvia-watch-exit 1 x\xDC00 e", Kind::unusable},
      {u"z --zorvia-watch-exit 1 \xDC00\xD800 e", Kind::unusable},
      {u"z \"--zorvia-watch-exit\" 42 s e", Kind::request, 42, "s", u"e"},
      {u"z --zorvia-watch-exit 0042 s e", Kind::request, 42, "s", u"e"},
      {u"z --zorvia-watch-exit +42 s e", Kind::request, 42, "s", u"e"},
      {u"z --zorvia-watch-exit 4294967295 s e", Kind::request, 4294967295u, "s", u"e"},
      {u"z --zorvia-watch-exit 0 s e", Kind::request, 0, "s", u"e"},
      {u"z --zorvia-watch-exit 7 \"\" \"\"", Kind::request, 7, "", u""},
      {u"z --zorvia-watch-exit 7 \u0417\U0001F600 e", Kind::request, 7, "\xd0\x97\xf0\x9f\x98\x80", u"e"},
      {u"z --zorvia-watch-exit 7 s \"C:\\Users\\A B\\events.jsonl\"", Kind::request, 7, "s",
       u"C:\\Users\\A B\\events.jsonl"},
      {u"z --zorvia-watch-exit 7 s e m", Kind::request, 7, "s", u"e", u"m"},
      {u"z --zorvia-watch-exit 7 s e \"\"", Kind::request, 7, "s", u"e", u""},
      {u"z --zorvia-watch-exit 7 s e m extra more", Kind::request, 7, "s", u"e", u"m"},
      // Unpaired surrogates in the paths pass through unchanged.
      {u"z --zorvia-watch-exit 7 s e\xD800 m\xDC00", Kind::request, 7, "s", u"e\xD800", u"m\xDC00"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(shown(c.line));
    const auto arguments = split_command_line(c.line);
    const auto choice = choose_watch_exit(std::span<const std::u16string>(arguments));
    ASSERT_EQ(kind_of(choice), c.kind);
    if (c.kind != Kind::request) continue;
    const auto& request = std::get<WatchExitRequest<std::u16string>>(choice);
    EXPECT_EQ(request.pid, c.pid);
    EXPECT_EQ(request.session_id, c.session_id);
    EXPECT_EQ(shown(request.events_path), shown(c.events_path));
    ASSERT_EQ(request.marker_path.has_value(), c.marker_path.has_value());
    if (c.marker_path) {
      EXPECT_EQ(shown(*request.marker_path), shown(*c.marker_path));
    }
  }
}

TEST(ChooseWatchExit, ByteArgumentsNeedUtf8SessionOnly) {
  struct Case {
    std::vector<std::string> arguments;
    Kind kind;
  };
  const Case cases[] = {
      {{}, Kind::not_watch_exit},
      {{"zorvia-host"}, Kind::not_watch_exit},
      {{"zorvia-host", "--zorvia-watch-exit\xff", "1", "s", "e"}, Kind::not_watch_exit},
      {{"zorvia-host", "--zorvia-watch-exit", "1", "s\xff", "e"}, Kind::unusable},
      {{"zorvia-host", "--zorvia-watch-exit", "1", "\xed\xa0\x80", "e"}, Kind::unusable},
      {{"zorvia-host", "--zorvia-watch-exit", "1", "\xd0\x97", "e\xff", "m\xff"}, Kind::request},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    EXPECT_EQ(kind_of(choose_watch_exit(std::span<const std::string>(c.arguments))), c.kind);
  }
  const std::vector<std::string> raw_paths = {"zorvia-host", "--zorvia-watch-exit", "1", "\xd0\x97", "e\xff", "m\xff"};
  const auto request = std::get<WatchExitRequest<std::string>>(choose_watch_exit(std::span<const std::string>(raw_paths)));
  EXPECT_EQ(request.session_id, "\xd0\x97");
  EXPECT_EQ(request.events_path, "e\xff");
  EXPECT_EQ(request.marker_path, "m\xff");
}

}  // namespace
}  // namespace zorvia::lifecycle
