#pragma once
// Lines from the desktop application, turned into frames for the browser.
//
// A line is every byte up to and including the next "\n"; the "\n" and one "\r" before it are
// removed. Bytes after the last "\n" when the pipe ends are a final line, taken as they are.
// Every line, with its line end, must be strict UTF-8. A line holding only White_Space is blank
// and skipped, whatever its length. A non-blank line over MAX_MESSAGE_LEN ends the relay.
//
// Memory stays bounded: a line is stored only up to one byte past the limit (plus the "\r"
// that may still be dropped); beyond that a line still blank is scanned without storing, and
// one known not to be blank ends the reading at once.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/streams.h"

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
  static constexpr std::size_t kBufferSize = 8192;

  explicit PipeLineReader(io::ByteSource& pipe) : pipe_(pipe) {}

  // Gathers the next non-blank line. On `frame`, `frame` holds the line's length as 4 bytes
  // little-endian followed by the line, ready for one write.
  [[nodiscard]] NextLine next_frame(std::vector<char>& frame);

 private:
  io::ByteSource& pipe_;
  std::array<char, kBufferSize> buffer_{};
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool pipe_ended_ = false;
};

// Strict UTF-8 (RFC 3629) checked piece by piece, with a sequence allowed to span pieces,
// and whether every character so far has the White_Space property.
class Utf8LineScan {
 public:
  // False as soon as a byte cannot continue valid UTF-8.
  [[nodiscard]] bool feed(const char* bytes, std::size_t size);
  // True when no sequence is left unfinished.
  [[nodiscard]] bool at_boundary() const { return pending_ == 0; }
  [[nodiscard]] bool blank() const { return blank_; }

 private:
  char32_t code_point_ = 0;
  unsigned pending_ = 0;  // continuation bytes still expected
  unsigned char low_ = 0x80, high_ = 0xBF;  // the range allowed for the next continuation byte
  bool blank_ = true;
};

}  // namespace zorvia::host
