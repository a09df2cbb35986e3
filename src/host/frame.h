#pragma once
// Native-messaging frames: a 4-byte little-endian length, then that many bytes of JSON.

#include <array>
#include <cstdint>
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
  complete,    // the body is in the buffer
  ended,       // input ended, at a frame boundary or inside a frame
  failed,      // a read error
  bad_length,  // 0 or over MAX_MESSAGE_LEN; the body was not read
};

// Reads one frame. On `complete`, `body` holds exactly the body bytes, with capacity for one
// more byte so that the caller can append a line end without reallocating.
[[nodiscard]] FrameRead read_frame(io::ByteSource& in, std::vector<char>& body);

// Appends header and body to `out`. The body must have an acceptable length.
void append_frame(std::vector<char>& out, std::string_view body);

}  // namespace zorvia::host
