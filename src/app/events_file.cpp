#include "app/events_file.h"

#include "io/streams.h"
#include "lifecycle/lifecycle_events.h"
#include "platform/files.h"

namespace zorvia::app {

void append_lifecycle_event(const platform::NativePath& events_path, const text::JsonValue& event) {
  // Rotation is not coordinated between processes; a failed step leaves the large file in
  // place and the next append tries again.
  const auto size = platform::file_size(events_path);
  if (size && *size > lifecycle::EVENTS_FILE_ROTATE_BYTES) {
    const auto rotated = lifecycle::rotated_events_path<platform::PathChar>(events_path, platform::kBackslashSeparates);
    (void)platform::remove_file(rotated);
    (void)platform::rename_replacing(events_path, rotated);
  }

  const std::string line = lifecycle::event_line(event);
  auto file = platform::AppendOnlyFile::open(events_path);
  if (!file) return;
  // One write per line on a regular file, so concurrent writers' lines stay whole.
  (void)io::write_all(*file, line);
}

}  // namespace zorvia::app
