#include "app/process_marker_file.h"

#include <new>

#include "platform/file_read.h"

namespace zorvia::app {

std::optional<lifecycle::ProcessMarker> read_process_marker(const platform::NativePath& marker_path) {
  try {
    // The file's bytes are released before the marker is handed back.
    const auto bytes = platform::read_whole_file_shared(marker_path);
    if (!bytes) return std::nullopt;
    return lifecycle::parse_process_marker(*bytes);
  } catch (const std::bad_alloc&) {
    // A marker whose texts do not fit in memory beside the file's bytes is no marker.
    return std::nullopt;
  }
}

}  // namespace zorvia::app
