#pragma once
// Another process, opened to learn when and how it ends.

#include <cstdint>
#include <expected>
#include <optional>
#include <utility>

#include "io/streams.h"
#include "platform/scoped_native.h"

namespace zorvia::platform {

class WatchedProcessHandle {
 public:
  // Windows: OpenProcess with SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION.
  // Linux: a pidfd. The error is the code the failed open left.
  [[nodiscard]] static std::expected<WatchedProcessHandle, io::OsError> open(std::uint32_t pid);

  // Waits without a time-out: 0 once the process has ended; anything else (WAIT_FAILED,
  // 0xFFFFFFFF) means the wait failed.
  [[nodiscard]] std::uint32_t wait();
  // After a successful wait. Linux: only while the ended process is not yet reaped, and
  // only for a normal exit; a signalled or reaped process gives nothing.
  [[nodiscard]] std::optional<std::uint32_t> exit_code();
  // Closes the handle now; its result is ignored. The destructor does the same.
  void close() { process_.reset(); }

 private:
  WatchedProcessHandle(ScopedHandle process, std::uint32_t pid) : process_(std::move(process)), pid_(pid) {}
  ScopedHandle process_;
  std::uint32_t pid_;
};

// GetCurrentProcessId, getpid.
[[nodiscard]] std::uint32_t current_process_id();

// The system's error for an invalid parameter: ERROR_INVALID_PARAMETER (87), EINVAL.
[[nodiscard]] io::OsError invalid_parameter_error();

}  // namespace zorvia::platform
