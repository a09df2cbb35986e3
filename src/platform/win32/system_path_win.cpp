#include <windows.h>

#include "platform/win32/system_path.h"

namespace zorvia::platform::win32 {

std::optional<std::wstring> system_path(const NativePath& path) {
  if (path.find(L'\0') != NativePath::npos) return std::nullopt;
  if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\??\\") || path.empty()) return path;

  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;  // the call that follows reports the system's own error
  std::wstring absolute(needed, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), needed, absolute.data(), nullptr);
  if (written == 0 || written >= needed) return path;
  absolute.resize(written);

  if (absolute.size() >= 3 && absolute[1] == L':' && absolute[2] == L'\\') return L"\\\\?\\" + absolute;
  if (absolute.starts_with(L"\\\\.\\")) return L"\\\\?\\" + absolute.substr(4);
  if (absolute.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + absolute.substr(2);
  return absolute;
}

}  // namespace zorvia::platform::win32
