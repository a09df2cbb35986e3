#pragma once
// A second, deliberately plain statement of the relay's two directions, for the fuzzer to check
// the real ones against: each works on the whole input at once, with no buffers, no pieces and
// no care for memory, and shares no code with the host.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zorvia::fuzzing {

// An input position that stands for "once the input has reported its end".
inline constexpr std::size_t kAtEnd = static_cast<std::size_t>(-1);

struct ModelMessage {
  std::string bytes;  // what goes out: a line with its "\n", or a frame with its header
  std::size_t due;    // the input bytes it needs (or kAtEnd): it may go out once they have
                      // arrived, and must be out before the direction reads any further
};

enum class ModelEnd {
  input_ended,    // the input ended or failed; the direction reads until it does
  refused,        // a length, a line's UTF-8 or a line's size ended it
  output_failed,  // the output refused a message
};

struct ModelRun {
  std::vector<ModelMessage> messages;  // in order, their `due` never decreasing
  ModelEnd end = ModelEnd::input_ended;
  std::size_t decided_at = kAtEnd;  // once this many input bytes have arrived, no further read
};

// Frames from the browser to lines for the application.
[[nodiscard]] ModelRun frames_to_lines(std::string_view input);

// Lines from the application to frames for the browser. `input_fails_at_end`: the input
// reports an error instead of its end.
[[nodiscard]] ModelRun lines_to_frames(std::string_view input, bool input_fails_at_end);

// An output that takes `capacity` bytes and then refuses: the first message that does not
// fit whole is the last one tried, and the direction ends there.
void limit_output(ModelRun& run, std::size_t capacity);

}  // namespace zorvia::fuzzing
