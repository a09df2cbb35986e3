#include "host/frame.h"

#include <cstring>

namespace zorvia::host {

FrameRead read_frame(io::ByteSource& in, std::vector<char>& body) {
  std::array<char, kFrameHeaderSize> header{};
  switch (io::read_exact(in, header)) {
    case io::ReadExact::complete: break;
    case io::ReadExact::ended: return FrameRead::ended;
    case io::ReadExact::failed: return FrameRead::failed;
  }
  const std::uint32_t n = decode_frame_length(header);
  if (!is_acceptable_length(n)) return FrameRead::bad_length;
  // One spare byte: the relay appends the line feed in place.
  body.reserve(std::size_t{n} + 1);
  body.resize(n);
  switch (io::read_exact(in, body)) {
    case io::ReadExact::complete: return FrameRead::complete;
    case io::ReadExact::ended: return FrameRead::ended;
    case io::ReadExact::failed: return FrameRead::failed;
  }
  return FrameRead::failed;
}

void append_frame(std::vector<char>& out, std::string_view body) {
  const auto header = encode_frame_length(static_cast<std::uint32_t>(body.size()));
  const std::size_t at = out.size();
  out.resize(at + kFrameHeaderSize + body.size());
  std::memcpy(out.data() + at, header.data(), kFrameHeaderSize);
  if (!body.empty()) std::memcpy(out.data() + at + kFrameHeaderSize, body.data(), body.size());
}

}  // namespace zorvia::host
