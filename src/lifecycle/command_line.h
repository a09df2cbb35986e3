#pragma once
// The watch-exit command line: splitting a UTF-16 command line into arguments, and deciding
// from the argument list whether this process is an exit watchdog and what it watches.
//
// An argument comes as the system gave it: UTF-16 code units from a Windows command line,
// bytes from a list the system hands over already split. It is "text" when it converts to
// UTF-8 without loss (no unpaired surrogate, valid UTF-8). Only the switch, the process id
// and the session id are read as text; the paths are passed on exactly as they came.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zorvia::lifecycle {

inline constexpr std::string_view kWatchExitSwitch = "--zorvia-watch-exit";

// Splits by the platform's rules for wide-character argument lists (argument 0 by its own
// rule, quoting, "" inside quotes, backslash runs before a quote). The list always holds
// argument 0, even for an empty command line.
[[nodiscard]] std::vector<std::u16string> split_command_line(std::u16string_view line);

// The argument in UTF-8, or nothing when it is not text.
[[nodiscard]] std::optional<std::string> argument_text(std::u16string_view argument);
[[nodiscard]] std::optional<std::string> argument_text(std::string_view argument);

// The strict unsigned 32-bit decimal parse: one optional '+', then ASCII digits only.
[[nodiscard]] std::optional<std::uint32_t> parse_process_id(std::string_view text);

// `Argument`: std::u16string or std::string, the form the arguments came in.
template <class Argument>
struct WatchExitRequest {
  std::uint32_t pid = 0;
  std::string session_id;  // UTF-8
  Argument events_path;
  std::optional<Argument> marker_path;
};

// Argument 1 is not the switch: host mode goes on.
struct NotWatchExit {};
// Argument 1 is the switch, but what follows cannot be run: the process ends quietly.
struct UnusableWatchExit {};

template <class Argument>
using WatchExitChoice = std::variant<NotWatchExit, UnusableWatchExit, WatchExitRequest<Argument>>;

// `arguments` includes argument 0, which is never looked at.
template <class Argument>
[[nodiscard]] WatchExitChoice<Argument> choose_watch_exit(std::span<const Argument> arguments) {
  if (arguments.size() < 2 || argument_text(arguments[1]) != kWatchExitSwitch) return NotWatchExit{};
  if (arguments.size() < 5) return UnusableWatchExit{};
  const std::optional<std::uint32_t> pid = argument_text(arguments[2]).and_then(parse_process_id);
  std::optional<std::string> session_id = argument_text(arguments[3]);
  if (!pid || !session_id) return UnusableWatchExit{};

  std::optional<Argument> marker_path;
  if (arguments.size() >= 6) marker_path = arguments[5];
  return WatchExitRequest<Argument>{*pid, std::move(*session_id), arguments[4], std::move(marker_path)};
}

}  // namespace zorvia::lifecycle
