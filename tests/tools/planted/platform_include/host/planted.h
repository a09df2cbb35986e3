// Planted: the core may not include the platform layer.
#include "platform/console.h"
