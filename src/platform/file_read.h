#pragma once
// Whole-file reads that never stand in the way of the file's owner.

#include <optional>
#include <string>

#include "platform/native_path.h"

namespace zorvia::platform {

// The file's bytes up to its end, read through a handle that shares read, write and delete
// access, so the file can be rewritten, replaced or deleted meanwhile. Nothing for any
// failure: missing, a directory, a FIFO, a pipe or a device (never waited on), access
// denied, a read error, or no memory for its length.
[[nodiscard]] std::optional<std::string> read_whole_file_shared(const NativePath& path);

}  // namespace zorvia::platform
