#pragma once
// Windows Defender detections: the wevtutil query and the plain-text scan of its XML output.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvia::lifecycle {

struct AntivirusHit {
  std::string threat;
  std::optional<std::string> action{};
  std::optional<std::string> path{};
  friend bool operator==(const AntivirusHit&, const AntivirusHit&) = default;
};

inline constexpr std::uint64_t DEFENDER_LOOKBACK_MS = 120000;
inline constexpr std::size_t ANTIVIRUS_FIELD_MAX_CHARS = 240;

// The tool and its seven arguments, each one argument as the tool must receive it.
inline constexpr std::string_view kDefenderTool = "wevtutil.exe";
[[nodiscard]] std::vector<std::string> defender_query_arguments();

// The trimmed value of the event's Data element of `name`, or nothing.
[[nodiscard]] std::optional<std::string_view> event_data_value(std::string_view event, std::string_view name);

// Scans the tool's standard output (exit status 0) for the first event naming `executable`;
// `output` may hold invalid UTF-8.
[[nodiscard]] std::optional<AntivirusHit> scan_defender_output(std::string_view output, std::string_view executable);

}  // namespace zorvia::lifecycle
