#pragma once
// Names how the watched process ended, from its marker, a Defender hit and its exit code.

#include <cstdint>
#include <optional>
#include <string_view>

namespace zorvia::lifecycle {

struct ExitSummary {
  // Borrowed from the chosen marker; only its presence counts, an empty text is present.
  std::optional<std::string_view> expected_exit{};
  bool exit_requested_event_seen = false;
  bool clean_exit = false;
  bool antivirus_hit = false;
};

// One of the fixed snake_case labels ("access_violation", "zero_exit_without_marker", ...).
[[nodiscard]] std::string_view classify_exit(std::uint32_t exit_code, const std::optional<ExitSummary>& summary);

}  // namespace zorvia::lifecycle
