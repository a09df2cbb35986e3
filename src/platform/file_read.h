#pragma once
// Whole-file reads that never stand in the way of the file's writer.

#include <optional>
#include <string>

#include "platform/native_path.h"

namespace zorvia::platform {

// The file's bytes, read to its end while other processes may write, replace or delete it
// (read, write and delete sharing on Windows). Nothing on any failure: missing, a directory,
// access denied, a sharing violation, a read error, no memory for the buffer.
[[nodiscard]] std::optional<std::string> read_whole_file_shared(const NativePath& path);

}  // namespace zorvia::platform
