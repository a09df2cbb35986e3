#include "app/host_main.h"

namespace zorvia::app {

int run_host_mode() { return 0; }

}  // namespace zorvia::app
