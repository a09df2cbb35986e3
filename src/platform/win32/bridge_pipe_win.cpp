#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string>

#include "platform/bridge_pipe.h"
#include "platform/os_error.h"
#include "platform/scoped_native.h"
#include "platform/transfer_size.h"
#include "platform/win32/last_error.h"
#include "platform/win32/token_user.h"
#include "platform/win32/wide_text.h"

namespace zorvia::platform {

namespace {

constexpr DWORD kOpenFlags = FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;  // 0x40110000

std::unexpected<host::PipeOpenError> open_failed(DWORD error, bool busy = false) {
  return std::unexpected(host::PipeOpenError{win32::os_error(error), busy});
}

// How the server's closing of its end shows on a read: a plain close gives a broken pipe,
// DisconnectNamedPipe "not connected". Both are the end of the pipe, after whatever was read.
bool is_end_of_pipe(DWORD error) { return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED; }

// The pipe handle both directions share. An I/O starts only under the lock and only while the
// handle is open, so shut_down can close it while the other thread is anywhere: a transfer in
// flight is cancelled, a later one never meets a closed (or reused) handle value.
class GuardedPipe {
 public:
  explicit GuardedPipe(ScopedHandle pipe) : pipe_(std::move(pipe)) {}

  // Calls start(handle) under the lock; ERROR_PIPE_NOT_CONNECTED once the pipe is shut down.
  template <typename Start>
  DWORD begin(Start start) {
    std::lock_guard lock(mutex_);
    if (!pipe_) return ERROR_PIPE_NOT_CONNECTED;
    return start(pipe_.get()) ? ERROR_SUCCESS : GetLastError();
  }

  void shut_down() {
    std::lock_guard lock(mutex_);
    if (!pipe_) return;
    CancelIoEx(pipe_.get(), nullptr);  // both directions' transfers in flight end now
    pipe_.reset();                     // and the server sees our end closed
  }

  // Only while no other thread can shut the pipe down (before the relay).
  [[nodiscard]] HANDLE handle() const { return pipe_.get(); }

 private:
  std::mutex mutex_;
  ScopedHandle pipe_;
};

// One direction's overlapped I/O: its own OVERLAPPED and event. Each call waits on its own
// event (never on the pipe handle, which shut_down may have closed meanwhile) until its I/O
// is complete, so the OVERLAPPED and the caller's buffer are never released while the system
// still uses them.
class OverlappedDirection {
 public:
  OverlappedDirection(GuardedPipe& pipe, ScopedHandle event) : pipe_(pipe), event_(std::move(event)) {}

  template <typename Start>
  std::expected<std::size_t, io::OsError> transfer(Start start) {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_.get();
    HANDLE used = nullptr;
    const DWORD started = pipe_.begin([&](HANDLE h) {
      used = h;
      return start(h, &overlapped_);
    });
    if (started != ERROR_SUCCESS && started != ERROR_IO_PENDING)
      return std::unexpected(win32::os_error(started));
    WaitForSingleObject(event_.get(), INFINITE);
    DWORD done = 0;
    if (!GetOverlappedResult(used, &overlapped_, &done, FALSE))
      return std::unexpected(last_os_error());
    return done;
  }

 private:
  GuardedPipe& pipe_;
  ScopedHandle event_;
  OVERLAPPED overlapped_{};
};

class PipeReader final : public io::ByteSource {
 public:
  PipeReader(GuardedPipe& pipe, ScopedHandle event) : io_(pipe, std::move(event)) {}
  std::expected<std::size_t, io::OsError> read_some(std::span<char> into) override {
    const DWORD want = static_cast<DWORD>(transfer_size(into.size()));
    auto got = io_.transfer([&](HANDLE h, OVERLAPPED* o) { return ReadFile(h, into.data(), want, nullptr, o) != 0; });
    if (!got && is_end_of_pipe(static_cast<DWORD>(got.error().code))) return 0;
    return got;
  }

 private:
  OverlappedDirection io_;
};

// Every failed write ends the relay's direction, whether the server has gone (a broken pipe,
// ERROR_NO_DATA while it closes, "not connected" after DisconnectNamedPipe) or anything else.
class PipeWriter final : public io::ByteSink {
 public:
  PipeWriter(GuardedPipe& pipe, ScopedHandle event) : io_(pipe, std::move(event)) {}
  std::expected<std::size_t, io::OsError> write_some(std::span<const char> bytes) override {
    const DWORD want = static_cast<DWORD>(transfer_size(bytes.size()));
    return io_.transfer([&](HANDLE h, OVERLAPPED* o) { return WriteFile(h, bytes.data(), want, nullptr, o) != 0; });
  }

 private:
  OverlappedDirection io_;
};

}  // namespace

struct BridgePipe::Impl {
  Impl(ScopedHandle handle, ScopedHandle read_event, ScopedHandle write_event)
      : pipe(std::move(handle)), reader(pipe, std::move(read_event)), writer(pipe, std::move(write_event)) {}

  GuardedPipe pipe;  // declared first: closed after both directions are gone
  PipeReader reader;
  PipeWriter writer;
};

BridgePipe::BridgePipe(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
BridgePipe::~BridgePipe() = default;
io::ByteSource& BridgePipe::read_half() { return impl_->reader; }
io::ByteSink& BridgePipe::write_half() { return impl_->writer; }
void BridgePipe::shut_down() { impl_->pipe.shut_down(); }

std::expected<std::unique_ptr<BridgePipe>, host::PipeOpenError> open_bridge_pipe(std::string_view name) {
  const std::wstring wide = win32::utf8_to_wide(name);
  ScopedHandle pipe(
      CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kOpenFlags, nullptr));
  if (!pipe) {
    const DWORD error = GetLastError();
    return open_failed(error, error == ERROR_PIPE_BUSY);
  }
  // Manual-reset events, one per direction: the pipe's "registration" for overlapped I/O.
  ScopedHandle read_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!read_event) return open_failed(GetLastError());
  ScopedHandle write_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!write_event) return open_failed(GetLastError());
  return std::make_unique<BridgePipe>(
      std::make_unique<BridgePipe::Impl>(std::move(pipe), std::move(read_event), std::move(write_event)));
}

bool pipe_server_is_same_user(BridgePipe& pipe) {
  ULONG server_id = 0;
  if (!GetNamedPipeServerProcessId(pipe.impl().pipe.handle(), &server_id) || server_id == 0) return false;
  std::optional<TokenUser> server;
  {
    ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, server_id));
    if (!process) return false;
    server = win32::token_user(process.get());
  }  // the server process handle is closed as soon as its user is read
  return same_known_user(server, own_token_user());
}

}  // namespace zorvia::platform
