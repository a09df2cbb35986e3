#include "lifecycle/lifecycle_events.h"

#include <gtest/gtest.h>

namespace zorvia::lifecycle {
namespace {

using namespace std::chrono;

WallClockTime at_utc(year_month_day date, microseconds since_midnight) {
  return WallClockTime(sys_days(date)) + since_midnight;
}

TEST(TimestampText, UtcWithTruncatedMilliseconds) {
  struct Case {
    WallClockTime time;
    std::string_view text;
  };
  const Case cases[] = {
      {WallClockTime{}, "1970-01-01T00:00:00.000Z"},
      {at_utc(2026y / January / 31, 12h), "2026-01-31T12:00:00.000Z"},
      {at_utc(2026y / January / 31, 12h + 999'600us), "2026-01-31T12:00:00.999Z"},
      {at_utc(2026y / January / 31, 12h + 1'999us), "2026-01-31T12:00:00.001Z"},
      {at_utc(2024y / February / 29, 23h + 59min + 59s + 999'999us), "2024-02-29T23:59:59.999Z"},
      {at_utc(2000y / March / 1, 7h + 5min + 3s + 40ms), "2000-03-01T07:05:03.040Z"},
      {at_utc(9999y / December / 31, 23h + 59min + 59s + 999ms), "9999-12-31T23:59:59.999Z"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(timestamp_text(c.time), c.text);
  }
}

TEST(LifecycleEvents, OpenFailedAndReadyLines) {
  EXPECT_EQ(event_line(open_failed_event("2026-01-31T12:00:00.000Z", 4242, "s-1",
                                         "The parameter is incorrect. (os error 87)")),
            R"({"at":"2026-01-31T12:00:00.000Z","event":"watchdog_open_failed",)"
            R"~("os_error":"The parameter is incorrect. (os error 87)","pid":4242,"session_id":"s-1"})~"
            "\n");
  EXPECT_EQ(event_line(ready_event("2026-01-31T12:00:00.001Z", 4294967295u, "s", 99, true)),
            R"({"at":"2026-01-31T12:00:00.001Z","event":"watchdog_ready","marker_seen":true,)"
            R"("pid":4294967295,"session_id":"s","watchdog_pid":99})"
            "\n");
  EXPECT_EQ(event_line(ready_event("t", 1, "", 2, false)),
            R"({"at":"t","event":"watchdog_ready","marker_seen":false,"pid":1,"session_id":"","watchdog_pid":2})"
            "\n");
}

ProcessMarker sample_marker() {
  ProcessMarker m;
  m.session_id = "s";
  m.executable = "C:\\Apps\\Zorvia.exe";
  m.active_tasks = {"sync", "", "sync"};
  m.expected_exit = "";
  m.expected_exit_detail = "update";
  m.clean_exit = true;
  return m;
}

TEST(LifecycleEvents, ExitLineWithMarkerAndHit) {
  const ProcessMarker marker = sample_marker();
  const AntivirusHit hit{"Trojan:Win32/X", "Quarantine", "C:\\Apps\\Zorvia.exe"};
  ExitObservation o;
  o.at = "2026-01-31T12:00:05.000Z";
  o.session_id = "s";
  o.pid = 42;
  o.wait_result = 0;
  o.exit_code = 0xC0000005u;
  o.classification = "expected_exit";
  o.marker_source = MarkerSource::at_exit;
  o.antivirus = &hit;
  o.chosen_marker = &marker;
  o.executable_present = false;
  o.suspects = {"msiexec.exe:4312", "setup.exe:100"};
  EXPECT_EQ(event_line(exit_event(o)),
            R"({"active_tasks":["sync","","sync"],)"
            R"("antivirus":{"action":"Quarantine","path":"C:\\Apps\\Zorvia.exe","threat":"Trojan:Win32/X"},)"
            R"("at":"2026-01-31T12:00:05.000Z","classification":"expected_exit","clean_exit":true,)"
            R"("event":"process_exit_observed","executable_present":false,"exit_code":3221225477,)"
            R"("exit_code_hex":"0xC0000005","exit_code_signed":-1073741819,"expected_exit":"",)"
            R"("expected_exit_detail":"update","marker_source":"at_exit","pid":42,"session_id":"s",)"
            R"("suspects":["msiexec.exe:4312","setup.exe:100"],"wait_result":0})"
            "\n");
}

TEST(LifecycleEvents, ExitLineWithoutMarkerOrExitCode) {
  ExitObservation o;
  o.at = "t";
  o.session_id = "s";
  o.pid = 42;
  o.wait_result = 4294967295u;
  o.marker_source = MarkerSource::missing;
  EXPECT_EQ(event_line(exit_event(o)),
            R"({"active_tasks":[],"antivirus":null,"at":"t","classification":null,"clean_exit":null,)"
            R"("event":"process_exit_observed","executable_present":null,"exit_code":null,)"
            R"("exit_code_hex":null,"exit_code_signed":null,"expected_exit":null,)"
            R"("expected_exit_detail":null,"marker_source":"missing","pid":42,"session_id":"s",)"
            R"("suspects":[],"wait_result":4294967295})"
            "\n");
}

TEST(LifecycleEvents, HitWithoutActionOrPathAndMarkerWithoutTexts) {
  ProcessMarker marker;
  marker.session_id = "s";
  const AntivirusHit hit{"T", std::nullopt, std::nullopt};
  ExitObservation o;
  o.at = "t";
  o.exit_code = 1;
  o.classification = "antivirus_quarantine";
  o.marker_source = MarkerSource::pre_wait;
  o.antivirus = &hit;
  o.chosen_marker = &marker;
  o.executable_present = true;
  const std::string line = event_line(exit_event(o));
  EXPECT_NE(line.find(R"("antivirus":{"action":null,"path":null,"threat":"T"})"), std::string::npos) << line;
  EXPECT_NE(line.find(R"("clean_exit":false,)"), std::string::npos) << line;
  EXPECT_NE(line.find(R"("expected_exit":null,"expected_exit_detail":null,"marker_source":"pre_wait")"),
            std::string::npos)
      << line;
  EXPECT_NE(line.find(R"("executable_present":true,)"), std::string::npos) << line;
}

TEST(LifecycleEvents, ExitCodeForms) {
  struct Case {
    std::uint32_t code;
    std::string_view fields;
  };
  static constexpr Case kCases[] = {
      {0, R"("exit_code":0,"exit_code_hex":"0x00000000","exit_code_signed":0,)"},
      {1, R"("exit_code":1,"exit_code_hex":"0x00000001","exit_code_signed":1,)"},
      {259, R"("exit_code":259,"exit_code_hex":"0x00000103","exit_code_signed":259,)"},
      {0x80000000u, R"("exit_code":2147483648,"exit_code_hex":"0x80000000","exit_code_signed":-2147483648,)"},
      {0xC0000005u, R"("exit_code":3221225477,"exit_code_hex":"0xC0000005","exit_code_signed":-1073741819,)"},
      {0xFFFFFFFFu, R"("exit_code":4294967295,"exit_code_hex":"0xFFFFFFFF","exit_code_signed":-1,)"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.code);
    ExitObservation o;
    o.exit_code = c.code;
    o.classification = "x";
    const std::string line = event_line(exit_event(o));
    EXPECT_NE(line.find(c.fields), std::string::npos) << line;
  }
}

TEST(LifecycleEvents, TextsAreEscapedAndStayOnOneLine) {
  const std::string tricky = "q\"b\\t\tesc\x1b/\x7f\xd0\x97";
  const std::string written = R"(q\"b\\t\tesc\u001b/)" "\x7f\xd0\x97";
  ProcessMarker marker;
  marker.session_id = tricky;
  marker.active_tasks = {tricky};
  marker.expected_exit = tricky;
  marker.expected_exit_detail = "line\nend\r";
  ExitObservation o;
  o.at = "t";
  o.session_id = tricky;
  o.marker_source = MarkerSource::at_exit;
  o.chosen_marker = &marker;
  o.executable_present = false;
  const std::string line = event_line(exit_event(o));
  EXPECT_NE(line.find("\"active_tasks\":[\"" + written + "\"]"), std::string::npos) << line;
  EXPECT_NE(line.find("\"expected_exit\":\"" + written + "\""), std::string::npos) << line;
  EXPECT_NE(line.find(R"("expected_exit_detail":"line\nend\r")"), std::string::npos) << line;
  EXPECT_NE(line.find("\"session_id\":\"" + written + "\""), std::string::npos) << line;
  EXPECT_EQ(line.find('\n'), line.size() - 1);

  const std::string ready = event_line(ready_event("t", 1, tricky, 2, false));
  EXPECT_NE(ready.find("\"session_id\":\"" + written + "\""), std::string::npos) << ready;
}

TEST(RotatedEventsPath, ExtensionOfTheLastComponent) {
  struct Case {
    std::string_view path;
    std::string_view windows;
    std::string_view posix;
  };
  static constexpr Case kCases[] = {
      {"events.jsonl", "events.jsonl.old", "events.jsonl.old"},
      {"events", "events.jsonl.old", "events.jsonl.old"},
      {"a.b.c", "a.b.jsonl.old", "a.b.jsonl.old"},
      {"events.log", "events.jsonl.old", "events.jsonl.old"},
      {"events.", "events.jsonl.old", "events.jsonl.old"},
      {".events", ".events.jsonl.old", ".events.jsonl.old"},
      {"..", "...jsonl.old", "...jsonl.old"},
      {"", ".jsonl.old", ".jsonl.old"},
      {"logs.d\\events", "logs.d\\events.jsonl.old", "logs.jsonl.old"},
      {"logs.d/events", "logs.d/events.jsonl.old", "logs.d/events.jsonl.old"},
      {"C:\\Users\\a.b\\z", "C:\\Users\\a.b\\z.jsonl.old", "C:\\Users\\a.jsonl.old"},
      {"C:.events", "C:.events.jsonl.old", "C:.jsonl.old"},
      {"dir.x/.events", "dir.x/.events.jsonl.old", "dir.x/.events.jsonl.old"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.path));
    EXPECT_EQ(rotated_events_path(c.path, true), c.windows);
    EXPECT_EQ(rotated_events_path(c.path, false), c.posix);
  }
  // Wide paths keep every code unit, unpaired surrogates included.
  EXPECT_EQ(rotated_events_path(std::u16string_view(u"\xD800\\e.log"), true), u"\xD800\\e.jsonl.old");
}

}  // namespace
}  // namespace zorvia::lifecycle
