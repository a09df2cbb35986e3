#pragma once
// A runtime for tests: each job on a std::thread of its own.

#include <array>
#include <thread>

#include "host/runtime.h"

namespace zorvia::host {

class ThreadRuntime final : public Runtime {
 public:
  ~ThreadRuntime() override { join(); }
  void start(std::size_t index, std::function<void()> job) override { threads_[index] = std::thread(std::move(job)); }
  void join() override {
    for (auto& t : threads_)
      if (t.joinable()) t.join();
  }

 private:
  std::array<std::thread, 2> threads_;
};

}  // namespace zorvia::host
