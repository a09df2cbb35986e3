#pragma once
// The watched program's marker file, read afresh at every call.

#include <optional>

#include "lifecycle/process_marker.h"
#include "platform/native_path.h"

namespace zorvia::app {

// The marker in the file at `marker_path`, or nothing when the file cannot be read whole
// or is not a marker. Leaves the file as it was and keeps nothing between calls.
[[nodiscard]] std::optional<lifecycle::ProcessMarker> read_process_marker(const platform::NativePath& marker_path);

}  // namespace zorvia::app
