#include "io/streams.h"

namespace zorvia::io {

ReadExact read_exact(ByteSource& source, std::span<char> into) {
  while (!into.empty()) {
    const auto got = source.read_some(into);
    if (!got) return ReadExact::failed;
    if (*got == 0) return ReadExact::ended;
    into = into.subspan(*got);
  }
  return ReadExact::complete;
}

WriteAll write_all(ByteSink& sink, std::span<const char> bytes) {
  while (!bytes.empty()) {
    const auto put = sink.write_some(bytes);
    if (!put) return WriteAll::failed;
    if (*put == 0) return WriteAll::took_nothing;
    bytes = bytes.subspan(*put);
  }
  return WriteAll::complete;
}

WriteAll SharedOutput::write_whole(std::span<const char> bytes) {
  {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return !writing_ || stopped_; });
    if (stopped_) return WriteAll::took_nothing;
    writing_ = true;
  }
  const WriteAll result = write_all(sink_, bytes);
  {
    std::lock_guard lock(mutex_);
    writing_ = false;
  }
  idle_.notify_all();
  return result;
}

void SharedOutput::stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
  idle_.notify_all();  // writers waiting for their turn give up
}

void SharedOutput::wait_until_idle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [&] { return !writing_; });
}

}  // namespace zorvia::io
