#include "platform/process_table.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string_view>

#include "platform/scoped_native.h"
#include "platform/win32/wide_text.h"

namespace zorvia::platform {

std::vector<lifecycle::ProcessEntry> snapshot_processes() {
  const ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return {};
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  if (!Process32FirstW(snapshot.get(), &entry)) return {};
  std::vector<lifecycle::ProcessEntry> table;
  do {
    const std::size_t length = wcsnlen(entry.szExeFile, std::size(entry.szExeFile));
    const std::wstring_view name(entry.szExeFile, length);
    table.push_back({static_cast<std::uint32_t>(entry.th32ProcessID), win32::wide_to_utf8_lossy(name)});
  } while (Process32NextW(snapshot.get(), &entry));
  // The walk ends with ERROR_NO_MORE_FILES; any other end leaves the table incomplete.
  if (GetLastError() != ERROR_NO_MORE_FILES) return {};
  return table;
}

}  // namespace zorvia::platform
