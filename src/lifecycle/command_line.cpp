#include "lifecycle/command_line.h"

#include "text/unicode.h"

namespace zorvia::lifecycle {

namespace {

constexpr bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

// Argument 0 is a program path: quotes only toggle quoting, backslashes are plain.
std::size_t take_program_name(std::u16string_view line, std::u16string& name) {
  bool quoting = false;
  std::size_t i = 0;
  for (; i < line.size(); ++i) {
    const char16_t c = line[i];
    if (c == u'"') {
      quoting = !quoting;
    } else if (is_blank(c) && !quoting) {
      break;
    } else {
      name.push_back(c);
    }
  }
  return i;
}

// One later argument starting at `i` (not a blank); returns the position after it.
std::size_t take_argument(std::u16string_view line, std::size_t i, std::u16string& argument) {
  bool quoting = false;
  while (i < line.size()) {
    const char16_t c = line[i];
    if (c == u'\\') {
      std::size_t run = 0;
      while (i < line.size() && line[i] == u'\\') {
        ++run;
        ++i;
      }
      if (i < line.size() && line[i] == u'"') {
        argument.append(run / 2, u'\\');
        if (run % 2 == 1) {
          argument.push_back(u'"');
          ++i;
        }
        // An even run leaves the quote to act as a quote, on the next turn.
      } else {
        argument.append(run, u'\\');
      }
      continue;
    }
    if (c == u'"') {
      if (!quoting) {
        quoting = true;
        ++i;
      } else if (i + 1 < line.size() && line[i + 1] == u'"') {
        argument.push_back(u'"');
        i += 2;
      } else {
        quoting = false;
        ++i;
      }
      continue;
    }
    if (is_blank(c) && !quoting) break;
    argument.push_back(c);
    ++i;
  }
  return i;
}

template <class Unit>
bool is_text(std::basic_string_view<Unit> units) {
  if constexpr (sizeof(Unit) == 1) {
    return text::is_valid_utf8(std::string_view(reinterpret_cast<const char*>(units.data()), units.size()));
  } else {
    return text::utf16_to_utf8_strict(std::u16string_view(units.data(), units.size())).has_value();
  }
}

template <class Unit>
std::string to_utf8(std::basic_string_view<Unit> units) {
  if constexpr (sizeof(Unit) == 1) {
    return std::string(units.begin(), units.end());
  } else {
    return text::utf16_to_utf8_strict(std::u16string_view(units.data(), units.size())).value_or(std::string());
  }
}

template <class Unit>
bool is_watch_exit_switch(std::basic_string_view<Unit> argument) {
  if (argument.size() != kWatchExitSwitch.size()) return false;
  for (std::size_t i = 0; i < argument.size(); ++i) {
    if (argument[i] != static_cast<Unit>(kWatchExitSwitch[i])) return false;
  }
  return true;
}

}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view line) {
  std::vector<std::u16string> arguments(1);
  std::size_t i = take_program_name(line, arguments[0]);
  for (;;) {
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i == line.size()) break;
    i = take_argument(line, i, arguments.emplace_back());
  }
  return arguments;
}

template <class Unit>
std::optional<std::uint32_t> parse_process_id(std::basic_string_view<Unit> argument) {
  if (!argument.empty() && argument.front() == static_cast<Unit>('+')) argument.remove_prefix(1);
  if (argument.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const Unit unit : argument) {
    if (unit < static_cast<Unit>('0') || unit > static_cast<Unit>('9')) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(unit - static_cast<Unit>('0'));
    // Leading zeros keep the value at 0, so they never overflow.
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

template <class Unit>
WatchExitChoice<Unit> choose_watch_exit(std::span<const std::basic_string<Unit>> arguments) {
  using View = std::basic_string_view<Unit>;
  if (arguments.size() < 2 || !is_watch_exit_switch(View(arguments[1]))) return NotWatchExit{};
  if (arguments.size() < 5) return UnusableWatchExit{};
  const auto pid = parse_process_id(View(arguments[2]));
  if (!pid || !is_text(View(arguments[3]))) return UnusableWatchExit{};

  WatchExitRequest<Unit> request;
  request.pid = *pid;
  request.session_id = to_utf8(View(arguments[3]));
  request.events_path = arguments[4];
  if (arguments.size() >= 6) request.marker_path = arguments[5];
  return request;
}

template std::optional<std::uint32_t> parse_process_id<char>(std::string_view);
template std::optional<std::uint32_t> parse_process_id<char16_t>(std::u16string_view);
template WatchExitChoice<char> choose_watch_exit<char>(std::span<const std::string>);
template WatchExitChoice<char16_t> choose_watch_exit<char16_t>(std::span<const std::u16string>);

}  // namespace zorvia::lifecycle
