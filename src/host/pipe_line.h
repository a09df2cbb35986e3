#pragma once
// Lines from the desktop application, turned into frames for the browser.
//
// A line is every byte up to and including the next "\n"; the "\n" and one "\r" before it are
// removed. Bytes after the last "\n" when the pipe ends are a final line, taken as they are.
// Every line, with its line end, must be strict UTF-8. A line holding only White_Space is blank
// and skipped, whatever its length. A non-blank line over MAX_MESSAGE_LEN ends the relay.
//
// The pipe is read in large pieces into one buffer, and each line is framed where it lies:
// its header goes into the four bytes before it, which are free (the buffer's headroom or
// bytes already relayed), so a frame leaves without a copy. The line end and the UTF-8 check
// are found in one pass. Memory stays bounded: the buffer grows only while one line fills it,
// to one byte past the limit (plus the "\r" that may still be dropped) and one read; beyond
// that a line still blank is scanned without storing, and one known not to be blank ends the
// reading at once.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "io/streams.h"
#include "text/utf8.h"

namespace zorvia::host {

enum class NextLine {
  frame,     // a non-blank line is ready as a frame
  ended,     // the pipe ended with no further line
  failed,    // a read error; the partial line is discarded
  not_utf8,  // the line is not valid UTF-8 and is not relayed
  too_long,  // a non-blank line over MAX_MESSAGE_LEN
};

class PipeLineReader {
 public:
  // The buffer's size while lines fit in it, and the largest read beyond a line's limit.
  static constexpr std::size_t kBufferSize = 256 * 1024;

  explicit PipeLineReader(io::ByteSource& pipe);

  // Gathers the next non-blank line. On `frame`, `frame` holds the line's length as 4 bytes
  // little-endian followed by the line, ready for one write; it stays valid until the next call.
  [[nodiscard]] NextLine next_frame(std::span<const char>& frame);

  // The bytes the reader holds for lines now.
  [[nodiscard]] std::size_t capacity() const { return capacity_; }

 private:
  // The line end in [p, end), checking UTF-8 and whether the line is still blank on the way:
  // its position, `end` when the line goes on, nullptr when the bytes are not UTF-8.
  [[nodiscard]] const char* scan(const char* p, const char* end);
  void start_line(std::size_t at);
  [[nodiscard]] std::span<const char> frame_at(std::size_t start, std::size_t length);
  void make_room();

  io::ByteSource& pipe_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;
  std::size_t line_;     // where the current line starts
  std::size_t scanned_;  // how far its bytes are checked
  std::size_t end_;      // the end of the bytes read
  bool dropped_ = false;  // bytes of a line still blank past the limit were let go
  bool pipe_ended_ = false;

  // Strict UTF-8 over the current line, with whether every character so far is White_Space.
  text::Utf8Decoder utf8_;
  bool blank_ = true;
};

}  // namespace zorvia::host
