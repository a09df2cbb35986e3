#pragma once
// Opening the bridge pipe, with a short retry while every instance of it is busy.

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <string_view>

#include "host/pipe_client.h"
#include "io/os_error.h"

namespace zorvia::host {

// What one failed open gave. The platform decides what counts as busy (ERROR_PIPE_BUSY, or
// a listener whose backlog is full).
struct PipeOpenError {
  io::OsError error;
  bool busy = false;
};

inline constexpr std::uint32_t kBusyRetryLimit = 20;
inline constexpr std::chrono::milliseconds kBusyRetryDelay{50};

using PipeOpen = std::function<std::expected<std::unique_ptr<PipeClient>, PipeOpenError>(std::string_view name)>;
using Sleep = std::function<void(std::chrono::milliseconds)>;

// Opens `name` at once; a busy answer is retried after `kBusyRetryDelay`, at most
// `kBusyRetryLimit` times (21 opens in all). Every other failure is returned at once.
[[nodiscard]] std::expected<std::unique_ptr<PipeClient>, io::OsError> connect_pipe(std::string_view name,
                                                                                   const PipeOpen& open,
                                                                                   const Sleep& sleep);

}  // namespace zorvia::host
