#include "host/relay.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "host/frame.h"
#include "host/pipe_line.h"

namespace zorvia::host {

namespace {

// Standard input read in large pieces, so that small frames cost no system call each.
// Reads at least as large as the buffer bypass it.
class BufferedSource final : public io::ByteSource {
 public:
  static constexpr std::size_t kSize = 64 * 1024;

  explicit BufferedSource(io::ByteSource& inner) : inner_(inner), buffer_(std::make_unique<char[]>(kSize)) {}

  std::expected<std::size_t, io::OsError> read_some(std::span<char> into) override {
    if (begin_ == end_) {
      if (into.size() >= kSize) return inner_.read_some(into);
      const auto got = inner_.read_some(std::span<char>(buffer_.get(), kSize));
      if (!got || *got == 0) return got;
      begin_ = 0;
      end_ = *got;
    }
    const std::size_t n = std::min(into.size(), end_ - begin_);
    std::memcpy(into.data(), buffer_.get() + begin_, n);
    begin_ += n;
    return n;
  }

 private:
  io::ByteSource& inner_;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

}  // namespace

void extension_to_pipe(io::ByteSource& standard_input, io::ByteSink& pipe) {
  BufferedSource input(standard_input);
  std::vector<char> line;
  while (read_frame(input, line) == FrameRead::complete) {
    line.push_back('\n');
    if (io::write_all(pipe, line) != io::WriteAll::complete) return;
  }
}

void pipe_to_extension(io::ByteSource& pipe, io::SharedOutput& standard_output) {
  PipeLineReader lines(pipe);
  std::vector<char> frame;
  while (lines.next_frame(frame) == NextLine::frame) {
    if (standard_output.write_whole(frame) != io::WriteAll::complete) return;
  }
}

void relay_streams(PipeClient& pipe, io::ByteSource& standard_input, io::SharedOutput& standard_output,
                   Runtime& runtime, const std::function<void()>& on_first_end) {
  std::mutex mutex;
  std::condition_variable changed;
  bool first_end_taken = false;
  bool relay_over = false;
  // Runs on the thread of the direction that ended, at once: from here no frame starts and
  // the application sees the pipe closed, even while the other direction is stuck in a write.
  const auto end_relay = [&] {
    {
      std::lock_guard lock(mutex);
      if (std::exchange(first_end_taken, true)) return;
    }
    standard_output.stop();
    pipe.shut_down();
    std::lock_guard lock(mutex);
    relay_over = true;
    changed.notify_all();
  };
  runtime.start(0, [&] {
    extension_to_pipe(standard_input, pipe.write_half());
    end_relay();
  });
  runtime.start(1, [&] {
    pipe_to_extension(pipe.read_half(), standard_output);
    end_relay();
  });
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return relay_over; });
  }
  on_first_end();
  runtime.join();
}

}  // namespace zorvia::host
