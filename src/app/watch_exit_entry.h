#pragma once
// The watch-exit mode's entry, wired to the real platform.

namespace zorvia::app {

// True when argument 1 is the watch-exit switch; the mode has then run (or found its
// arguments unusable and done nothing) and host mode must not start.
[[nodiscard]] bool run_exit_watchdog_if_requested(int argc, char** argv);

}  // namespace zorvia::app
