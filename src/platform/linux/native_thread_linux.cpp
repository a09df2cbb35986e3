#include <pthread.h>

#include <memory>

#include "platform/native_thread.h"
#include "platform/thread_start.h"

namespace zorvia::platform {

namespace {

void* trampoline(void* record) {
  thread_start::run(record);
  return nullptr;
}

}  // namespace

std::expected<NativeThread, io::OsError> NativeThread::start(Entry entry, void* argument) {
  auto record = std::make_unique<thread_start::Record>(entry, argument);
  pthread_t thread;
  if (const int error = ::pthread_create(&thread, nullptr, &trampoline, record.get()); error != 0)
    return std::unexpected(io::OsError{error});
  record.release();  // the thread's own now
  return NativeThread(static_cast<std::uintptr_t>(thread));
}

void NativeThread::join() {
  if (!started_) return;
  ::pthread_join(static_cast<pthread_t>(handle_), nullptr);
  started_ = false;
}

}  // namespace zorvia::platform
