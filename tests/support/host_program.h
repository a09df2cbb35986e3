#pragma once
// The host as the tests, the demo and the benchmarks run it.

#include <string>

#include "support/child_process.h"

namespace zorvia::testing {

// The host built on the end-to-end tests' pipe name ("-e2e"), with the stand-in application
// and every other test program: nothing they run reaches or serves the pipe of a desktop
// application on this machine. build/<preset>/zorvia-host is the product and is not run.
inline std::string host_program() { return sibling_program("zorvia-host-e2e"); }

}  // namespace zorvia::testing
