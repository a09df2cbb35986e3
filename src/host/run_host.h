#pragma once
// The host's main line: build the runtime, name the pipe, connect, check the server's user,
// relay. Each failure before the relay becomes exactly one host error event.

#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "host/connect.h"
#include "host/pipe_client.h"
#include "host/runtime.h"
#include "io/streams.h"

namespace zorvia::host {

inline constexpr std::string_view kRuntimeFailedText = "Хост не запустился: ";
inline constexpr std::string_view kUserUnknownText = "Не удалось определить пользователя Windows";
inline constexpr std::string_view kNotRunningTextBefore = "ЗОРВИЯ не запущена (";
inline constexpr std::string_view kNotRunningTextAfter = "). Откройте приложение и попробуйте снова.";
inline constexpr std::string_view kForeignServerText = "Канал ЗОРВИИ открыт чужим процессом: подключение отклонено";

// Everything the host does to the outside world. The app wires the real platform; tests
// supply their own.
class HostWorld {
 public:
  virtual ~HostWorld() = default;
  [[nodiscard]] virtual std::expected<std::unique_ptr<Runtime>, io::OsError> build_runtime() = 0;
  // The current user's SID in its string form, or nothing when it cannot be read.
  [[nodiscard]] virtual std::optional<std::string> current_user_sid() = 0;
  [[nodiscard]] virtual std::expected<std::unique_ptr<PipeClient>, PipeOpenError> open_pipe(std::string_view name) = 0;
  virtual void sleep(std::chrono::milliseconds duration) = 0;
  // "{message} (os error {code})": what takes the place of the braces in the start-up messages.
  [[nodiscard]] virtual std::string os_error_text(io::OsError error) = 0;
  [[nodiscard]] virtual io::ByteSource& standard_input() = 0;
  [[nodiscard]] virtual io::SharedOutput& standard_output() = 0;
  // The first direction of the relay has ended, standard output is stopped and the pipe shut
  // down; the real host waits for a frame still being written and ends the process here.
  virtual void relay_ended() = 0;
};

// The bridge pipe name of this build for the current user, or nothing.
[[nodiscard]] std::optional<std::string> bridge_pipe_name(HostWorld& world);

// From the pipe name to the end of the relay, over a runtime already built.
void run_host(HostWorld& world, Runtime& runtime);

// The host mode: builds the runtime (a failure is reported, and no pipe is opened), then
// runs the host on it.
void host_main(HostWorld& world);

}  // namespace zorvia::host
