#include "lifecycle/antivirus.h"

#include "text/unicode.h"
#include "text/unicode_case.h"

namespace zorvia::lifecycle {

namespace {

constexpr std::string_view kEventStart = "<Event ";
constexpr std::string_view kValueEnd = "</Data>";

bool is_separator(char c, bool verbatim) { return c == '\\' || (!verbatim && c == '/'); }

bool is_drive(std::string_view s) {
  return s.size() >= 2 && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z')) && s[1] == ':';
}

// The text up to the next separator, and what follows that separator.
std::pair<std::string_view, std::string_view> next_component(std::string_view s, bool verbatim) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (is_separator(s[i], verbatim)) return {s.substr(0, i), s.substr(i + 1)};
  }
  return {s, {}};
}

struct PathPrefix {
  std::size_t length = 0;
  bool verbatim = false;  // "\\?\" paths: only the backslash separates, "." is kept
};

// Drive ("C:"), UNC ("\\server\share"), device ("\\.\COM1") and verbatim ("\\?\...") prefixes.
PathPrefix path_prefix(std::string_view path) {
  const auto sep = [&](std::size_t i) { return i < path.size() && (path[i] == '\\' || path[i] == '/'); };
  if (!(sep(0) && sep(1))) return {is_drive(path) ? 2u : 0u, false};
  const auto after = path.substr(2);
  // A verbatim prefix keeps its meaning only when written with backslashes throughout.
  const bool verbatim_form = after.starts_with("?\\") && path.substr(0, 8).find('/') == std::string_view::npos;
  if (verbatim_form) {
    const auto rest = after.substr(2);
    if (rest.starts_with("UNC\\")) {
      const auto [server, tail] = next_component(rest.substr(4), true);
      const auto share = next_component(tail, true).first;
      return {8 + server.size() + (share.empty() ? 0 : 1 + share.size()), true};
    }
    if (is_drive(rest) && (rest.size() == 2 || rest[2] == '\\')) return {6, true};
    return {4 + next_component(rest, true).first.size(), true};
  }
  if (after.size() >= 2 && after[0] == '.' && (after[1] == '\\' || after[1] == '/')) {
    return {4 + next_component(after.substr(2), false).first.size(), false};
  }
  const auto [server, tail] = next_component(after, false);
  const auto share = next_component(tail, false).first;
  if (server.empty() || share.empty()) return {0, false};
  return {2 + server.size() + 1 + share.size(), false};
}

// The last component of `path` read as a Windows path, or nothing when it has none or
// ends in "..".
std::optional<std::string_view> last_path_component(std::string_view path) {
  const auto prefix = path_prefix(path);
  std::string_view rest = path.substr(prefix.length);
  std::optional<std::string_view> last;
  while (!rest.empty()) {
    const auto [component, tail] = next_component(rest, prefix.verbatim);
    rest = tail;
    if (component.empty() || (component == "." && !prefix.verbatim)) continue;
    last = component;
  }
  if (!last || *last == ".." || *last == ".") return std::nullopt;
  return last;
}

// The first `max` code points of valid UTF-8.
std::string_view first_code_points(std::string_view s, std::size_t max) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
    if (count == max) return s.substr(0, i);
    ++count;
  }
  return s;
}

std::string cut_value(std::string_view value) { return std::string(first_code_points(value, ANTIVIRUS_FIELD_MAX_CHARS)); }

}  // namespace

std::vector<std::string> defender_query_arguments() {
  return {
      "qe",
      "Microsoft-Windows-Windows Defender/Operational",
      "/q:*[System[(EventID=1116 or EventID=1117) and TimeCreated[timediff(@SystemTime) <= " +
          std::to_string(DEFENDER_LOOKBACK_MS) + "]]]",
      "/c:8",
      "/rd:true",
      "/e:Events",
      "/f:xml",
  };
}

std::optional<std::string_view> event_data_value(std::string_view event, std::string_view name) {
  const std::string apostrophe_form = "<Data Name='" + std::string(name) + "'>";
  std::size_t start = event.find(apostrophe_form);
  std::size_t value_begin = start + apostrophe_form.size();
  if (start == std::string_view::npos) {
    const std::string quote_form = "<Data Name=\"" + std::string(name) + "\">";
    start = event.find(quote_form);
    if (start == std::string_view::npos) return std::nullopt;
    value_begin = start + quote_form.size();
  }
  const std::size_t value_end = event.find(kValueEnd, value_begin);
  if (value_end == std::string_view::npos) return std::nullopt;
  const auto value = text::trim_white_space(event.substr(value_begin, value_end - value_begin));
  if (value.empty()) return std::nullopt;
  return value;
}

std::optional<AntivirusHit> scan_defender_output(std::string_view output, std::string_view executable) {
  const std::string decoded = text::utf8_lossy(output);
  const std::string whole = text::utf8_lossy(executable);
  const std::string full_needle = text::to_lower_full(whole);
  const auto last = last_path_component(whole);
  const std::string name_needle = last ? text::to_lower_full(*last) : full_needle;

  const std::string_view rest(decoded);
  std::size_t next_event = rest.find(kEventStart);  // what stands before the first event is never looked at
  while (next_event != std::string_view::npos) {
    const std::size_t begin = next_event + kEventStart.size();
    next_event = rest.find(kEventStart, begin);
    const auto event =
        rest.substr(begin, next_event == std::string_view::npos ? std::string_view::npos : next_event - begin);

    const auto path = event_data_value(event, "Path");
    const bool matches = (path && text::to_lower_full(*path).contains(name_needle)) ||
                         text::to_lower_full(event).contains(full_needle);
    if (!matches) continue;

    // The first event naming the program decides, also when it names no threat.
    const auto threat = event_data_value(event, "Threat Name");
    if (!threat) return std::nullopt;
    AntivirusHit hit{.threat = cut_value(*threat)};
    if (const auto action = event_data_value(event, "Action Name")) hit.action = cut_value(*action);
    if (path) hit.path = cut_value(*path);
    return hit;
  }
  return std::nullopt;
}

}  // namespace zorvia::lifecycle
