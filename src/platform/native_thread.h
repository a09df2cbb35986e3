#pragma once
// A thread of the system's own API, so that a failure to start one is an error code rather
// than an exception.

#include <cstdint>
#include <expected>

#include "io/streams.h"

namespace zorvia::platform {

class NativeThread {
 public:
  using Entry = void (*)(void* argument);

  [[nodiscard]] static std::expected<NativeThread, io::OsError> start(Entry entry, void* argument);

  NativeThread() = default;
  NativeThread(NativeThread&& other) noexcept;
  NativeThread& operator=(NativeThread&& other) noexcept;
  NativeThread(const NativeThread&) = delete;
  NativeThread& operator=(const NativeThread&) = delete;
  ~NativeThread();  // joins

  [[nodiscard]] bool joinable() const { return started_; }
  void join();

 private:
  explicit NativeThread(std::uintptr_t handle) : handle_(handle), started_(true) {}
  std::uintptr_t handle_ = 0;
  bool started_ = false;
};

}  // namespace zorvia::platform
