#include <windows.h>

#include <algorithm>
#include <new>
#include <stdexcept>

#include "platform/file_read.h"
#include "platform/win32/scoped_handle.h"

namespace zorvia::platform {

namespace {

constexpr std::size_t kMinimumGrowth = 8192;
constexpr DWORD kLargestRead = DWORD{1} << 30;

std::optional<std::string> read_all(HANDLE file) {
  LARGE_INTEGER length{};
  if (!GetFileSizeEx(file, &length) || length.QuadPart < 0) return std::nullopt;
  std::string bytes;
  if (length.QuadPart > 0) {
    if (static_cast<unsigned long long>(length.QuadPart) >= bytes.max_size()) return std::nullopt;
    // One byte more than the length, so that reaching the end needs no growth.
    bytes.resize(static_cast<std::size_t>(length.QuadPart) + 1);
  }
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      // The file grew since its length was taken.
      const std::size_t growth = std::max(kMinimumGrowth, bytes.size() / 2);
      if (bytes.max_size() - bytes.size() <= growth) return std::nullopt;
      bytes.resize(bytes.size() + growth);
    }
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - filled, kLargestRead));
    DWORD got = 0;
    if (!ReadFile(file, bytes.data() + filled, want, &got, nullptr)) return std::nullopt;
    if (got == 0) break;
    filled += got;
  }
  bytes.resize(filled);
  return bytes;
}

}  // namespace

std::optional<std::string> read_whole_file_shared(const NativePath& path) {
  // A directory cannot be opened without FILE_FLAG_BACKUP_SEMANTICS, so it fails here.
  win32::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  try {
    return read_all(file.get());
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  } catch (const std::length_error&) {
    return std::nullopt;
  }
}

}  // namespace zorvia::platform
