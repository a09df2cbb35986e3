#include <windows.h>

#include "platform/os_error.h"
#include "platform/watched_process.h"
#include "platform/win32/last_error.h"

namespace zorvia::platform {

namespace {

constexpr DWORD kWatchAccess = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;  // 0x101000

}  // namespace

std::expected<WatchedProcessHandle, io::OsError> WatchedProcessHandle::open(std::uint32_t pid) {
  ScopedHandle process(OpenProcess(kWatchAccess, FALSE, pid));
  if (!process) return std::unexpected(last_os_error());
  return WatchedProcessHandle(std::move(process), pid);
}

std::uint32_t WatchedProcessHandle::wait() {
  if (!process_) return WAIT_FAILED;
  return WaitForSingleObject(process_.get(), INFINITE);
}

std::optional<std::uint32_t> WatchedProcessHandle::exit_code() {
  DWORD code = 0;
  if (!process_ || !GetExitCodeProcess(process_.get(), &code)) return std::nullopt;
  return code;
}

std::uint32_t current_process_id() { return GetCurrentProcessId(); }

io::OsError invalid_parameter_error() { return win32::os_error(ERROR_INVALID_PARAMETER); }

}  // namespace zorvia::platform
