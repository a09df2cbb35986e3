#pragma once
// The events file: one JSON line per lifecycle event, rotated once it has grown past 8 MiB.

#include "platform/native_path.h"
#include "text/json_text.h"

namespace zorvia::app {

// Appends `event` as one line to `events_path`. Every failure is dropped here: a line that
// cannot be written is lost and the caller goes on as if it had been.
void append_lifecycle_event(const platform::NativePath& events_path, const text::JsonValue& event);

}  // namespace zorvia::app
