#include "host/relay.h"

#include <condition_variable>
#include <mutex>
#include <span>

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
  bool one_ended = false;
  const auto mark_end = [&] {
    std::lock_guard lock(mutex);
    one_ended = true;
    changed.notify_all();
  };
  runtime.start(0, [&] {
    extension_to_pipe(standard_input, pipe.write_half());
    mark_end();
  });
  runtime.start(1, [&] {
    pipe_to_extension(pipe.read_half(), standard_output);
    mark_end();
  });
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return one_ended; });
  }
  on_first_end();
  runtime.join();
}

}  // namespace zorvia::host
