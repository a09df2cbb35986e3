#include "app/host_main.h"

#include <thread>

#include "host/run_host.h"
#include "platform/bridge_pipe.h"
#include "platform/console.h"
#include "platform/host_runtime.h"
#include "platform/os_error.h"
#include "platform/user_identity.h"

namespace zorvia::app {

namespace {

class PlatformWorld final : public host::HostWorld {
 public:
  std::expected<std::unique_ptr<host::Runtime>, host::StartError> build_runtime() override {
    auto runtime = platform::build_host_runtime();
    if (!runtime) return std::unexpected(host::StartError::os(runtime.error().code));
    return std::move(*runtime);
  }

  std::optional<std::string> current_user_sid() override { return platform::current_user_sid(); }

  std::expected<std::unique_ptr<host::PipeClient>, host::PipeOpenError> open_pipe(std::string_view name) override {
    auto pipe = platform::open_bridge_pipe(name);
    if (!pipe) return std::unexpected(host::PipeOpenError{host::StartError::os(pipe.error().code), pipe.error().busy});
    return std::move(*pipe);
  }

  void sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }

  bool pipe_server_is_same_user(host::PipeClient& pipe) override {
    // Every client here came from open_pipe; anything else is not trusted.
    auto* bridge = dynamic_cast<platform::BridgePipe*>(&pipe);
    return bridge != nullptr && platform::pipe_server_is_same_user(*bridge);
  }

  std::string os_error_text(std::int32_t code) override { return platform::os_error_text(code); }

  io::ByteSource& standard_input() override { return platform::standard_input(); }

  io::SharedOutput& standard_output() override { return output_; }

  [[noreturn]] void relay_ended() override {
    // The output is stopped and the pipe shut down: a frame being written goes out whole
    // first; a standard-input read still pending is abandoned, so the browser learns at once
    // that the host is gone.
    output_.wait_until_idle();
    platform::exit_process(0);
  }

 private:
  io::SharedOutput output_{platform::standard_output()};
};

}  // namespace

int run_host_mode() {
  PlatformWorld world;
  host::host_main(world);
  return 0;
}

}  // namespace zorvia::app
