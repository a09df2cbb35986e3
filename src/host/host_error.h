#pragma once
// The only messages the host composes itself: {"error":<message>,"event":"host_error"}.

#include <string>
#include <string_view>

#include "io/streams.h"

namespace zorvia::host {

[[nodiscard]] std::string host_error_body(std::string_view message);

// Writes one host error frame. A body over MAX_MESSAGE_LEN writes nothing at all; a failed
// write (the browser closed standard output) is ignored: the host ends the same way.
void write_host_error(io::SharedOutput& out, std::string_view message);

}  // namespace zorvia::host
