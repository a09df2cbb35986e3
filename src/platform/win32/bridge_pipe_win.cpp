#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/bridge_pipe.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/token_user.h"
#include "text/unicode.h"

namespace zorvia::platform {

namespace {

constexpr DWORD kOpenFlags = FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;  // 0x40110000
constexpr DWORD kLargestTransfer = 1u << 30;

// One direction's overlapped I/O: its own OVERLAPPED and event. Each call waits for its I/O
// to complete before it returns, so the OVERLAPPED and the caller's buffer are never
// released while the system still uses them.
class OverlappedDirection {
 public:
  explicit OverlappedDirection(HANDLE pipe, win32::ScopedHandle event) : pipe_(pipe), event_(std::move(event)) {}

  template <typename Start>
  std::expected<std::size_t, io::OsError> transfer(Start start) {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_.get();
    if (!start(&overlapped_)) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) return std::unexpected(io::OsError{static_cast<std::int32_t>(error)});
    }
    DWORD done = 0;
    if (!GetOverlappedResult(pipe_, &overlapped_, &done, TRUE))
      return std::unexpected(io::OsError{static_cast<std::int32_t>(GetLastError())});
    return done;
  }

 private:
  HANDLE pipe_;
  win32::ScopedHandle event_;
  OVERLAPPED overlapped_{};
};

class PipeReader final : public io::ByteSource {
 public:
  PipeReader(HANDLE pipe, win32::ScopedHandle event) : pipe_(pipe), io_(pipe, std::move(event)) {}
  std::expected<std::size_t, io::OsError> read_some(std::span<char> into) override {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(into.size(), kLargestTransfer));
    auto got = io_.transfer([&](OVERLAPPED* o) { return ReadFile(pipe_, into.data(), want, nullptr, o) != 0; });
    // The server closing its end is the end of the pipe, not an error.
    if (!got && got.error().code == ERROR_BROKEN_PIPE) return 0;
    return got;
  }

 private:
  HANDLE pipe_;
  OverlappedDirection io_;
};

class PipeWriter final : public io::ByteSink {
 public:
  PipeWriter(HANDLE pipe, win32::ScopedHandle event) : pipe_(pipe), io_(pipe, std::move(event)) {}
  std::expected<std::size_t, io::OsError> write_some(std::span<const char> bytes) override {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kLargestTransfer));
    return io_.transfer([&](OVERLAPPED* o) { return WriteFile(pipe_, bytes.data(), want, nullptr, o) != 0; });
  }

 private:
  HANDLE pipe_;
  OverlappedDirection io_;
};

}  // namespace

struct BridgePipe::Impl {
  Impl(win32::ScopedHandle handle, win32::ScopedHandle read_event, win32::ScopedHandle write_event)
      : pipe(std::move(handle)), reader(pipe.get(), std::move(read_event)), writer(pipe.get(), std::move(write_event)) {}

  win32::ScopedHandle pipe;  // declared first: closed after both directions are gone
  PipeReader reader;
  PipeWriter writer;
};

BridgePipe::BridgePipe(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
BridgePipe::~BridgePipe() = default;
io::ByteSource& BridgePipe::read_half() { return impl_->reader; }
io::ByteSink& BridgePipe::write_half() { return impl_->writer; }

std::expected<std::unique_ptr<BridgePipe>, PipeOpenFailure> open_bridge_pipe(std::string_view name) {
  const auto units = text::utf8_to_utf16(name);
  const std::wstring wide(units.begin(), units.end());
  win32::ScopedHandle pipe(
      CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kOpenFlags, nullptr));
  if (!pipe) {
    const DWORD error = GetLastError();
    return std::unexpected(PipeOpenFailure{static_cast<std::int32_t>(error), error == ERROR_PIPE_BUSY});
  }
  // Manual-reset events, one per direction: the pipe's "registration" for overlapped I/O.
  win32::ScopedHandle read_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!read_event) return std::unexpected(PipeOpenFailure{static_cast<std::int32_t>(GetLastError()), false});
  win32::ScopedHandle write_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!write_event) return std::unexpected(PipeOpenFailure{static_cast<std::int32_t>(GetLastError()), false});
  return std::make_unique<BridgePipe>(
      std::make_unique<BridgePipe::Impl>(std::move(pipe), std::move(read_event), std::move(write_event)));
}

bool pipe_server_is_same_user(BridgePipe& pipe) {
  ULONG server_id = 0;
  if (!GetNamedPipeServerProcessId(pipe.impl().pipe.get(), &server_id) || server_id == 0) return false;
  std::optional<TokenUser> server;
  {
    win32::ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, server_id));
    if (!process) return false;
    server = win32::token_user(process.get());
  }  // the server process handle is closed as soon as its user is read
  return same_known_user(server, own_token_user());
}

}  // namespace zorvia::platform
