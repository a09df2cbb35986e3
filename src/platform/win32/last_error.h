#pragma once
// The thread's last error (GetLastError) as the platform layer reports it.

#include <windows.h>

#include <cstdint>

#include "io/os_error.h"

namespace zorvia::platform::win32 {

// A Win32 error code as the core sees it: the DWORD's bits, read as signed.
[[nodiscard]] inline io::OsError os_error(DWORD code) { return io::OsError{static_cast<std::int32_t>(code)}; }

// Puts the thread's last error back as it was at construction, whatever ran meanwhile.
class LastErrorKept {
 public:
  LastErrorKept() = default;
  LastErrorKept(const LastErrorKept&) = delete;
  LastErrorKept& operator=(const LastErrorKept&) = delete;
  ~LastErrorKept() { SetLastError(saved_); }

 private:
  DWORD saved_ = GetLastError();
};

}  // namespace zorvia::platform::win32
