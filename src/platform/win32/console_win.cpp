#include <windows.h>

#include <algorithm>

#include "platform/console.h"
#include "platform/os_error.h"
#include "platform/transfer_size.h"
#include "platform/win32/last_error.h"

namespace zorvia::platform {

namespace {

// The standard handles are the browser's; they are never closed here. Each call goes to
// ReadFile/WriteFile directly, so the bytes pass without CRT text mode or code pages.
class StdInput final : public io::ByteSource {
 public:
  std::expected<std::size_t, io::OsError> read_some(std::span<char> into) override {
    const HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return 0;
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(transfer_size(into.size()));
    if (!ReadFile(h, into.data(), want, &got, nullptr)) {
      const DWORD err = GetLastError();
      if (err == ERROR_BROKEN_PIPE) return 0;  // the writer closed its end
      return std::unexpected(win32::os_error(err));
    }
    return got;
  }
};

class StdOutput final : public io::ByteSink {
 public:
  std::expected<std::size_t, io::OsError> write_some(std::span<const char> bytes) override {
    const HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return std::unexpected(io::OsError{ERROR_INVALID_HANDLE});
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(transfer_size(bytes.size()));
    if (!WriteFile(h, bytes.data(), want, &put, nullptr))
      return std::unexpected(last_os_error());
    return put;
  }
};

}  // namespace

io::ByteSource& standard_input() {
  static StdInput input;
  return input;
}

io::ByteSink& standard_output() {
  static StdOutput output;
  return output;
}

void prepare_process() {}

// TerminateProcess rather than ExitProcess: the other threads may be anywhere (inside the heap,
// in a blocking read), and no DLL detach or CRT teardown should run after them. Nothing of
// ours is buffered.
void exit_process(int status) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  ExitProcess(static_cast<UINT>(status));  // only should terminating ourselves ever fail
}

}  // namespace zorvia::platform
