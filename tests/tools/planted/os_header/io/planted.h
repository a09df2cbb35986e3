// Planted: the core may not include an OS header.
#include <windows.h>
