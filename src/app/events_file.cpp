#include "app/events_file.h"

#include "io/streams.h"
#include "lifecycle/lifecycle_events.h"
#include "platform/files.h"

namespace zorvia::app {

bool EventsFileMove::rename_replacing(const platform::NativePath& from, const platform::NativePath& to) {
  return platform::rename_replacing(from, to);
}

void append_lifecycle_event(const platform::NativePath& events_path, const text::JsonValue& event) {
  EventsFileMove system;
  append_lifecycle_event(events_path, event, system);
}

void append_lifecycle_event(const platform::NativePath& events_path, const text::JsonValue& event,
                            EventsFileMove& move) {
  // Rotation is not coordinated between processes. The older rotated file is never deleted
  // on its own: only a move that succeeds replaces it, so a refused move loses no history.
  // The line then goes into the large file, and the next append tries again.
  const auto size = platform::file_size(events_path);
  if (size && *size > lifecycle::EVENTS_FILE_ROTATE_BYTES) {
    const auto rotated = lifecycle::rotated_events_path<platform::PathChar>(events_path, platform::kBackslashSeparates);
    (void)move.rename_replacing(events_path, rotated);
  }

  const std::string line = lifecycle::event_line(event);
  auto file = platform::AppendOnlyFile::open(events_path);
  if (!file) return;
  // One write per line on a regular file, so concurrent writers' lines stay whole.
  (void)io::write_all(*file, line);
}

}  // namespace zorvia::app
