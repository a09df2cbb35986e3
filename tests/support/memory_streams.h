#pragma once
// In-memory byte streams for the core's rules: a source that hands out its bytes in
// chosen pieces and then ends or fails, and a sink that records or refuses.

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "io/streams.h"

namespace zorvia::testing {

class MemorySource final : public io::ByteSource {
 public:
  explicit MemorySource(std::string data, std::size_t piece = SIZE_MAX, bool fail_at_end = false)
      : data_(std::move(data)), piece_(piece), fail_at_end_(fail_at_end) {}
  std::expected<std::size_t, io::OsError> read_some(std::span<char> into) override {
    if (pos_ == data_.size()) {
      if (fail_at_end_) return std::unexpected(io::OsError{5});
      return 0;
    }
    const std::size_t n = std::min({into.size(), piece_, data_.size() - pos_});
    std::memcpy(into.data(), data_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  std::size_t consumed() const { return pos_; }

 private:
  std::string data_;
  std::size_t pos_ = 0;
  std::size_t piece_;
  bool fail_at_end_;
};

class MemorySink final : public io::ByteSink {
 public:
  // `capacity`: bytes taken before the sink refuses with an error (or takes nothing).
  explicit MemorySink(std::size_t capacity = SIZE_MAX, bool refuse_with_error = true)
      : capacity_(capacity), refuse_with_error_(refuse_with_error) {}
  std::expected<std::size_t, io::OsError> write_some(std::span<const char> bytes) override {
    ++writes_;
    if (data_.size() >= capacity_) {
      if (refuse_with_error_) return std::unexpected(io::OsError{232});
      return 0;
    }
    const std::size_t n = std::min(bytes.size(), capacity_ - data_.size());
    data_.append(bytes.data(), n);
    return n;
  }
  const std::string& data() const { return data_; }
  std::size_t writes() const { return writes_; }

 private:
  std::string data_;
  std::size_t capacity_;
  bool refuse_with_error_;
  std::size_t writes_ = 0;
};

// Hands out `data`, then blocks like a pipe or standard input with nothing to read, until
// released; then it ends.
class BlockingSource final : public io::ByteSource {
 public:
  explicit BlockingSource(std::string data = {}) : data_(std::move(data)) {}
  std::expected<std::size_t, io::OsError> read_some(std::span<char> into) override {
    std::unique_lock lock(mutex_);
    if (pos_ < data_.size()) {
      const std::size_t n = std::min(into.size(), data_.size() - pos_);
      std::memcpy(into.data(), data_.data() + pos_, n);
      pos_ += n;
      return n;
    }
    waiting_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_; });
    return 0;
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  std::size_t consumed() {
    std::lock_guard lock(mutex_);
    return pos_;
  }
  // Waits until a read has found nothing more to hand out.
  void wait_until_blocked() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string data_;
  std::size_t pos_ = 0;
  bool waiting_ = false;
  bool released_ = false;
};

}  // namespace zorvia::testing
