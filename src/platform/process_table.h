#pragma once
// One snapshot of the system's process table: each process's id and image name.

#include <vector>

#include "lifecycle/suspects.h"

namespace zorvia::platform {

// Every process running at the moment of the call, in the system's own order, gathered in
// one pass on the calling thread. Names are UTF-8, anything unconvertible as U+FFFD.
// Windows: the Toolhelp snapshot's image names (szExeFile); empty when any step fails.
// Linux: every numeric entry of /proc, named by the base name of its first argument when
// that begins with the task name (which the kernel cuts at 15 bytes), else by the task
// name; a process that ends while it is read is left out.
[[nodiscard]] std::vector<lifecycle::ProcessEntry> snapshot_processes();

}  // namespace zorvia::platform
