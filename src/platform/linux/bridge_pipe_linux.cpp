#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "host/bridge_name.h"
#include "platform/bridge_pipe.h"
#include "platform/scoped_native.h"
#include "platform/transfer_size.h"
#include "platform/user_identity.h"

namespace zorvia::platform {

namespace {

std::unexpected<host::PipeOpenError> open_failed(int error, bool busy = false) {
  return std::unexpected(host::PipeOpenError{io::OsError{error}, busy});
}

// The peer closing its end shows as ECONNRESET (it left data unread) or EPIPE: both are
// the end of the pipe, as a broken pipe is on Windows.
bool is_peer_gone(int error) { return error == ECONNRESET || error == EPIPE; }

class SocketReader final : public io::ByteSource {
 public:
  explicit SocketReader(int fd) : fd_(fd) {}
  std::expected<std::size_t, io::OsError> read_some(std::span<char> into) override {
    for (;;) {
      const ssize_t got = ::recv(fd_, into.data(), transfer_size(into.size()), 0);
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno == EINTR) continue;
      if (is_peer_gone(errno)) return 0;
      return std::unexpected(io::OsError{errno});
    }
  }

 private:
  int fd_;
};

class SocketWriter final : public io::ByteSink {
 public:
  explicit SocketWriter(int fd) : fd_(fd) {}
  std::expected<std::size_t, io::OsError> write_some(std::span<const char> bytes) override {
    for (;;) {
      const ssize_t put = ::send(fd_, bytes.data(), transfer_size(bytes.size()), MSG_NOSIGNAL);
      if (put >= 0) return static_cast<std::size_t>(put);
      if (errno == EINTR) continue;
      return std::unexpected(io::OsError{errno});
    }
  }

 private:
  int fd_;
};

}  // namespace

struct BridgePipe::Impl {
  explicit Impl(ScopedHandle socket) : fd(std::move(socket)), reader(fd.get()), writer(fd.get()) {}

  ScopedHandle fd;  // declared first: closed after both directions are gone
  SocketReader reader;
  SocketWriter writer;
};

BridgePipe::BridgePipe(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
BridgePipe::~BridgePipe() = default;
io::ByteSource& BridgePipe::read_half() { return impl_->reader; }
io::ByteSink& BridgePipe::write_half() { return impl_->writer; }
// Not close: the descriptor stays ours until destruction, so the other thread's recv or send
// can never meet a reused number; the peer sees the end of its client all the same.
void BridgePipe::shut_down() { ::shutdown(impl_->fd.get(), SHUT_RDWR); }

std::expected<std::unique_ptr<BridgePipe>, host::PipeOpenError> open_bridge_pipe(std::string_view name) {
  std::string_view abstract_name = name;
  if (abstract_name.starts_with(host::kPipeNamespace)) abstract_name.remove_prefix(host::kPipeNamespace.size());

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (abstract_name.size() + 1 > sizeof address.sun_path) return open_failed(ENAMETOOLONG);
  // A leading NUL puts the name in the abstract namespace: no file, gone with its listener.
  std::memcpy(address.sun_path + 1, abstract_name.data(), abstract_name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + abstract_name.size());

  ScopedHandle fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) return open_failed(errno);
  int result;
  do {
    result = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int error = errno;
    // Without blocking, a listener whose backlog is full answers EAGAIN: the pipe is busy.
    return open_failed(error, error == EAGAIN);
  }
  // The relay's reads and writes block, each on its own thread.
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return open_failed(errno);
  return std::make_unique<BridgePipe>(std::make_unique<BridgePipe::Impl>(std::move(fd)));
}

bool pipe_server_is_same_user(BridgePipe& pipe) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(pipe.impl().fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return false;
  if (peer.pid == 0) return false;
  return same_known_user(TokenUser({peer.uid}), own_token_user());
}

}  // namespace zorvia::platform
