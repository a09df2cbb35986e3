#include <windows.h>

#include "platform/native_thread.h"
#include "platform/scoped_native.h"
#include "platform/win32/last_error.h"

namespace zorvia::platform {

namespace {

struct Start {
  NativeThread::Entry entry;
  void* argument;
};

DWORD WINAPI trampoline(void* raw) {
  const Start start = *static_cast<Start*>(raw);
  delete static_cast<Start*>(raw);
  start.entry(start.argument);
  return 0;
}

}  // namespace

std::expected<NativeThread, io::OsError> NativeThread::start(Entry entry, void* argument) {
  auto* start = new Start{entry, argument};
  const HANDLE thread = CreateThread(nullptr, 0, &trampoline, start, 0, nullptr);
  if (thread == nullptr) {
    const DWORD error = GetLastError();
    delete start;
    return std::unexpected(win32::os_error(error));
  }
  NativeThread result;
  result.handle_ = reinterpret_cast<std::uintptr_t>(thread);
  result.started_ = true;
  return result;
}

void NativeThread::join() {
  if (!started_) return;
  ScopedHandle thread(reinterpret_cast<HANDLE>(handle_));
  WaitForSingleObject(thread.get(), INFINITE);
  started_ = false;
}

}  // namespace zorvia::platform
