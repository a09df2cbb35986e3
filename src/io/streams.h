#pragma once
// Byte streams as the rules of the system see them. The platform supplies the real
// standard streams, pipe and files; tests supply memory streams.

#include <condition_variable>
#include <cstddef>
#include <expected>
#include <mutex>
#include <span>

#include "io/os_error.h"

namespace zorvia::io {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads at least one byte into `into` (non-empty), or returns 0 at the end of input.
  [[nodiscard]] virtual std::expected<std::size_t, OsError> read_some(std::span<char> into) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes a prefix of `bytes` (non-empty) and returns its length; 0 means the sink takes no more.
  [[nodiscard]] virtual std::expected<std::size_t, OsError> write_some(std::span<const char> bytes) = 0;
};

enum class ReadExact { complete, ended, failed };

// Fills `into` completely unless the input ends (`ended`) or fails (`failed`) first.
[[nodiscard]] ReadExact read_exact(ByteSource& source, std::span<char> into);

enum class WriteAll { complete, took_nothing, failed };

[[nodiscard]] WriteAll write_all(ByteSink& sink, std::span<const char> bytes);

// The process's standard output as host errors and relayed frames share it: each call
// writes one whole frame, and nothing can come between a frame's bytes. The state lock is
// never held during a write, so a stop is decided at once even while a write is stuck.
class SharedOutput {
 public:
  explicit SharedOutput(ByteSink& sink) : sink_(sink) {}
  // Waits for a write in progress, then writes `bytes` whole. Once stopped it writes nothing
  // and returns `took_nothing`.
  [[nodiscard]] WriteAll write_whole(std::span<const char> bytes);
  // From now on no write starts; one already in progress goes on. Never waits.
  void stop();
  // Returns once no write is in progress.
  void wait_until_idle();

 private:
  ByteSink& sink_;
  std::mutex mutex_;
  std::condition_variable idle_;
  bool writing_ = false;
  bool stopped_ = false;
};

}  // namespace zorvia::io
