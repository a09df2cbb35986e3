// Runs one relay direction over input made from the fuzzer's bytes, delivered in pieces of
// sizes the bytes choose, into an output that takes pieces of chosen sizes and may refuse
// after a while, and aborts at anything the plain model of its rules does not do: other
// bytes out; a message put out before all of it arrived, or held back while the direction
// reads on (a real input would then block with the message unsent); a read after the end was
// decided; a return before the input ended; towards the browser, a write that is not the
// rest of exactly one frame.
//
// The fuzzer's bytes:
//   [0]  bit 0: lines to frames (else frames to lines); bit 1: the input fails at its end
//        (else it ends); bit 2: the refusing output takes nothing (else it fails)
//   [1]  the output's capacity: 128 and above unlimited, else that many 128ths of what the
//        model puts out
//   [2]  k, then k schedule bytes: piece sizes, in turn, for reads and for writes
//   then the input, where FE 00 stands for FE and FE op d u... for a run: `u` is (op & 7) + 1
//   bytes, repeated kRunBase[(op >> 3) & 3] + d times, and with op & 0x20 preceded by its
//   length as a frame header. The bases sit just below the 8 KiB and 64 KiB buffers and the
//   1 MiB limit, so the limits are one byte away.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "host/relay.h"
#include "io/streams.h"
#include "relay_model.h"

namespace {

using zorvia::fuzzing::kAtEnd;
using zorvia::fuzzing::ModelEnd;
using zorvia::fuzzing::ModelRun;
namespace io = zorvia::io;

constexpr std::size_t kRunBase[] = {0, 8192 - 128, 65536 - 128, 1'048'576 - 128};
constexpr std::size_t kMaxInput = (1u << 20) + (1u << 16);  // past the limit, and still quick

[[noreturn]] void fail(const char* what, std::size_t at) {
  std::fprintf(stderr, "relay disagrees with its model: %s (at byte %zu)\n", what, at);
  std::abort();
}

void expand(std::string_view coded, std::string& out) {
  out.clear();
  std::size_t i = 0;
  while (i < coded.size() && out.size() < kMaxInput) {
    const char c = coded[i++];
    if (static_cast<unsigned char>(c) != 0xFE) {
      out += c;
      continue;
    }
    if (i == coded.size()) break;
    const auto op = static_cast<unsigned char>(coded[i++]);
    if (op == 0) {
      out += c;
      continue;
    }
    const std::size_t unit = (op & 7) + 1;
    if (coded.size() - i < 1 + unit) break;
    const std::size_t count = kRunBase[(op >> 3) & 3] + static_cast<unsigned char>(coded[i++]);
    const std::string_view pattern = coded.substr(i, unit);
    i += unit;
    if (op & 0x20) {  // framed: the run's length first, so that a mutated count keeps frames whole
      const std::size_t length = count * unit;
      for (int k = 0; k < 4; ++k) out += static_cast<char>((length >> (8 * k)) & 0xFF);
    }
    const std::size_t start = out.size();
    const std::size_t run = std::min(count * unit, kMaxInput - std::min(start, kMaxInput));
    if (run == 0) continue;
    out.reserve(start + run);  // so that copying the run onto itself never moves it
    out += pattern.substr(0, run);
    while (out.size() - start < run) {
      const std::size_t have = out.size() - start;
      out.append(out, start, std::min(have, run - have));  // doubles the run so far
    }
  }
}

// Piece sizes: 0 as much as asked, then 1 to 191 bytes, then 4 KiB steps up to 256 KiB.
class Schedule {
 public:
  Schedule(std::string_view bytes, std::size_t start) : bytes_(bytes), next_(start) {}
  std::size_t next_piece(std::size_t asked) {
    if (bytes_.empty()) return asked;
    const auto v = static_cast<unsigned char>(bytes_[next_++ % bytes_.size()]);
    const std::size_t piece = v == 0 ? asked : v < 192 ? v : std::size_t{v - 191u} * 4096;
    return std::min(piece, asked);
  }

 private:
  std::string_view bytes_;
  std::size_t next_;
};

// What the model allows and demands at each moment. The positions asked about never go
// back, so each question only moves a cursor on.
class Expected {
 public:
  // `run` is what goes out through an output of `capacity`; `unlimited`, what would go out
  // through one without a limit: messages past the refusal may still be offered to it.
  Expected(const ModelRun& run, const ModelRun& unlimited, std::size_t capacity)
      : run_(run), unlimited_(unlimited), capacity_(capacity) {
    std::size_t total = 0;
    for (const auto& m : run.messages) ends_.push_back(total += m.bytes.size());
    total_ = total;
    output_size_ = std::min(total, capacity);
    total = 0;
    for (const auto& m : unlimited.messages) unlimited_ends_.push_back(total += m.bytes.size());
  }
  // Output bytes whose messages have arrived whole once `delivered` bytes (and, with
  // `ended`, the end) have.
  std::size_t due(std::size_t delivered, bool ended) {
    const auto& m = unlimited_.messages;
    while (arrived_ < m.size() && (m[arrived_].due == kAtEnd ? ended : m[arrived_].due <= delivered)) ++arrived_;
    return arrived_ == 0 ? 0 : unlimited_ends_[arrived_ - 1];
  }
  // Where the message holding output byte `at` ends.
  std::size_t message_end(std::size_t at) {
    while (current_ < ends_.size() && ends_[current_] <= at) ++current_;
    return current_ < ends_.size() ? ends_[current_] : at;
  }
  // How many of `bytes`, put out at `at`, are what the model puts out there.
  std::size_t matching(std::size_t at, std::span<const char> bytes) {
    std::size_t same = 0;
    while (same < bytes.size() && at + same < total_) {
      const std::size_t end = message_end(at + same);
      const std::string& m = run_.messages[current_].bytes;
      const std::size_t offset = m.size() - (end - (at + same));
      const std::size_t n = std::min(bytes.size() - same, m.size() - offset);
      const char* ours = bytes.data() + same;
      const char* model = m.data() + offset;
      if (std::memcmp(ours, model, n) != 0) {  // rare: only then byte by byte
        while (*ours == *model) ++ours, ++model, ++same;
        break;
      }
      same += n;
    }
    return same;
  }
  const ModelRun& run() const { return run_; }
  std::size_t capacity() const { return capacity_; }
  std::size_t total() const { return total_; }
  std::size_t output_size() const { return output_size_; }

 private:
  const ModelRun& run_;
  const ModelRun& unlimited_;
  std::size_t capacity_;
  std::vector<std::size_t> ends_;            // the output so far at each message's end
  std::vector<std::size_t> unlimited_ends_;  // the same without the output's limit
  std::size_t total_ = 0;          // what the messages hold
  std::size_t output_size_ = 0;    // what the capacity lets through
  std::size_t arrived_ = 0;        // messages that have arrived whole
  std::size_t current_ = 0;        // the message being written
};

class CheckingSink;

class PieceSource final : public io::ByteSource {
 public:
  PieceSource(std::string_view data, bool fails_at_end, Schedule schedule, Expected& expected)
      : data_(data), fails_at_end_(fails_at_end), schedule_(schedule), expected_(expected) {}
  void watch(const CheckingSink& sink) { sink_ = &sink; }

  std::expected<std::size_t, io::OsError> read_some(std::span<char> into) override;

  std::size_t delivered() const { return at_; }
  bool ended() const { return ended_; }

 private:
  std::string_view data_;
  bool fails_at_end_;
  Schedule schedule_;
  Expected& expected_;
  const CheckingSink* sink_ = nullptr;
  std::size_t at_ = 0;
  bool ended_ = false;
};

class CheckingSink final : public io::ByteSink {
 public:
  CheckingSink(bool refuse_with_error, bool whole_messages, Schedule schedule, Expected& expected,
               const PieceSource& source)
      : refuse_with_error_(refuse_with_error),
        whole_messages_(whole_messages),
        schedule_(schedule),
        expected_(expected),
        source_(source) {}

  std::expected<std::size_t, io::OsError> write_some(std::span<const char> bytes) override {
    const std::size_t at = written_;
    if (bytes.empty()) fail("a write of nothing", at);
    if (refused_) fail("a write after the output refused", at);
    const std::size_t message_end = expected_.message_end(at);
    // What this call takes is compared first, so that wrong bytes are reported as such.
    const std::size_t room = at < expected_.capacity() ? expected_.capacity() - at : 0;
    const std::size_t n = std::min(schedule_.next_piece(bytes.size()), room);
    if (const std::size_t same = expected_.matching(at, bytes.first(n)); same < n)
      fail(at + same < expected_.total() ? "output other than the model's" : "more output than the model's", at + same);
    if (at + bytes.size() > expected_.due(source_.delivered(), source_.ended()))
      fail("a message put out before all of it arrived", at);
    if (whole_messages_ && at + bytes.size() != message_end)
      fail("a write that is not the rest of exactly one frame", at);
    if (n == 0) {
      refused_ = true;
      if (refuse_with_error_) return std::unexpected(io::OsError{232});
      return 0;
    }
    written_ += n;
    return n;
  }

  std::size_t written() const { return written_; }
  bool refused() const { return refused_; }

 private:
  bool refuse_with_error_;
  bool whole_messages_;
  Schedule schedule_;
  Expected& expected_;
  const PieceSource& source_;
  std::size_t written_ = 0;
  bool refused_ = false;
};

std::expected<std::size_t, io::OsError> PieceSource::read_some(std::span<char> into) {
  if (into.empty()) fail("a read into nothing", at_);
  if (!ended_) {
    const ModelRun& run = expected_.run();
    if (run.decided_at != kAtEnd && at_ >= run.decided_at) fail("a read after the end was decided", at_);
    const std::size_t due = std::min(expected_.due(at_, false), expected_.capacity());
    if (sink_->written() < due) fail("a read while a message that arrived whole is held back", at_);
  }
  if (at_ == data_.size()) {
    ended_ = true;
    if (fails_at_end_) return std::unexpected(io::OsError{5});
    return 0;
  }
  const std::size_t n = schedule_.next_piece(std::min(into.size(), data_.size() - at_));
  std::memcpy(into.data(), data_.data() + at_, n);
  at_ += n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const bool lines_to_frames = (data[0] & 1) != 0;
  const bool fails_at_end = (data[0] & 2) != 0;
  const bool refuse_with_error = (data[0] & 4) == 0;
  const std::size_t schedule_size = std::min<std::size_t>(data[2], size - 3);
  const std::string_view schedule = bytes.substr(3, schedule_size);
  static std::string input;  // kept, so that a mebibyte input costs no fresh memory
  expand(bytes.substr(3 + schedule_size), input);

  ModelRun run = lines_to_frames ? zorvia::fuzzing::lines_to_frames(input, fails_at_end)
                                 : zorvia::fuzzing::frames_to_lines(input);
  const ModelRun unlimited = run;
  std::size_t capacity = SIZE_MAX;
  if (data[1] < 128) {
    std::size_t total = 0;
    for (const auto& m : run.messages) total += m.bytes.size();
    capacity = total * data[1] / 128;
    zorvia::fuzzing::limit_output(run, capacity);
  }
  Expected expected(run, unlimited, capacity);

  PieceSource source(input, fails_at_end, Schedule(schedule, 0), expected);
  CheckingSink sink(refuse_with_error, lines_to_frames, Schedule(schedule, schedule.size() / 2), expected, source);
  source.watch(sink);
  if (lines_to_frames) {
    io::SharedOutput output(sink);
    zorvia::host::pipe_to_extension(source, output);
  } else {
    zorvia::host::extension_to_pipe(source, sink);
  }

  if (sink.written() < expected.output_size()) fail("output shorter than the model's", sink.written());
  if (run.end == ModelEnd::input_ended && !source.ended()) fail("a return before the input ended", source.delivered());
  if (run.end == ModelEnd::output_failed && !sink.refused()) fail("a return before the refused write", sink.written());
  return 0;
}
