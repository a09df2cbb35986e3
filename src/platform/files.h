#pragma once
// The few file operations of the watchdog: metadata, removal, replacing rename and the
// append-only open of the events file.

#include <cstdint>
#include <expected>
#include <optional>
#include <utility>

#include "io/streams.h"
#include "platform/native_path.h"
#include "platform/scoped_native.h"

namespace zorvia::platform {

// The size in bytes, links followed; nothing when the metadata cannot be read.
[[nodiscard]] std::optional<std::uint64_t> file_size(const NativePath& path);

// An existing file that is not a directory, links followed.
[[nodiscard]] bool is_existing_regular_file(const NativePath& path);

[[nodiscard]] bool remove_file(const NativePath& path);

// Renames `from` to `to`, replacing a file of that name. Windows: MoveFileExW, and on
// access denied one retry on a handle with POSIX rename semantics.
[[nodiscard]] bool rename_replacing(const NativePath& from, const NativePath& to);

// A file opened for appending only: every write lands at the current end, so lines of
// concurrent writers never interleave. Missing files are created; directories are not.
// Only a regular (disk) file opens: a FIFO, a pipe or a device is an error, never a wait.
class AppendOnlyFile final : public io::ByteSink {
 public:
  [[nodiscard]] static std::expected<AppendOnlyFile, io::OsError> open(const NativePath& path);

  AppendOnlyFile(AppendOnlyFile&&) noexcept = default;
  AppendOnlyFile& operator=(AppendOnlyFile&&) noexcept = default;
  ~AppendOnlyFile() override = default;

  // Interrupted writes are repeated inside.
  [[nodiscard]] std::expected<std::size_t, io::OsError> write_some(std::span<const char> bytes) override;

 private:
  explicit AppendOnlyFile(ScopedHandle file) : file_(std::move(file)) {}
  ScopedHandle file_;
};

}  // namespace zorvia::platform
