// zorvia-host: the ZORVIA extension's native-messaging host, and with --zorvia-watch-exit
// as its first argument the desktop application's exit watchdog.

#include "app/host_main.h"
#include "app/watch_exit_entry.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  zorvia::platform::prepare_process();
  if (zorvia::app::run_exit_watchdog_if_requested(argc, argv)) return 0;
  return zorvia::app::run_host_mode();
}
