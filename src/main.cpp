// zorvia-host: the ZORVIA extension's native-messaging host, and with --zorvia-watch-exit
// as its first argument the desktop application's exit watchdog.

#include "platform/console.h"

int main() {
  zorvia::platform::prepare_process();
  return 0;
}
