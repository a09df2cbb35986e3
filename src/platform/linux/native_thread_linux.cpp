#include <pthread.h>

#include "platform/native_thread.h"

namespace zorvia::platform {

namespace {

struct Start {
  NativeThread::Entry entry;
  void* argument;
};

void* trampoline(void* raw) {
  const Start start = *static_cast<Start*>(raw);
  delete static_cast<Start*>(raw);
  start.entry(start.argument);
  return nullptr;
}

}  // namespace

std::expected<NativeThread, io::OsError> NativeThread::start(Entry entry, void* argument) {
  auto* start = new Start{entry, argument};
  pthread_t thread;
  if (const int error = ::pthread_create(&thread, nullptr, &trampoline, start); error != 0) {
    delete start;
    return std::unexpected(io::OsError{error});
  }
  NativeThread result;
  result.handle_ = static_cast<std::uintptr_t>(thread);
  result.started_ = true;
  return result;
}

void NativeThread::join() {
  if (!started_) return;
  ::pthread_join(static_cast<pthread_t>(handle_), nullptr);
  started_ = false;
}

}  // namespace zorvia::platform
