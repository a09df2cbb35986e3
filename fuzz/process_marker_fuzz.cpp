// Feeds arbitrary bytes to the marker reader and, where the nlohmann-based reference
// applies, aborts when the two disagree on the verdict or on the marker read.

#include <cstdint>
#include <string_view>

#include "marker_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)zorvia::fuzzing::read_and_compare(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
