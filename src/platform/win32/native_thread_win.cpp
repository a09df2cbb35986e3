#include <windows.h>

#include <memory>

#include "platform/native_thread.h"
#include "platform/os_error.h"
#include "platform/scoped_native.h"
#include "platform/thread_start.h"

namespace zorvia::platform {

namespace {

DWORD WINAPI trampoline(void* record) {
  thread_start::run(record);
  return 0;
}

}  // namespace

std::expected<NativeThread, io::OsError> NativeThread::start(Entry entry, void* argument) {
  auto record = std::make_unique<thread_start::Record>(entry, argument);
  const HANDLE thread = CreateThread(nullptr, 0, &trampoline, record.get(), 0, nullptr);
  if (thread == nullptr) return std::unexpected(last_os_error());
  record.release();  // the thread's own now
  return NativeThread(reinterpret_cast<std::uintptr_t>(thread));
}

void NativeThread::join() {
  if (!started_) return;
  ScopedHandle thread(reinterpret_cast<HANDLE>(handle_));
  WaitForSingleObject(thread.get(), INFINITE);
  started_ = false;
}

}  // namespace zorvia::platform
