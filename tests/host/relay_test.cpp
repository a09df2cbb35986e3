#include "host/relay.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <random>

#include "host/frame.h"
#include "host/pipe_line.h"
#include "support/child_process.h"
#include "support/memory_streams.h"
#include "text/unicode.h"
#include "thread_runtime.h"

namespace zorvia::host {
namespace {

using testing::frame;
using testing::MemorySink;
using testing::MemorySource;

std::string le32(std::uint32_t n) {
  const auto h = encode_frame_length(n);
  return std::string(h.begin(), h.end());
}

constexpr std::size_t kMax = MAX_MESSAGE_LEN;

TEST(ExtensionToPipe, FramesBecomeLines) {
  struct Case {
    std::string name;
    std::string input;
    std::string to_pipe;
  };
  const std::string largest(kMax, 'b');
  const Case cases[] = {
      {"seven bytes and a line feed", frame("{\"a\":1}"), "{\"a\":1}\n"},
      {"a body holding line ends is written unchanged", frame("{\"a\":\n\r\n1}"), "{\"a\":\n\r\n1}\n"},
      {"frames in order", frame("1") + frame("22") + frame("333"), "1\n22\n333\n"},
      {"the largest body", le32(kMax) + largest, largest + "\n"},
      {"zero length ends it", frame("1") + le32(0) + frame("2"), "1\n"},
      {"one over the limit ends it", frame("1") + le32(kMax + 1) + std::string(kMax + 1, 'c'), "1\n"},
      {"end inside the length", frame("1") + std::string("\x05\0", 2), "1\n"},
      {"end inside the body", frame("1") + le32(5) + "abc", "1\n"},
      {"nothing at all", "", ""},
  };
  for (const auto& c : cases) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, SIZE_MAX}) {
      if (piece == 1 && c.input.size() > 1000) continue;
      SCOPED_TRACE(c.name + ", pieces of " + std::to_string(piece));
      MemorySource in(c.input, piece);
      MemorySink pipe;
      extension_to_pipe(in, pipe);
      EXPECT_EQ(pipe.data(), c.to_pipe);
    }
  }
}

TEST(ExtensionToPipe, RefusedLengthIsNotFollowedByAReadOfTheBody) {
  for (const std::uint32_t n : {0u, static_cast<std::uint32_t>(kMax + 1), 0xFFFFFFFFu}) {
    SCOPED_TRACE(n);
    MemorySource in(le32(n) + std::string(64, 'x'), 4);  // the length arrives on its own
    MemorySink pipe;
    extension_to_pipe(in, pipe);
    EXPECT_EQ(pipe.data(), "");
    EXPECT_EQ(in.consumed(), 4u);
  }
}

TEST(ExtensionToPipe, FailuresEndIt) {
  {
    SCOPED_TRACE("read error after a frame");
    MemorySource in(frame("1") + le32(3) + "a", SIZE_MAX, /*fail_at_end=*/true);
    MemorySink pipe;
    extension_to_pipe(in, pipe);
    EXPECT_EQ(pipe.data(), "1\n");
  }
  for (const bool with_error : {true, false}) {
    SCOPED_TRACE(with_error ? "pipe write fails" : "pipe write takes nothing");
    MemorySource in(frame("1") + frame("2") + frame("3"), 5);
    MemorySink pipe(2, with_error);
    extension_to_pipe(in, pipe);
    EXPECT_EQ(pipe.data(), "1\n");
    EXPECT_LT(in.consumed(), 15u) << "no frame is read after the failed write";
  }
}

// A source that reports, before each read, how many of its bytes it has handed out.
class WatchedSource final : public io::ByteSource {
 public:
  WatchedSource(std::string data, std::size_t piece, std::function<void(std::size_t)> before_read)
      : inner_(std::move(data), piece), before_read_(std::move(before_read)) {}
  std::expected<std::size_t, io::OsError> read_some(std::span<char> into) override {
    before_read_(inner_.consumed());
    return inner_.read_some(into);
  }

 private:
  MemorySource inner_;
  std::function<void(std::size_t)> before_read_;
};

// Frames of many sizes, from one byte to the limit, so that they start and end at every kind
// of place in the reader's buffer.
std::vector<std::string> mixed_bodies(std::size_t count, std::size_t largest) {
  std::minstd_rand random(12);
  const std::size_t sizes[] = {1, 2, 3, 7, 100, 4093, 4096, FrameLineReader::kReadSize - 5,
                               FrameLineReader::kReadSize, FrameLineReader::kReadSize + 1, kMax};
  std::vector<std::string> bodies;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t n = i % 3 == 0 ? sizes[random() % std::size(sizes)] : 1 + random() % 300;
    n = std::min(n, largest);
    bodies.push_back(std::string(n, static_cast<char>('a' + i % 26)));
  }
  return bodies;
}

TEST(ExtensionToPipe, EveryFrameOfAnySizeInAnyPiecesBecomesItsLine) {
  for (const std::size_t piece : {std::size_t{3}, std::size_t{4096}, FrameLineReader::kReadSize + 3, SIZE_MAX}) {
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    std::string input, expected;
    for (const auto& body : mixed_bodies(piece < 100 ? 200 : 120, piece < 100 ? 5000 : kMax)) {
      input += frame(body);
      expected += body + "\n";
    }
    MemorySource in(input, piece);
    MemorySink pipe;
    extension_to_pipe(in, pipe);
    EXPECT_TRUE(pipe.data() == expected) << "the lines differ (" << pipe.data().size() << " bytes of "
                                         << expected.size() << ")";
  }
}

// The lines of frames read together leave in one write, and every complete frame has left
// before the reader waits for more input: batching never holds a message back.
TEST(ExtensionToPipe, FramesAlreadyReadLeaveTogetherAndAtOnce) {
  std::string input;
  std::vector<std::size_t> frame_ends;
  std::string lines;
  std::vector<std::size_t> line_ends;
  for (const auto& body : mixed_bodies(600, 70'000)) {
    input += frame(body);
    frame_ends.push_back(input.size());
    lines += body + "\n";
    line_ends.push_back(lines.size());
  }
  for (const std::size_t piece : {std::size_t{37}, std::size_t{5000}, SIZE_MAX}) {
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    MemorySink pipe;
    std::size_t reads = 0;
    std::size_t late = 0;
    WatchedSource in(input, piece, [&](std::size_t handed_out) {
      ++reads;
      const auto complete = std::upper_bound(frame_ends.begin(), frame_ends.end(), handed_out) - frame_ends.begin();
      const std::size_t due = complete == 0 ? 0 : line_ends[static_cast<std::size_t>(complete) - 1];
      if (pipe.data().size() != due) ++late;
    });
    extension_to_pipe(in, pipe);
    EXPECT_EQ(late, 0u) << "reads that came before the lines of complete frames were written";
    EXPECT_EQ(pipe.data(), lines);
    EXPECT_LE(pipe.writes(), reads) << "at most one write per read";
  }
}

TEST(ExtensionToPipe, MemoryStaysAroundTheLargestFrame) {
  MemorySource in(frame(std::string(kMax, 'a')) + frame("b") + frame(std::string(kMax, 'c')));
  FrameLineReader reader(in);
  std::span<const char> lines;
  std::size_t total = 0;
  while (reader.next_lines(lines) == FrameRead::complete) {
    total += lines.size();
    EXPECT_LE(reader.capacity(), kFrameHeaderSize + kMax + FrameLineReader::kReadSize);
  }
  EXPECT_EQ(total, 2 * (kMax + 1) + 2);
}

struct LineCase {
  std::string name;
  std::string from_pipe;
  std::vector<std::string> frames;
  NextLine end;
};

std::vector<LineCase> line_cases() {
  const std::string largest(kMax, 'y');
  return {
      {"seven bytes ended by CR LF", "{\"a\":1}\r\n", {"{\"a\":1}"}, NextLine::ended},
      {"two CRs keep one", "{\"a\":1}\r\r\n", {"{\"a\":1}\r"}, NextLine::ended},
      {"a CR inside stays", "a\rb\n", {"a\rb"}, NextLine::ended},
      {"blank lines are skipped and the relay goes on",
       "\r\n   \n\t\xe3\x80\x80\n\n\xc2\x85\xc2\xa0\xe1\x9a\x80\xe2\x80\x80\xe2\x80\x8a\xe2\x80\xa8\xe2\x80\xa9"
       "\xe2\x80\xaf\xe2\x81\x9f\x0b\x0c\n{}\n",
       {"{}"},
       NextLine::ended},
      {"white space around an object is kept", "  {}  \n", {"  {}  "}, NextLine::ended},
      {"non-white non-ASCII is not blank", "\xd0\x97\n\xe2\x80\x8b\n", {"\xd0\x97", "\xe2\x80\x8b"}, NextLine::ended},
      {"final line without a line feed", "1\n2", {"1", "2"}, NextLine::ended},
      {"final line keeps its CR", "1\r", {"1\r"}, NextLine::ended},
      {"blank final line", "1\n  \r", {"1"}, NextLine::ended},
      {"0xFF ends it, sending nothing for its line", "1\n\xff\n2\n", {"1"}, NextLine::not_utf8},
      {"0xFF in a blank line too", "  \xff  \n2\n", {}, NextLine::not_utf8},
      {"overlong form", "\xc0\xaf\n", {}, NextLine::not_utf8},
      {"encoded surrogate", "\xed\xa0\x80\n", {}, NextLine::not_utf8},
      {"above U+10FFFF", "\xf4\x90\x80\x80\n", {}, NextLine::not_utf8},
      {"sequence cut by the line feed", "\xe3\x80\n", {}, NextLine::not_utf8},
      {"sequence cut by the end", "1\n\xe3\x80", {"1"}, NextLine::not_utf8},
      {"exactly the limit", largest + "\n", {largest}, NextLine::ended},
      {"exactly the limit before CR LF", largest + "\r\n", {largest}, NextLine::ended},
      {"exactly the limit as the final line", largest, {largest}, NextLine::ended},
      {"one over the limit ends it", "1\n" + largest + "z\n2\n", {"1"}, NextLine::too_long},
      {"one over the limit, counting a CR that stays", largest + "\r\r\n", {}, NextLine::too_long},
      {"a blank line of several MiB is skipped", std::string(3 * kMax, ' ') + "\n{}\n", {"{}"}, NextLine::ended},
      {"a long line blank until past the limit", std::string(kMax + 5, ' ') + "x\n{}\n", {}, NextLine::too_long},
  };
}

TEST(PipeToExtension, LinesBecomeFrames) {
  for (const auto& c : line_cases()) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{5}, std::size_t{8191}, SIZE_MAX}) {
      if (piece < 100 && c.from_pipe.size() > 10000) continue;
      SCOPED_TRACE(c.name + ", pieces of " + std::to_string(piece));
      MemorySource pipe(c.from_pipe, piece);
      PipeLineReader reader(pipe);
      std::span<const char> buffer;
      std::vector<std::string> frames;
      NextLine next;
      while ((next = reader.next_frame(buffer)) == NextLine::frame) {
        const std::string whole(buffer.begin(), buffer.end());
        ASSERT_GE(whole.size(), 4u);
        EXPECT_EQ(whole.substr(0, 4), le32(static_cast<std::uint32_t>(whole.size() - 4)));
        frames.push_back(whole.substr(4));
      }
      EXPECT_EQ(next, c.end);
      EXPECT_EQ(frames, c.frames);

      // The same through the branch: each frame in one write, and then the end.
      MemorySource again(c.from_pipe, piece);
      MemorySink sink;
      io::SharedOutput out(sink);
      pipe_to_extension(again, out);
      std::string expected;
      for (const auto& f : c.frames) expected += frame(f);
      EXPECT_EQ(sink.data(), expected);
      EXPECT_EQ(sink.writes(), c.frames.size());
    }
  }
}

// What the application's lines should give, by the rules applied to whole lines of valid
// UTF-8: split at "\n", drop one "\r" before it, skip blank lines, end at one over the limit.
std::vector<std::string> expected_frames(std::string_view text) {
  std::vector<std::string> frames;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t line_feed = text.find('\n', pos);
    std::string line(text.substr(pos, line_feed == std::string_view::npos ? std::string_view::npos : line_feed - pos));
    pos = line_feed == std::string_view::npos ? text.size() : line_feed + 1;
    if (line_feed != std::string_view::npos && !line.empty() && line.back() == '\r') line.pop_back();
    if (text::trim_white_space(line).empty()) continue;
    if (line.size() > kMax) break;
    frames.push_back(std::move(line));
  }
  return frames;
}

// Lines of many lengths and kinds, so that they start, end and outgrow the reader's buffer at
// every kind of place.
std::string mixed_lines(std::size_t count, std::size_t longest) {
  std::minstd_rand random(34);
  const std::string pieces[] = {"x", " ", "\t", "\xd0\x97", "\xe3\x80\x80", "\xf0\x9f\x98\x80", "{}", "\r"};
  const std::size_t lengths[] = {0, 1, 100, PipeLineReader::kBufferSize - 3, PipeLineReader::kBufferSize,
                                 PipeLineReader::kBufferSize + 2, 700'000, kMax, kMax + 5};
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    const bool blank = random() % 4 == 0;
    // Only a blank line goes past the limit: a longer one would end the relay.
    std::size_t length = std::min(i % 4 == 0 ? lengths[random() % std::size(lengths)] : random() % 200, longest);
    if (!blank) length = std::min(length, kMax);
    std::string line = blank ? "" : "{";
    while (line.size() < length) line += blank ? pieces[1 + random() % 2] : pieces[random() % std::size(pieces)];
    if (!blank && line.size() > length && length > 0) line.resize(length);  // a cut may split a character
    if (!text::is_valid_utf8(line)) line = std::string(line.size(), 'v');
    text += line + (random() % 3 == 0 ? "\r\n" : "\n");
  }
  return text + "{\"final\":true}";
}

TEST(PipeToExtension, EveryLineOfAnyLengthInAnyPiecesBecomesItsFrame) {
  for (const std::size_t piece : {std::size_t{7}, std::size_t{4093}, PipeLineReader::kBufferSize + 1, SIZE_MAX}) {
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    const std::string text = piece < 100 ? mixed_lines(300, 3000) : mixed_lines(60, kMax);
    const std::vector<std::string> frames = expected_frames(text);
    ASSERT_GT(frames.size(), 10u);
    std::string expected;
    for (const auto& f : frames) expected += frame(f);
    MemorySource pipe(text, piece);
    MemorySink sink;
    io::SharedOutput out(sink);
    pipe_to_extension(pipe, out);
    EXPECT_TRUE(sink.data() == expected) << "the frames differ (" << sink.data().size() << " bytes of "
                                         << expected.size() << ")";
    EXPECT_EQ(sink.writes(), frames.size()) << "one write per frame";
  }
}

TEST(PipeToExtension, ReadErrorDiscardsThePartialLine) {
  MemorySource pipe("1\n2", SIZE_MAX, /*fail_at_end=*/true);
  MemorySink sink;
  io::SharedOutput out(sink);
  pipe_to_extension(pipe, out);
  EXPECT_EQ(sink.data(), frame("1"));
}

TEST(PipeToExtension, FailedOutputEndsIt) {
  MemorySource pipe("1\n2\n3\n");
  MemorySink sink(6);  // a frame and a half
  io::SharedOutput out(sink);
  pipe_to_extension(pipe, out);
  EXPECT_EQ(sink.data(), frame("1") + std::string("\x01", 1));
  EXPECT_EQ(sink.writes(), 3u) << "the second frame's write failed, and no third was tried";
}

// Bytes made on the fly: a line of `count` copies of `fill`, then `tail`.
class GeneratedSource final : public io::ByteSource {
 public:
  GeneratedSource(std::size_t count, char fill, std::string tail) : left_(count), fill_(fill), tail_(std::move(tail)) {}
  std::expected<std::size_t, io::OsError> read_some(std::span<char> into) override {
    if (left_ > 0) {
      const std::size_t n = std::min(left_, into.size());
      std::memset(into.data(), fill_, n);
      left_ -= n;
      read_ += n;
      return n;
    }
    const std::size_t n = std::min(tail_.size() - tail_pos_, into.size());
    std::memcpy(into.data(), tail_.data() + tail_pos_, n);
    tail_pos_ += n;
    read_ += n;
    return n;
  }
  std::size_t read() const { return read_; }

 private:
  std::size_t left_;
  char fill_;
  std::string tail_;
  std::size_t tail_pos_ = 0;
  std::size_t read_ = 0;
};

// Whatever the application writes, a line costs at most about one frame of memory.
TEST(PipeToExtension, MemoryStaysBoundedForHugeLines) {
  constexpr std::size_t k64MiB = 64u << 20;
  constexpr std::size_t kBound = 2 * (kMax + 8);  // a vector may double past what it holds
  {
    SCOPED_TRACE("64 MiB blank line");
    GeneratedSource pipe(k64MiB, ' ', "\n{}\n");
    PipeLineReader reader(pipe);
    std::span<const char> buffer;
    ASSERT_EQ(reader.next_frame(buffer), NextLine::frame);
    EXPECT_EQ(std::string(buffer.begin() + 4, buffer.end()), "{}");
    EXPECT_LE(reader.capacity(), kBound);
  }
  {
    SCOPED_TRACE("64 MiB non-blank line");
    GeneratedSource pipe(k64MiB, 'x', "\n{}\n");
    PipeLineReader reader(pipe);
    std::span<const char> buffer;
    EXPECT_EQ(reader.next_frame(buffer), NextLine::too_long);
    EXPECT_LE(reader.capacity(), kBound);
    EXPECT_LE(pipe.read(), kMax + 2 + PipeLineReader::kBufferSize) << "ends once the line is known too long";
  }
}

class SplitPipe final : public PipeClient {
 public:
  SplitPipe(io::ByteSource& from_app, io::ByteSink& to_app, std::function<void()> on_shut_down = [] {})
      : from_app_(from_app), to_app_(to_app), on_shut_down_(std::move(on_shut_down)) {}
  io::ByteSource& read_half() override { return from_app_; }
  io::ByteSink& write_half() override { return to_app_; }
  void shut_down() override {
    ++shut_downs_;
    on_shut_down_();
  }
  bool server_is_same_user() override { return true; }
  int shut_downs() const { return shut_downs_; }

 private:
  io::ByteSource& from_app_;
  io::ByteSink& to_app_;
  std::function<void()> on_shut_down_;
  std::atomic<int> shut_downs_ = 0;
};

// A sink whose writes wait at a gate: `entered` runs as a write begins, then the write
// holds until the gate opens.
class GatedSink final : public io::ByteSink {
 public:
  explicit GatedSink(std::function<void()> entered = [] {}) : entered_(std::move(entered)) {}
  std::expected<std::size_t, io::OsError> write_some(std::span<const char> bytes) override {
    entered_();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return open_; });
    return inner_.write_some(bytes);
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  std::string data() {
    std::lock_guard lock(mutex_);
    return inner_.data();
  }

 private:
  std::function<void()> entered_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  MemorySink inner_;
};

TEST(RelayStreams, FirstDirectionToEndEndsTheRelayWhileTheOtherIsBlocked) {
  for (const bool input_ends_first : {true, false}) {
    SCOPED_TRACE(input_ends_first ? "standard input ends" : "the application closes the pipe");
    testing::BlockingSource blocked;
    MemorySource finite(input_ends_first ? frame("{\"to\":\"app\"}") : std::string("{\"to\":\"browser\"}\n"));
    MemorySink to_app;
    MemorySink browser;
    io::SharedOutput out(browser);
    SplitPipe pipe(input_ends_first ? static_cast<io::ByteSource&>(blocked) : finite, to_app);
    io::ByteSource& input = input_ends_first ? static_cast<io::ByteSource&>(finite) : blocked;
    ThreadRuntime runtime;
    int ends = 0;
    int shut_downs_before_end = 0;
    relay_streams(pipe, input, out, runtime, [&] {
      ++ends;
      shut_downs_before_end = pipe.shut_downs();
      // The host ends the process here; the test lets the blocked direction go instead.
      blocked.wait_until_blocked();
      blocked.release();
    });
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(shut_downs_before_end, 1) << "the pipe is shut down before the end is reported";
    EXPECT_EQ(pipe.shut_downs(), 1) << "and only once";
    EXPECT_EQ(to_app.data(), input_ends_first ? "{\"to\":\"app\"}\n" : "");
    EXPECT_EQ(browser.data(), input_ends_first ? "" : frame("{\"to\":\"browser\"}"));
  }
}

// Standard input ends while a frame's write is stuck (the browser has stopped reading) and
// many more lines are ready: the pipe is shut down at once, the stuck frame goes out whole,
// and not one frame more.
TEST(RelayStreams, NoFrameStartsOnceTheRelayHasEnded) {
  std::string lines;
  for (int i = 0; i < 1000; ++i) lines += "{\"n\":" + std::to_string(i) + "}\n";
  MemorySource from_app(lines);
  testing::BlockingSource input;
  GatedSink browser([&] { input.release(); });  // the first write is stuck, and then input ends
  std::atomic<bool> output_stuck_at_shut_down = false;
  MemorySink to_app;
  SplitPipe pipe(from_app, to_app, [&] { output_stuck_at_shut_down = browser.data().empty(); });
  io::SharedOutput out(browser);
  ThreadRuntime runtime;
  relay_streams(pipe, input, out, runtime, [&] { browser.open(); });
  EXPECT_TRUE(output_stuck_at_shut_down) << "the pipe waited for the stuck write";
  EXPECT_EQ(browser.data(), frame("{\"n\":0}"));
}

// A sink that holds each write until the other direction has moved, so that the relay
// passes only when both directions run at the same time.
TEST(RelayStreams, BothDirectionsRunAtOnce) {
  std::mutex mutex;
  std::condition_variable changed;
  bool app_got_line = false;
  struct WaitingSink final : io::ByteSink {
    std::function<void()> before;
    MemorySink inner;
    std::expected<std::size_t, io::OsError> write_some(std::span<const char> bytes) override {
      before();
      return inner.write_some(bytes);
    }
  };
  WaitingSink browser;
  browser.before = [&] {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return app_got_line; });
  };
  struct SignallingSink final : io::ByteSink {
    std::function<void()> after;
    MemorySink inner;
    std::expected<std::size_t, io::OsError> write_some(std::span<const char> bytes) override {
      auto r = inner.write_some(bytes);
      after();
      return r;
    }
  };
  SignallingSink to_app;
  to_app.after = [&] {
    std::lock_guard lock(mutex);
    app_got_line = true;
    changed.notify_all();
  };
  MemorySource from_app("{\"b\":1}\n");
  // Standard input stays open until the application's side has ended the relay.
  testing::BlockingSource input(frame("{\"a\":1}"));
  SplitPipe pipe(from_app, to_app);
  io::SharedOutput out(browser);
  ThreadRuntime runtime;
  relay_streams(pipe, input, out, runtime, [&] { input.release(); });
  EXPECT_EQ(to_app.inner.data(), "{\"a\":1}\n");
  EXPECT_EQ(browser.inner.data(), frame("{\"b\":1}"));
}

}  // namespace
}  // namespace zorvia::host
