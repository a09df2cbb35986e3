#pragma once
// The per-user name of the desktop application's bridge pipe.

#include <cstdint>
#include <string>
#include <string_view>

namespace zorvia::host {

// Fixed when the program is built; it only selects the pipe name's suffix. Any value other
// than 0 and 1 counts as `e2e`.
enum class BuildFlavour : std::uint8_t {
  default_ = 0,  // `default` is a keyword
  stand = 1,
  e2e = 2,
};

// The flavour this program was built with: each executable links exactly one definition
// (host/build_flavour.cpp, compiled once per flavour).
[[nodiscard]] BuildFlavour build_flavour();

// The Windows namespace of named pipes, and the name's fixed beginning within it.
inline constexpr std::string_view kPipeNamespace = "\\\\.\\pipe\\";
inline constexpr std::string_view kBridgePipeBase = "\\\\.\\pipe\\zorvia-bridge";

[[nodiscard]] std::string_view flavour_suffix(BuildFlavour flavour);

// "\\.\pipe\zorvia-bridge", the flavour's suffix, "-" and the user's SID string.
[[nodiscard]] std::string bridge_pipe_name_for(BuildFlavour flavour, std::string_view user_sid);

}  // namespace zorvia::host
