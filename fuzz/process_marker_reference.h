#pragma once
// A second reader of the marker record, built on nlohmann/json, for the fuzzer to check
// the strict hand-written reader against.

#include <optional>
#include <string_view>

#include "lifecycle/process_marker.h"

namespace zorvia::fuzzing {

enum class ReferenceVerdict { refused, accepted, not_applicable };

struct ReferenceResult {
  ReferenceVerdict verdict = ReferenceVerdict::not_applicable;
  std::optional<lifecycle::ProcessMarker> marker;  // set exactly when accepted
};

// The marker that `bytes` holds according to nlohmann/json's grammar plus the record's
// shape rules, or `not_applicable` where nlohmann's rules and the record's differ.
[[nodiscard]] ReferenceResult reference_marker(std::string_view bytes);

}  // namespace zorvia::fuzzing
