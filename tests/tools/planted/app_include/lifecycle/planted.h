// Planted: the core may not include the app wiring.
#include "app/host_main.h"
