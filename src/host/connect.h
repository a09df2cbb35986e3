#pragma once
// Opening the bridge pipe, with a short retry while every instance of it is busy.

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "host/pipe_client.h"

namespace zorvia::host {

// A failure before the relay starts: an operating-system error, or one of our own.
struct StartError {
  std::optional<std::int32_t> os_code;
  std::string own_text;  // the display text of an error that is not the system's

  [[nodiscard]] static StartError os(std::int32_t code) { return {code, {}}; }
  [[nodiscard]] static StartError own(std::string text) { return {std::nullopt, std::move(text)}; }
};

// What one failed open gave. The platform decides what counts as busy (ERROR_PIPE_BUSY, or
// a listener whose backlog is full).
struct PipeOpenError {
  StartError error;
  bool busy = false;
};

inline constexpr std::uint32_t kBusyRetryLimit = 20;
inline constexpr std::chrono::milliseconds kBusyRetryDelay{50};

using PipeOpen = std::function<std::expected<std::unique_ptr<PipeClient>, PipeOpenError>(std::string_view name)>;
using Sleep = std::function<void(std::chrono::milliseconds)>;

// Opens `name` at once; a busy answer is retried after `kBusyRetryDelay`, at most
// `kBusyRetryLimit` times (21 opens in all). Every other failure is returned at once.
[[nodiscard]] std::expected<std::unique_ptr<PipeClient>, StartError> connect_pipe(std::string_view name,
                                                                                  const PipeOpen& open,
                                                                                  const Sleep& sleep);

}  // namespace zorvia::host
