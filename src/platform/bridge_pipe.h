#pragma once
// The client end of the desktop application's bridge pipe.
//
// Windows: the named pipe, opened with GENERIC_READ | GENERIC_WRITE, no sharing,
// OPEN_EXISTING and FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
// left in byte mode; each half has its own OVERLAPPED and event, so a read and a write can be
// pending at once. Linux stand-in: a Unix stream socket in the abstract namespace named by
// the text after \\.\pipe\, connected without blocking (a full backlog is "busy").

#include <expected>
#include <memory>
#include <string_view>

#include "host/connect.h"
#include "host/pipe_client.h"

namespace zorvia::platform {

class BridgePipe;

// True only when the pipe's server process runs as the same user as this process. A server
// process id of 0 and every failure on the way give false.
[[nodiscard]] bool pipe_server_is_same_user(BridgePipe& pipe);

class BridgePipe final : public host::PipeClient {
 public:
  struct Impl;
  explicit BridgePipe(std::unique_ptr<Impl> impl);
  ~BridgePipe() override;
  BridgePipe(const BridgePipe&) = delete;
  BridgePipe& operator=(const BridgePipe&) = delete;

  [[nodiscard]] io::ByteSource& read_half() override;
  [[nodiscard]] io::ByteSink& write_half() override;
  void shut_down() override;
  [[nodiscard]] bool server_is_same_user() override { return pipe_server_is_same_user(*this); }
  [[nodiscard]] Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// One open with the fixed options; the reason when it fails.
[[nodiscard]] std::expected<std::unique_ptr<BridgePipe>, host::PipeOpenError> open_bridge_pipe(std::string_view name);

}  // namespace zorvia::platform
