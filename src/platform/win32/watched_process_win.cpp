#include <windows.h>

#include <utility>

#include "platform/watched_process.h"
#include "platform/win32/scoped_handle.h"

namespace zorvia::platform {

namespace {

constexpr DWORD kWatchAccess = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;  // 0x101000

HANDLE as_handle(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }

}  // namespace

std::expected<WatchedProcessHandle, io::OsError> WatchedProcessHandle::open(std::uint32_t pid) {
  const HANDLE h = OpenProcess(kWatchAccess, FALSE, pid);
  if (h == nullptr) return std::unexpected(io::OsError{static_cast<std::int32_t>(GetLastError())});
  return WatchedProcessHandle(reinterpret_cast<std::intptr_t>(h), pid);
}

WatchedProcessHandle::WatchedProcessHandle(WatchedProcessHandle&& other) noexcept
    : native_(std::exchange(other.native_, 0)), pid_(other.pid_) {}

WatchedProcessHandle& WatchedProcessHandle::operator=(WatchedProcessHandle&& other) noexcept {
  if (this != &other) {
    close();
    native_ = std::exchange(other.native_, 0);
    pid_ = other.pid_;
  }
  return *this;
}

WatchedProcessHandle::~WatchedProcessHandle() { close(); }

void WatchedProcessHandle::close() { win32::ScopedHandle closing(as_handle(std::exchange(native_, 0))); }

std::uint32_t WatchedProcessHandle::wait() {
  if (native_ == 0) return WAIT_FAILED;
  return WaitForSingleObject(as_handle(native_), INFINITE);
}

std::optional<std::uint32_t> WatchedProcessHandle::exit_code() {
  DWORD code = 0;
  if (native_ == 0 || !GetExitCodeProcess(as_handle(native_), &code)) return std::nullopt;
  return code;
}

std::uint32_t current_process_id() { return GetCurrentProcessId(); }

std::int32_t invalid_parameter_error() { return ERROR_INVALID_PARAMETER; }

}  // namespace zorvia::platform
