#include "app/process_marker_file.h"

#include "platform/file_read.h"

namespace zorvia::app {

std::optional<lifecycle::ProcessMarker> read_process_marker(const platform::NativePath& marker_path) {
  const auto bytes = platform::read_whole_file_shared(marker_path);
  if (!bytes) return std::nullopt;
  return lifecycle::parse_process_marker(*bytes);
}

}  // namespace zorvia::app
