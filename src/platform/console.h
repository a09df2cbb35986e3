#pragma once
// The process's standard streams as raw bytes: no text mode, no code-page conversion.

#include "io/streams.h"

namespace zorvia::platform {

// End of input, a closed pipe and a missing standard handle all read as the end (0).
io::ByteSource& standard_input();
// A missing standard handle or a closed reader gives an error, never a signal.
io::ByteSink& standard_output();

// Process-wide set-up, first of all, before anything is opened. On Linux: a standard
// descriptor missing at start is held by a placeholder, so that nothing the program opens
// takes its number (it stays missing: input reads as the end, output fails); a closed reader
// must give EPIPE rather than end the process with SIGPIPE.
void prepare_process();

// Ends the process at once with `status`, whatever other threads are doing; nothing
// is flushed, since the program keeps no buffered output.
[[noreturn]] void exit_process(int status);

}  // namespace zorvia::platform
