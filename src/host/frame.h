#pragma once
// Native-messaging frames: a 4-byte little-endian length, then that many bytes of JSON.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/streams.h"

namespace zorvia::host {

// The largest frame body in either direction, host errors included.
inline constexpr std::uint32_t MAX_MESSAGE_LEN = 1'048'576;
inline constexpr std::size_t kFrameHeaderSize = 4;

[[nodiscard]] constexpr std::array<char, kFrameHeaderSize> encode_frame_length(std::uint32_t n) {
  return {static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF), static_cast<char>((n >> 16) & 0xFF),
          static_cast<char>((n >> 24) & 0xFF)};
}

[[nodiscard]] constexpr std::uint32_t decode_frame_length(const std::array<char, kFrameHeaderSize>& b) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[0])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[3])) << 24;
}

[[nodiscard]] constexpr bool is_acceptable_length(std::uint64_t n) { return n >= 1 && n <= MAX_MESSAGE_LEN; }

enum class FrameRead {
  complete,    // one whole frame or more is read
  ended,       // input ended, at a frame boundary or inside a frame
  failed,      // a read error
  bad_length,  // 0 or over MAX_MESSAGE_LEN; nothing of its body goes on
};

// Frames read in large pieces and turned into lines for the pipe, each body followed by "\n".
// A call gives the lines of every frame already read and complete, back to back for one
// write, and reads only when no complete frame is left, so that no line waits for later
// input. The first body of a call is written where it was read; later ones move up behind
// it, over the headers. Memory stays bounded: one read's buffer, grown only for a frame that
// does not fit, to that frame's size.
class FrameLineReader {
 public:
  static constexpr std::size_t kReadSize = 64 * 1024;

  explicit FrameLineReader(io::ByteSource& in);

  // On `complete`, `lines` holds one line or more, valid until the next call. The lines of
  // the frames before a refused length, or before the end or a failure of the input, all
  // come first; that outcome comes at the call after them.
  [[nodiscard]] FrameRead next_lines(std::span<const char>& lines);

  // The bytes the reader holds for frames now.
  [[nodiscard]] std::size_t capacity() const { return capacity_; }

 private:
  void grow(std::size_t capacity);

  io::ByteSource& in_;
  std::unique_ptr<char[]> buffer_;  // one byte past capacity_: the last "\n" may fall there
  std::size_t capacity_;
  std::size_t begin_ = 0;  // the next frame not yet turned into a line
  std::size_t end_ = 0;    // the end of the bytes read
  // The last line's "\n" covers the byte after its body, which may be input not yet taken;
  // it is put back at the next call.
  std::size_t covered_ = 0;
  char covered_byte_ = 0;
};

// Appends header and body to `out`. The body must have an acceptable length.
void append_frame(std::vector<char>& out, std::string_view body);

}  // namespace zorvia::host
