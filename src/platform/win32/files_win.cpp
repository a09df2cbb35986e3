#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/files.h"
#include "platform/os_error.h"
#include "platform/scoped_native.h"
#include "platform/transfer_size.h"
#include "platform/win32/system_path.h"

namespace zorvia::platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE:
// append-only data access, so every write goes to the end of the file.
constexpr DWORD kAppendAccess = 0x120114;

// Newer than the headers' default target: the rename with flags, and its flag bits.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kRenameReplaceIfExists = 0x1;
constexpr DWORD kRenamePosixSemantics = 0x2;

// FILE_RENAME_INFO with its first member read as the Flags of the extended class; the
// layouts agree (the flag word shares the offset of ReplaceIfExists).
struct RenameInfoEx {
  DWORD flags;
  HANDLE root_directory;
  DWORD file_name_length;
  WCHAR file_name[1];
};
static_assert(offsetof(RenameInfoEx, root_directory) == offsetof(FILE_RENAME_INFO, RootDirectory));
static_assert(offsetof(RenameInfoEx, file_name_length) == offsetof(FILE_RENAME_INFO, FileNameLength));
static_assert(offsetof(RenameInfoEx, file_name) == offsetof(FILE_RENAME_INFO, FileName));

// Metadata through a handle, so that links are followed.
std::optional<BY_HANDLE_FILE_INFORMATION> metadata(const NativePath& path) {
  const auto name = win32::system_path(path);
  if (!name) return std::nullopt;
  ScopedHandle file(
      CreateFileW(name->c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
  return info;
}

// The rename that succeeds where MoveFileExW is denied, e.g. when the target is held open
// with delete sharing: POSIX semantics replace it while those handles stay valid.
bool rename_by_handle(const std::wstring& from, const std::wstring& target) {
  ScopedHandle file(CreateFileW(from.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return false;
  const std::size_t name_bytes = target.size() * sizeof(WCHAR);
  const std::size_t size = offsetof(RenameInfoEx, file_name) + name_bytes + sizeof(WCHAR);
  const auto storage = std::make_unique<std::max_align_t[]>(size / sizeof(std::max_align_t) + 1);
  auto* info = reinterpret_cast<RenameInfoEx*>(storage.get());
  info->flags = kRenameReplaceIfExists | kRenamePosixSemantics;
  info->root_directory = nullptr;
  info->file_name_length = static_cast<DWORD>(name_bytes);
  std::memcpy(info->file_name, target.c_str(), name_bytes + sizeof(WCHAR));
  return SetFileInformationByHandle(file.get(), kFileRenameInfoEx, info, static_cast<DWORD>(size)) != 0;
}

}  // namespace

std::optional<std::uint64_t> file_size(const NativePath& path) {
  const auto info = metadata(path);
  if (!info) return std::nullopt;
  return (static_cast<std::uint64_t>(info->nFileSizeHigh) << 32) | info->nFileSizeLow;
}

bool is_existing_regular_file(const NativePath& path) {
  const auto info = metadata(path);
  return info && (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool remove_file(const NativePath& path) {
  const auto name = win32::system_path(path);
  return name && DeleteFileW(name->c_str()) != 0;
}

bool rename_replacing(const NativePath& from, const NativePath& to) {
  const auto source = win32::system_path(from);
  const auto target = win32::system_path(to);
  if (!source || !target) return false;
  if (MoveFileExW(source->c_str(), target->c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  if (GetLastError() != ERROR_ACCESS_DENIED) return false;
  return rename_by_handle(*source, *target);
}

std::expected<AppendOnlyFile, io::OsError> AppendOnlyFile::open(const NativePath& path) {
  const auto name = win32::system_path(path);
  if (!name) return std::unexpected(io::OsError{ERROR_INVALID_NAME});
  ScopedHandle file(CreateFileW(name->c_str(), kAppendAccess, kShareAll, nullptr, OPEN_ALWAYS, 0, nullptr));
  if (!file) return std::unexpected(last_os_error());
  // Lines go only into a disk file: a write to a pipe or a device could wait for its reader.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return std::unexpected(io::OsError{ERROR_BAD_FILE_TYPE});
  return AppendOnlyFile(std::move(file));
}

std::expected<std::size_t, io::OsError> AppendOnlyFile::write_some(std::span<const char> bytes) {
  DWORD written = 0;
  const DWORD want = static_cast<DWORD>(transfer_size(bytes.size()));
  if (!WriteFile(file_.get(), bytes.data(), want, &written, nullptr)) return std::unexpected(last_os_error());
  return written;
}

}  // namespace zorvia::platform
