#include <windows.h>

#include "platform/native_thread.h"
#include "platform/win32/scoped_handle.h"

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
    return std::unexpected(io::OsError{static_cast<std::int32_t>(error)});
  }
  NativeThread result;
  result.handle_ = reinterpret_cast<std::uintptr_t>(thread);
  result.started_ = true;
  return result;
}

void NativeThread::join() {
  if (!started_) return;
  win32::ScopedHandle thread(reinterpret_cast<HANDLE>(handle_));
  WaitForSingleObject(thread.get(), INFINITE);
  started_ = false;
}

}  // namespace zorvia::platform
