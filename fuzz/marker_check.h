#pragma once
// What every marker fuzz target does with the text it made: read it with the marker reader
// and, where the nlohmann-based reference applies, abort when the two disagree on the
// verdict or on the marker read.

#include <optional>
#include <string_view>

#include "lifecycle/process_marker.h"

namespace zorvia::fuzzing {

// The reader's marker for `bytes`, once the reference agreed (or does not apply). A build
// with ZORVIA_FUZZ_MEASURE also counts the texts and the accepted markers among them and
// prints both at exit.
std::optional<lifecycle::ProcessMarker> read_and_compare(std::string_view bytes);

}  // namespace zorvia::fuzzing
