#include "host/pipe_line.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "host/frame.h"
#include "text/unicode.h"

namespace zorvia::host {

namespace {

constexpr std::size_t kStoredLineLimit = std::size_t{MAX_MESSAGE_LEN} + 1;  // one "\r" may still go

bool has_high_bit(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return (word & 0x8080808080808080ULL) != 0;
}

}  // namespace

bool Utf8LineScan::feed(const char* bytes, std::size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  std::size_t i = 0;
  while (i < size) {
    if (pending_ == 0) {
      if (!blank_) {
        // Once the line is known not to be blank only validity matters: skip ASCII fast.
        while (i + 8 <= size && !has_high_bit(p + i)) i += 8;
        while (i < size && p[i] < 0x80) ++i;
        if (i == size) break;
      }
      const unsigned char b = p[i++];
      if (b < 0x80) {
        if (blank_ && !text::is_white_space(b)) blank_ = false;
        continue;
      }
      low_ = 0x80;
      high_ = 0xBF;
      if (b >= 0xC2 && b <= 0xDF) {
        pending_ = 1;
        code_point_ = b & 0x1F;
      } else if (b >= 0xE0 && b <= 0xEF) {
        pending_ = 2;
        code_point_ = b & 0x0F;
        if (b == 0xE0) low_ = 0xA0;   // no overlong forms
        if (b == 0xED) high_ = 0x9F;  // no encoded surrogates
      } else if (b >= 0xF0 && b <= 0xF4) {
        pending_ = 3;
        code_point_ = b & 0x07;
        if (b == 0xF0) low_ = 0x90;   // no overlong forms
        if (b == 0xF4) high_ = 0x8F;  // nothing above U+10FFFF
      } else {
        return false;
      }
    } else {
      const unsigned char b = p[i++];
      if (b < low_ || b > high_) return false;
      low_ = 0x80;
      high_ = 0xBF;
      code_point_ = (code_point_ << 6) | (b & 0x3F);
      if (--pending_ == 0 && blank_ && !text::is_white_space(code_point_)) blank_ = false;
    }
  }
  return true;
}

NextLine PipeLineReader::next_frame(std::vector<char>& frame) {
  frame.resize(kFrameHeaderSize);
  Utf8LineScan scan;
  std::size_t stored = 0;    // line bytes in `frame` after the header
  bool overflow = false;     // more bytes arrived than are stored
  bool gathered_any = false;

  // The line as it ends: the line end removed, then blank lines skipped and long ones refused.
  const auto finish = [&](bool had_line_feed) -> std::optional<NextLine> {
    if (scan.blank()) return std::nullopt;
    if (had_line_feed && stored > 0 && frame.back() == '\r') {
      frame.pop_back();
      --stored;
    }
    if (overflow || stored > MAX_MESSAGE_LEN) return NextLine::too_long;
    const auto header = encode_frame_length(static_cast<std::uint32_t>(stored));
    std::memcpy(frame.data(), header.data(), kFrameHeaderSize);
    return NextLine::frame;
  };
  const auto restart = [&] {
    frame.resize(kFrameHeaderSize);
    scan = Utf8LineScan{};
    stored = 0;
    overflow = false;
    gathered_any = false;
  };

  for (;;) {
    if (begin_ == end_) {
      if (!pipe_ended_) {
        const auto got = pipe_.read_some(buffer_);
        if (!got) return NextLine::failed;
        if (*got == 0) {
          pipe_ended_ = true;
        } else {
          begin_ = 0;
          end_ = *got;
        }
      }
      if (pipe_ended_) {
        if (!gathered_any) return NextLine::ended;
        if (!scan.at_boundary()) return NextLine::not_utf8;
        if (const auto result = finish(false)) return *result;
        return NextLine::ended;  // a blank final line
      }
    }

    const char* piece = buffer_.data() + begin_;
    const std::size_t available = end_ - begin_;
    const auto* line_feed = static_cast<const char*>(std::memchr(piece, '\n', available));
    const std::size_t content = line_feed ? static_cast<std::size_t>(line_feed - piece) : available;
    gathered_any = true;

    if (!scan.feed(piece, content + (line_feed ? 1 : 0))) return NextLine::not_utf8;
    const std::size_t room = kStoredLineLimit - stored;
    const std::size_t take = std::min(room, content);
    frame.insert(frame.end(), piece, piece + take);
    stored += take;
    if (content > take) overflow = true;
    begin_ += content + (line_feed ? 1 : 0);

    if (!line_feed) {
      if (overflow && !scan.blank()) return NextLine::too_long;
      continue;
    }
    if (const auto result = finish(true)) return *result;
    restart();
  }
}

}  // namespace zorvia::host
