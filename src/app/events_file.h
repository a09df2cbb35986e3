#pragma once
// The events file: one JSON line per lifecycle event, rotated once it has grown past 8 MiB.

#include "platform/native_path.h"
#include "text/json_text.h"

namespace zorvia::app {

// The file operation of an append that can fail on its own while the others work: moving
// the events file aside, which another process holding it open may refuse. The system's
// own by default; tests put a failing one in.
class EventsFileMove {
 public:
  virtual ~EventsFileMove() = default;
  // Renames `from` to `to`, replacing a file of that name; false when nothing moved.
  [[nodiscard]] virtual bool rename_replacing(const platform::NativePath& from, const platform::NativePath& to);
};

// Appends `event` as one line to `events_path`. Every failure is dropped here: a line that
// cannot be written is lost and the caller goes on as if it had been.
void append_lifecycle_event(const platform::NativePath& events_path, const text::JsonValue& event);
void append_lifecycle_event(const platform::NativePath& events_path, const text::JsonValue& event,
                            EventsFileMove& move);

}  // namespace zorvia::app
