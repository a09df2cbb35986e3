#include "host/run_host.h"

#include "host/bridge_name.h"
#include "host/host_error.h"
#include "host/relay.h"

namespace zorvia::host {

std::optional<std::string> bridge_pipe_name(HostWorld& world) {
  const BuildFlavour flavour = build_flavour();
  const auto sid = world.current_user_sid();
  if (!sid) return std::nullopt;
  return bridge_pipe_name_for(flavour, *sid);
}

void run_host(HostWorld& world, Runtime& runtime) {
  io::SharedOutput& out = world.standard_output();
  const auto name = bridge_pipe_name(world);
  if (!name) {
    write_host_error(out, kUserUnknownText);
    return;
  }

  auto client = connect_pipe(
      *name, [&](std::string_view n) { return world.open_pipe(n); },
      [&](std::chrono::milliseconds d) { world.sleep(d); });
  if (!client) {
    std::string message(kNotRunningTextBefore);
    message += world.os_error_text(client.error());
    message += kNotRunningTextAfter;
    write_host_error(out, message);
    return;
  }

  if (!(*client)->server_is_same_user()) {
    // The event first; then our end of the pipe closes, with nothing written to it.
    write_host_error(out, kForeignServerText);
    client->reset();
    return;
  }

  relay_streams(**client, world.standard_input(), out, runtime, [&] { world.relay_ended(); });
}

void host_main(HostWorld& world) {
  auto runtime = world.build_runtime();
  if (!runtime) {
    std::string message(kRuntimeFailedText);
    message += world.os_error_text(runtime.error());
    write_host_error(world.standard_output(), message);
    return;
  }
  run_host(world, **runtime);
}

}  // namespace zorvia::host
