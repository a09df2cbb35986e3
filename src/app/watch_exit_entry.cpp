#include "app/watch_exit_entry.h"

#include <string_view>

namespace zorvia::app {

bool run_exit_watchdog_if_requested(int argc, char** argv) {
  return argc >= 2 && std::string_view(argv[1]) == "--zorvia-watch-exit";
}

}  // namespace zorvia::app
