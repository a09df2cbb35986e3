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
  // Ends the connection now, from any thread, while the halves may be in use: the
  // application sees the host's end closed, a read or write in progress ends, and any later
  // one fails or reads the end. Destruction still releases the rest.
  virtual void shut_down() = 0;
  // True only when the pipe's server process runs as this process's user; false on any
  // failure on the way.
  [[nodiscard]] virtual bool server_is_same_user() = 0;
};

}  // namespace zorvia::host
