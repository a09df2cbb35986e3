#include <windows.h>

#include <algorithm>

#include "platform/file_read.h"
#include "platform/read_to_end.h"
#include "platform/scoped_native.h"
#include "platform/transfer_size.h"
#include "platform/win32/system_path.h"

namespace zorvia::platform {

std::optional<std::string> read_whole_file_shared(const NativePath& path) {
  const auto name = win32::system_path(path);
  if (!name) return std::nullopt;
  // A directory cannot be opened without FILE_FLAG_BACKUP_SEMANTICS, so it fails here.
  const ScopedHandle file(CreateFileW(name->c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  // A pipe or a device is no marker file, and a read on it could wait forever.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return std::nullopt;
  LARGE_INTEGER length{};
  if (!GetFileSizeEx(file.get(), &length) || length.QuadPart < 0) return std::nullopt;
  return read_to_end(static_cast<std::uintmax_t>(length.QuadPart),
                     [&](char* into, std::size_t max) -> std::optional<std::size_t> {
                       DWORD got = 0;
                       const auto want = static_cast<DWORD>(transfer_size(max));
                       if (!ReadFile(file.get(), into, want, &got, nullptr)) return std::nullopt;
                       return got;
                     });
}

}  // namespace zorvia::platform
