#pragma once
// Host mode, wired to the real platform.

namespace zorvia::app {

// Runs the native-messaging host until it ends; returns the exit status.
int run_host_mode();

}  // namespace zorvia::app
