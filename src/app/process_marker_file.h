#pragma once

#include <optional>

#include "lifecycle/process_marker.h"
#include "platform/native_path.h"

namespace zorvia::app {

// The marker file as it is at this moment, or nothing when it cannot be read or parsed.
[[nodiscard]] std::optional<lifecycle::ProcessMarker> read_process_marker(const platform::NativePath& marker_path);

}  // namespace zorvia::app
