#pragma once
// One owner for a Win32 handle. Both null and INVALID_HANDLE_VALUE mean "no handle", and
// closing keeps the thread's last error, so cleanup never clobbers the error being reported.

#include <windows.h>

#include <utility>

namespace zorvia::platform::win32 {

class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE h) : handle_(h) {}
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { reset(); }

  [[nodiscard]] bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  explicit operator bool() const { return valid(); }
  [[nodiscard]] HANDLE get() const { return handle_; }
  HANDLE release() { return std::exchange(handle_, nullptr); }
  void reset(HANDLE h = nullptr) {
    if (valid()) {
      const DWORD saved = GetLastError();
      CloseHandle(handle_);
      SetLastError(saved);
    }
    handle_ = h;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace zorvia::platform::win32
