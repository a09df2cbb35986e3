#include "app/watch_exit_entry.h"

#include <string>
#include <vector>

#include "app/watchdog_world.h"
#include "lifecycle/command_line.h"
#include "platform/process_command_line.h"

namespace zorvia::app {

namespace {

#ifdef _WIN32
// The C runtime's argv went through the ANSI code page; the wide command line did not.
using Argument = std::u16string;
std::vector<Argument> process_arguments(int, char**) {
  return lifecycle::split_command_line(platform::process_command_line());
}
// The system's wide paths hold the same UTF-16 units, unpaired surrogates included.
platform::NativePath native_path(const Argument& units) { return platform::NativePath(units.begin(), units.end()); }
#else
using Argument = std::string;
std::vector<Argument> process_arguments(int argc, char** argv) { return std::vector<Argument>(argv, argv + argc); }
platform::NativePath native_path(const Argument& bytes) { return bytes; }
#endif

}  // namespace

bool run_exit_watchdog_if_requested(int argc, char** argv) {
  const std::vector<Argument> arguments = process_arguments(argc, argv);
  const auto choice = lifecycle::choose_watch_exit(std::span<const Argument>(arguments));
  if (std::holds_alternative<lifecycle::NotWatchExit>(choice)) return false;
  if (const auto* request = std::get_if<lifecycle::WatchExitRequest<Argument>>(&choice)) {
    std::optional<platform::NativePath> marker_path;
    if (request->marker_path) marker_path = native_path(*request->marker_path);
    SystemWatchdogWorld world(native_path(request->events_path), std::move(marker_path));
    lifecycle::watch_process_exit(world, request->pid, request->session_id);
  }
  return true;
}

}  // namespace zorvia::app
