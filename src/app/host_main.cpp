#include "app/host_main.h"

#include <thread>

#include "app/host_runtime.h"
#include "host/run_host.h"
#include "platform/bridge_pipe.h"
#include "platform/console.h"
#include "platform/os_error.h"
#include "platform/user_identity.h"

namespace zorvia::app {

namespace {

class PlatformWorld final : public host::HostWorld {
 public:
  std::expected<std::unique_ptr<host::Runtime>, io::OsError> build_runtime() override { return build_host_runtime(); }

  std::optional<std::string> current_user_sid() override { return platform::current_user_sid(); }

  std::expected<std::unique_ptr<host::PipeClient>, host::PipeOpenError> open_pipe(std::string_view name) override {
    auto pipe = platform::open_bridge_pipe(name);
    if (!pipe) return std::unexpected(pipe.error());
    return std::move(*pipe);
  }

  void sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }

  std::string os_error_text(io::OsError error) override { return platform::os_error_text(error.code); }

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
