#pragma once
// The two-way relay between the browser (standard streams) and the desktop application
// (the bridge pipe). The directions are independent: no pairing of requests and answers.

#include <functional>

#include "host/pipe_client.h"
#include "host/runtime.h"
#include "io/streams.h"

namespace zorvia::host {

// Frames from standard input become lines on the pipe: each body as it is, then "\n".
// Ends at the end of input (even inside a frame), a read error, a length of 0 or over
// MAX_MESSAGE_LEN (the body is not read), or a pipe write that fails or takes nothing.
void extension_to_pipe(io::ByteSource& standard_input, io::ByteSink& pipe);

// Non-blank lines from the pipe become frames on standard output, one whole frame per write
// under the output's lock. Ends at the end of the pipe (after a final line without "\n"), a
// read error, a line that is not UTF-8, a non-blank line over MAX_MESSAGE_LEN, or a failed
// write.
void pipe_to_extension(io::ByteSource& pipe, io::SharedOutput& standard_output);

// Runs both directions at once, one on each worker of `runtime`. As soon as the first has
// ended, the standard output is stopped (at most the frame already being written goes out)
// and the pipe is shut down; then `on_first_end` runs while the other direction may still be
// blocked in a read or a write, and the host ends the process there. Should it return, the
// relay waits for the other direction too. Every end is silent.
void relay_streams(PipeClient& pipe, io::ByteSource& standard_input, io::SharedOutput& standard_output,
                   Runtime& runtime, const std::function<void()>& on_first_end);

}  // namespace zorvia::host
