#include "host/frame.h"

#include <cstring>

namespace zorvia::host {

namespace {

std::uint32_t length_at(const char* p) {
  std::array<char, kFrameHeaderSize> header;
  std::memcpy(header.data(), p, kFrameHeaderSize);
  return decode_frame_length(header);
}

}  // namespace

FrameLineReader::FrameLineReader(io::ByteSource& in)
    : in_(in), buffer_(std::make_unique_for_overwrite<char[]>(kReadSize + 1)), capacity_(kReadSize) {}

void FrameLineReader::grow(std::size_t capacity) {
  auto buffer = std::make_unique_for_overwrite<char[]>(capacity + 1);
  std::memcpy(buffer.get(), buffer_.get(), end_);
  buffer_ = std::move(buffer);
  capacity_ = capacity;
}

FrameRead FrameLineReader::next_lines(std::span<const char>& lines) {
  buffer_[covered_] = covered_byte_;
  for (;;) {
    char* const base = buffer_.get();
    // Every complete frame: the first body stays, each later one moves up behind the line
    // before it (over the headers, which are read by then).
    std::size_t first = 0, last = 0;
    bool any = false;
    while (end_ - begin_ >= kFrameHeaderSize) {
      const std::uint32_t n = length_at(base + begin_);
      if (!is_acceptable_length(n)) {
        if (!any) return FrameRead::bad_length;
        break;
      }
      if (end_ - begin_ - kFrameHeaderSize < n) break;
      const std::size_t body = begin_ + kFrameHeaderSize;
      if (!any) {
        first = body;
        last = body + n;
        any = true;
      } else {
        base[last] = '\n';
        std::memmove(base + last + 1, base + body, n);
        last += 1 + n;
      }
      begin_ = body + n;
    }
    if (any) {
      covered_ = last;
      covered_byte_ = base[last];
      base[last] = '\n';
      lines = {base + first, last + 1 - first};
      return FrameRead::complete;
    }

    // No complete frame: its part read so far goes to the front, and the buffer grows when
    // the frame would not fit.
    if (begin_ > 0) {
      std::memmove(base, base + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    if (end_ >= kFrameHeaderSize) {
      const std::size_t whole = kFrameHeaderSize + length_at(base);
      if (whole > capacity_) grow(whole);
    }
    const auto got = in_.read_some(std::span<char>(buffer_.get() + end_, capacity_ - end_));
    if (!got) return FrameRead::failed;
    if (*got == 0) return FrameRead::ended;
    end_ += *got;
  }
}

void append_frame(std::vector<char>& out, std::string_view body) {
  const auto header = encode_frame_length(static_cast<std::uint32_t>(body.size()));
  const std::size_t at = out.size();
  out.resize(at + kFrameHeaderSize + body.size());
  std::memcpy(out.data() + at, header.data(), kFrameHeaderSize);
  if (!body.empty()) std::memcpy(out.data() + at + kFrameHeaderSize, body.data(), body.size());
}

}  // namespace zorvia::host
