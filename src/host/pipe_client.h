#pragma once
// The host's end of the desktop application's bridge pipe, as the relay sees it.

#include "io/streams.h"

namespace zorvia::host {

// One connected client, split into a read half and a write half that share it: a read and a
// write may be in progress at the same time, each from its own thread. Destroying the client
// closes the host's end of the pipe; no I/O may be in progress then.
class PipeClient {
 public:
  virtual ~PipeClient() = default;
  [[nodiscard]] virtual io::ByteSource& read_half() = 0;
  [[nodiscard]] virtual io::ByteSink& write_half() = 0;
};

}  // namespace zorvia::host
