#include "platform/native_thread.h"

#include <memory>
#include <utility>

#include "platform/thread_start.h"

namespace zorvia::platform {

void thread_start::run(void* record) {
  const Record start = *std::unique_ptr<Record>(static_cast<Record*>(record));
  start.entry(start.argument);
}

NativeThread::NativeThread(NativeThread&& other) noexcept
    : handle_(std::exchange(other.handle_, 0)), started_(std::exchange(other.started_, false)) {}

NativeThread& NativeThread::operator=(NativeThread&& other) noexcept {
  if (this != &other) {
    join();
    handle_ = std::exchange(other.handle_, 0);
    started_ = std::exchange(other.started_, false);
  }
  return *this;
}

NativeThread::~NativeThread() { join(); }

}  // namespace zorvia::platform
