#include "lifecycle/lifecycle_events.h"

#include <cstdio>

namespace zorvia::lifecycle {

namespace {

text::JsonValue optional_text(const std::optional<std::string>& value) {
  if (!value) return text::JsonNull{};
  return text::JsonValue(*value);
}

text::JsonArray string_array(const std::vector<std::string>& texts) {
  text::JsonArray array;
  array.reserve(texts.size());
  for (const auto& t : texts) array.emplace_back(t);
  return array;
}

text::JsonValue antivirus_object(const AntivirusHit* hit) {
  if (hit == nullptr) return text::JsonNull{};
  const AntivirusHit& h = *hit;
  text::JsonObject object;
  object.emplace("threat", h.threat);
  object.emplace("action", optional_text(h.action));
  object.emplace("path", optional_text(h.path));
  return object;
}

text::JsonObject common_keys(std::string at, std::string_view event, std::uint32_t pid, std::string_view session_id) {
  text::JsonObject object;
  object.emplace("at", std::move(at));
  object.emplace("event", event);
  object.emplace("session_id", session_id);
  object.emplace("pid", pid);
  return object;
}

}  // namespace

std::string timestamp_text(WallClockTime time) {
  using namespace std::chrono;
  const auto millis = floor<milliseconds>(time);
  const auto day = floor<days>(millis);
  const year_month_day date(day);
  const hh_mm_ss clock(millis - day);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return buffer;
}

std::string exit_code_hex(std::uint32_t exit_code) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(exit_code));
  return buffer;
}

std::string_view marker_source_text(MarkerSource source) {
  switch (source) {
    case MarkerSource::at_exit:
      return "at_exit";
    case MarkerSource::pre_wait:
      return "pre_wait";
    case MarkerSource::missing:
      break;
  }
  return "missing";
}

text::JsonObject open_failed_event(std::string at, std::uint32_t pid, std::string_view session_id,
                                   std::string os_error) {
  auto object = common_keys(std::move(at), "watchdog_open_failed", pid, session_id);
  object.emplace("os_error", std::move(os_error));
  return object;
}

text::JsonObject ready_event(std::string at, std::uint32_t pid, std::string_view session_id,
                             std::uint32_t watchdog_pid, bool marker_seen) {
  auto object = common_keys(std::move(at), "watchdog_ready", pid, session_id);
  object.emplace("watchdog_pid", watchdog_pid);
  object.emplace("marker_seen", marker_seen);
  return object;
}

text::JsonObject exit_event(const ExitObservation& o) {
  auto object = common_keys(o.at, "process_exit_observed", o.pid, o.session_id);
  object.emplace("wait_result", o.wait_result);
  if (o.exit_code) {
    object.emplace("exit_code", *o.exit_code);
    object.emplace("exit_code_hex", exit_code_hex(*o.exit_code));
    object.emplace("exit_code_signed", static_cast<std::int32_t>(*o.exit_code));
  } else {
    object.emplace("exit_code", text::JsonNull{});
    object.emplace("exit_code_hex", text::JsonNull{});
    object.emplace("exit_code_signed", text::JsonNull{});
  }
  object.emplace("classification", optional_text(o.classification));
  object.emplace("marker_source", marker_source_text(o.marker_source));
  object.emplace("antivirus", antivirus_object(o.antivirus));

  const ProcessMarker* marker = o.chosen_marker;
  object.emplace("clean_exit", marker ? text::JsonValue(marker->clean_exit) : text::JsonNull{});
  object.emplace("expected_exit", marker ? optional_text(marker->expected_exit) : text::JsonNull{});
  object.emplace("expected_exit_detail", marker ? optional_text(marker->expected_exit_detail) : text::JsonNull{});
  object.emplace("active_tasks", marker ? string_array(marker->active_tasks) : text::JsonArray{});
  object.emplace("executable_present",
                 o.executable_present ? text::JsonValue(*o.executable_present) : text::JsonValue(text::JsonNull{}));
  object.emplace("suspects", string_array(o.suspects));
  return object;
}

std::string event_line(const text::JsonValue& event) {
  std::string line = text::to_json_text(event);
  line.push_back('\n');
  return line;
}

}  // namespace zorvia::lifecycle
