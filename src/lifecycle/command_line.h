#pragma once
// The watch-exit command line: splitting a UTF-16 command line into arguments, and deciding
// from the argument list whether this process is an exit watchdog and what it watches.
//
// Arguments are sequences of code units: char16_t for a Windows command line, char (bytes) for
// a list the system hands over already split. A value is "text" when it converts to UTF-8
// without loss: no unpaired surrogate in UTF-16, valid UTF-8 in bytes.

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

// The strict unsigned 32-bit decimal parse: one optional '+', then ASCII digits only.
template <class Unit>
[[nodiscard]] std::optional<std::uint32_t> parse_process_id(std::basic_string_view<Unit> argument);

template <class Unit>
struct WatchExitRequest {
  std::uint32_t pid = 0;
  std::string session_id;  // UTF-8
  std::basic_string<Unit> events_path;
  std::optional<std::basic_string<Unit>> marker_path;
};

// Argument 1 is not the switch: host mode goes on.
struct NotWatchExit {};
// Argument 1 is the switch, but what follows cannot be run: the process ends quietly.
struct UnusableWatchExit {};

template <class Unit>
using WatchExitChoice = std::variant<NotWatchExit, UnusableWatchExit, WatchExitRequest<Unit>>;

// `arguments` includes argument 0, which is never looked at.
template <class Unit>
[[nodiscard]] WatchExitChoice<Unit> choose_watch_exit(std::span<const std::basic_string<Unit>> arguments);

}  // namespace zorvia::lifecycle
