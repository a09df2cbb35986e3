#include "host/bridge_name.h"

// Compiled once per flavour with ZORVIA_BUILD_FLAVOUR_VALUE set, and linked into each program
// on its own: the same core serves the product and the end-to-end test programs.
namespace zorvia::host {

BuildFlavour build_flavour() { return static_cast<BuildFlavour>(ZORVIA_BUILD_FLAVOUR_VALUE); }

}  // namespace zorvia::host
