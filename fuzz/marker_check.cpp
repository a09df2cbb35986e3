#include "marker_check.h"

#include <cstdio>
#include <cstdlib>

#include "process_marker_reference.h"

namespace zorvia::fuzzing {

namespace {

const char* describe(const std::optional<lifecycle::ProcessMarker>& m) { return m ? "a marker" : "nothing"; }

#ifdef ZORVIA_FUZZ_MEASURE
struct AcceptanceCount {
  unsigned long long texts = 0;
  unsigned long long accepted = 0;
  ~AcceptanceCount() {
    std::fprintf(stderr, "accepted markers: %llu of %llu texts (%.1f%%)\n", accepted, texts,
                 texts ? 100.0 * static_cast<double>(accepted) / static_cast<double>(texts) : 0.0);
  }
};
AcceptanceCount acceptance;
#endif

}  // namespace

std::optional<lifecycle::ProcessMarker> read_and_compare(std::string_view bytes) {
  auto marker = lifecycle::parse_process_marker(bytes);
#ifdef ZORVIA_FUZZ_MEASURE
  ++acceptance.texts;
  if (marker) ++acceptance.accepted;
#endif
  const auto reference = reference_marker(bytes);
  if (reference.verdict != ReferenceVerdict::not_applicable && marker != reference.marker) {
    std::fprintf(stderr, "disagreement: the reader gives %s, the reference %s%s\n", describe(marker),
                 describe(reference.marker), marker && reference.marker ? " with other field values" : "");
    std::abort();
  }
  return marker;
}

}  // namespace zorvia::fuzzing
