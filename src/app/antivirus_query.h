#pragma once
// The Windows Defender step of the watchdog: run the event-log query and scan its output.

#include <chrono>
#include <optional>
#include <string_view>

#include "lifecycle/antivirus.h"

namespace zorvia::app {

// A hung query must not keep the watchdog from recording the exit it was started for.
inline constexpr std::chrono::milliseconds kDefenderQueryLimit = std::chrono::seconds(30);

// The newest recent Defender detection naming `executable`; nothing when there is none or the
// query failed in any way (not found, no start, exit status other than 0, past `limit`).
[[nodiscard]] std::optional<lifecycle::AntivirusHit> query_antivirus_hit(
    std::string_view executable, std::chrono::milliseconds limit = kDefenderQueryLimit);

}  // namespace zorvia::app
