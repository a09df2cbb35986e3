#include <windows.h>

#include <new>

#include "platform/file_read.h"
#include "platform/win32/scoped_handle.h"

namespace zorvia::platform {

std::optional<std::string> read_whole_file_shared(const NativePath& path) {
  win32::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return std::nullopt;
  std::string bytes;
  try {
    bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  } catch (const std::exception&) {
    return std::nullopt;  // too large for memory
  }
  // Read to the end, even when the file has grown since its size was taken.
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) return std::nullopt;
    if (got == 0) break;
    try {
      bytes.append(chunk, got);
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }
  return bytes;
}

}  // namespace zorvia::platform
