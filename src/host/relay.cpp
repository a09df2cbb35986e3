#include "host/relay.h"

#include <condition_variable>
#include <mutex>
#include <span>
#include <utility>

#include "host/frame.h"
#include "host/pipe_line.h"

namespace zorvia::host {

void extension_to_pipe(io::ByteSource& standard_input, io::ByteSink& pipe) {
  FrameLineReader frames(standard_input);
  std::span<const char> lines;
  while (frames.next_lines(lines) == FrameRead::complete) {
    if (io::write_all(pipe, lines) != io::WriteAll::complete) return;
  }
}

void pipe_to_extension(io::ByteSource& pipe, io::SharedOutput& standard_output) {
  PipeLineReader lines(pipe);
  std::span<const char> frame;
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
