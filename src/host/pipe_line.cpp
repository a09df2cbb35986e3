#include "host/pipe_line.h"

#include <algorithm>
#include <cstring>

#include "host/frame.h"
#include "text/unicode.h"

namespace zorvia::host {

namespace {

constexpr std::size_t kHeadroom = kFrameHeaderSize;
constexpr std::size_t kStoredLineLimit = std::size_t{MAX_MESSAGE_LEN} + 1;  // one "\r" may still go
constexpr std::size_t kLargestCapacity = kHeadroom + kStoredLineLimit + PipeLineReader::kBufferSize;
// Below this much free space the buffer is compacted (or grown) before the next read.
constexpr std::size_t kSmallestRead = PipeLineReader::kBufferSize / 4;

}  // namespace

PipeLineReader::PipeLineReader(io::ByteSource& pipe)
    : pipe_(pipe),
      buffer_(std::make_unique_for_overwrite<char[]>(kHeadroom + kBufferSize)),
      capacity_(kHeadroom + kBufferSize),
      line_(kHeadroom),
      scanned_(kHeadroom),
      end_(kHeadroom) {}

const char* PipeLineReader::scan(const char* p, const char* end) {
  // While the line may still be blank, every character counts; after that only validity.
  while (blank_ && p != end) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte == '\n' && utf8_.at_boundary()) return p;
    const auto step = utf8_.feed(byte);
    if (step == text::Utf8Decoder::Step::invalid) return nullptr;
    if (step == text::Utf8Decoder::Step::character && !text::is_white_space(utf8_.code_point())) blank_ = false;
    ++p;
  }
  return utf8_.find(p, end, '\n');
}

void PipeLineReader::start_line(std::size_t at) {
  line_ = scanned_ = at;
  utf8_ = {};
  blank_ = true;
  dropped_ = false;
}

std::span<const char> PipeLineReader::frame_at(std::size_t start, std::size_t length) {
  const auto header = encode_frame_length(static_cast<std::uint32_t>(length));
  char* const frame = buffer_.get() + start - kFrameHeaderSize;
  std::memcpy(frame, header.data(), kFrameHeaderSize);
  return {frame, kFrameHeaderSize + length};
}

void PipeLineReader::make_room() {
  if (line_ == end_) line_ = scanned_ = end_ = kHeadroom;  // nothing kept: start at the front
  if (capacity_ - end_ >= kSmallestRead) return;
  if (line_ > kHeadroom) {
    const std::size_t shift = line_ - kHeadroom;
    std::memmove(buffer_.get() + kHeadroom, buffer_.get() + line_, end_ - line_);
    line_ -= shift;
    scanned_ -= shift;
    end_ -= shift;
  }
  // The line fills the buffer: grow it, up to what the longest line and one read need.
  if (capacity_ - end_ >= kSmallestRead || capacity_ == kLargestCapacity) return;
  const std::size_t grown = std::min(kLargestCapacity, 2 * capacity_);
  auto buffer = std::make_unique_for_overwrite<char[]>(grown);
  std::memcpy(buffer.get(), buffer_.get(), end_);
  buffer_ = std::move(buffer);
  capacity_ = grown;
}

NextLine PipeLineReader::next_frame(std::span<const char>& frame) {
  for (;;) {
    if (scanned_ < end_) {
      const char* const base = buffer_.get();
      const char* const line_end = scan(base + scanned_, base + end_);
      if (line_end == nullptr) return NextLine::not_utf8;
      scanned_ = static_cast<std::size_t>(line_end - base);
      if (scanned_ < end_) {
        const std::size_t start = line_;
        std::size_t length = scanned_ - start;
        const bool blank = blank_;
        const bool dropped = dropped_;
        start_line(scanned_ + 1);
        if (blank) continue;
        if (dropped) return NextLine::too_long;
        if (length > 0 && base[start + length - 1] == '\r') --length;
        if (length > MAX_MESSAGE_LEN) return NextLine::too_long;
        frame = frame_at(start, length);
        return NextLine::frame;
      }
    }

    // The line goes on past the bytes read.
    if (dropped_ || end_ - line_ > kStoredLineLimit) {
      if (!blank_) return NextLine::too_long;
      // Still blank past the limit, it can only be skipped or refused: its bytes can go.
      dropped_ = true;
      line_ = scanned_ = end_ = kHeadroom;
    }
    if (pipe_ended_) {
      if (line_ == end_ && !dropped_) return NextLine::ended;
      if (!utf8_.at_boundary()) return NextLine::not_utf8;
      const std::size_t start = line_;
      const std::size_t length = end_ - line_;
      const bool blank = blank_;
      start_line(end_);
      if (blank) return NextLine::ended;  // a blank final line
      if (length > MAX_MESSAGE_LEN) return NextLine::too_long;
      frame = frame_at(start, length);
      return NextLine::frame;
    }

    make_room();
    const auto got = pipe_.read_some(std::span<char>(buffer_.get() + end_, capacity_ - end_));
    if (!got) return NextLine::failed;
    if (*got == 0) pipe_ended_ = true;
    end_ += *got;
  }
}

}  // namespace zorvia::host
