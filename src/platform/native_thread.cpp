#include "platform/native_thread.h"

#include <utility>

namespace zorvia::platform {

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
