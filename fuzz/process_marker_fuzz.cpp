// Feeds arbitrary bytes to the marker reader and, where the nlohmann-based reference
// applies, aborts when the two disagree on the verdict or on the marker read.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "lifecycle/process_marker.h"
#include "process_marker_reference.h"

namespace {

const char* describe(const std::optional<zorvia::lifecycle::ProcessMarker>& m) { return m ? "a marker" : "nothing"; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto marker = zorvia::lifecycle::parse_process_marker(bytes);
  const auto reference = zorvia::fuzzing::reference_marker(bytes);
  if (reference.verdict == zorvia::fuzzing::ReferenceVerdict::not_applicable) return 0;
  if (marker != reference.marker) {
    std::fprintf(stderr, "disagreement: the reader gives %s, the reference %s%s\n", describe(marker),
                 describe(reference.marker), marker && reference.marker ? " with other field values" : "");
    std::abort();
  }
  return 0;
}
