#include "app/host_runtime.h"

#include <array>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/native_thread.h"

namespace zorvia::app {

namespace {

// A thread that waits for its one job, runs it, and ends; or ends unused.
class Worker {
 public:
  [[nodiscard]] std::expected<void, io::OsError> launch() {
    auto thread = platform::NativeThread::start(&Worker::entry, this);
    if (!thread) return std::unexpected(thread.error());
    thread_ = std::move(*thread);
    return {};
  }

  void give(std::function<void()> job) {
    std::lock_guard lock(mutex_);
    job_ = std::move(job);
    changed_.notify_all();
  }

  void stop_unused() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }

  void join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  static void entry(void* self) { static_cast<Worker*>(self)->run(); }

  void run() {
    std::function<void()> job;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return job_ || stopping_; });
      if (!job_) return;
      job = std::move(job_);
    }
    job();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> job_;
  bool stopping_ = false;
  platform::NativeThread thread_;
};

class WorkerRuntime final : public host::Runtime {
 public:
  [[nodiscard]] std::expected<void, io::OsError> launch() {
    for (auto& worker : workers_) {
      if (auto started = worker.launch(); !started) return started;
    }
    return {};
  }

  ~WorkerRuntime() override {
    for (auto& worker : workers_) worker.stop_unused();
    join();
  }

  void start(std::size_t index, std::function<void()> job) override { workers_[index].give(std::move(job)); }

  void join() override {
    for (auto& worker : workers_) worker.join();
  }

 private:
  std::array<Worker, 2> workers_;
};

}  // namespace

std::expected<std::unique_ptr<host::Runtime>, io::OsError> build_host_runtime() {
  auto runtime = std::make_unique<WorkerRuntime>();
  if (auto launched = runtime->launch(); !launched) return std::unexpected(launched.error());
  return runtime;
}

}  // namespace zorvia::app
