#include "host/frame.h"

#include <gtest/gtest.h>

#include "host/host_error.h"
#include "support/memory_streams.h"

namespace zorvia::host {
namespace {

using testing::MemorySink;
using testing::MemorySource;

std::string le32(std::uint32_t n) {
  const auto h = encode_frame_length(n);
  return std::string(h.begin(), h.end());
}

std::string written_host_error(std::string_view message, MemorySink& sink) {
  io::SharedOutput out(sink);
  write_host_error(out, message);
  return sink.data();
}

TEST(HostError, ByteExactFrames) {
  struct Case {
    std::string name;
    std::string message;
    std::string header;
    std::string body;
  };
  const std::string cyrillic = "Не удалось определить пользователя Windows";
  const Case cases[] = {
      {"empty", "", std::string("\x21\0\0\0", 4), R"({"error":"","event":"host_error"})"},
      {"cyrillic", cyrillic, std::string("\x6a\0\0\0", 4), "{\"error\":\"" + cyrillic + "\",\"event\":\"host_error\"}"},
      {"escapes", "a\"b\\c\td\x1f/e", le32(51), R"({"error":"a\"b\\c\td\u001f/e","event":"host_error"})"},
      {"300 bytes", std::string(267, 'q'), std::string("\x2c\x01\0\0", 4),
       "{\"error\":\"" + std::string(267, 'q') + "\",\"event\":\"host_error\"}"},
      {"largest", std::string(1'048'543, 'x'), std::string("\0\0\x10\0", 4),
       "{\"error\":\"" + std::string(1'048'543, 'x') + "\",\"event\":\"host_error\"}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySink sink;
    const std::string out = written_host_error(c.message, sink);
    EXPECT_EQ(out.size(), 4 + c.body.size());
    EXPECT_EQ(out.substr(0, 4), c.header);
    EXPECT_EQ(out.substr(4), c.body);
    EXPECT_EQ(sink.writes(), 1u) << "header and body go out as one write";
  }
}

TEST(HostError, OverTheLimitWritesNothingAtAll) {
  MemorySink sink;
  EXPECT_EQ(written_host_error(std::string(1'048'544, 'x'), sink), "");
  EXPECT_EQ(sink.writes(), 0u);
}

TEST(HostError, FailedWriteIsIgnored) {
  MemorySink refusing(0);
  EXPECT_EQ(written_host_error("x", refusing), "");
  MemorySink partial(3);
  EXPECT_EQ(written_host_error("x", partial), std::string("\x22\0\0", 3));
}

TEST(FrameReader, LengthsAndShortInput) {
  struct Case {
    std::string name;
    std::string input;
    FrameRead result;
    std::size_t body_size;
  };
  const Case cases[] = {
      {"seven bytes", le32(7) + "{\"a\":1}", FrameRead::complete, 7},
      {"zero length", le32(0) + "x", FrameRead::bad_length, 0},
      {"one over the limit", le32(MAX_MESSAGE_LEN + 1), FrameRead::bad_length, 0},
      {"largest", le32(MAX_MESSAGE_LEN) + std::string(MAX_MESSAGE_LEN, 'b'), FrameRead::complete, MAX_MESSAGE_LEN},
      {"nothing", "", FrameRead::ended, 0},
      {"inside the length", std::string("\x05\0", 2), FrameRead::ended, 0},
      {"inside the body", le32(5) + "abc", FrameRead::ended, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySource in(c.input, 3);  // pieces of three bytes: lengths arrive split
    std::vector<char> body;
    EXPECT_EQ(read_frame(in, body), c.result);
    if (c.result == FrameRead::complete) {
      EXPECT_EQ(body.size(), c.body_size);
      EXPECT_GE(body.capacity(), c.body_size + 1);
    }
    if (c.result == FrameRead::bad_length) {
      EXPECT_EQ(in.consumed(), 4u) << "no body byte is read";
    }
  }
}

TEST(FrameReader, ReadErrorFails) {
  MemorySource in(le32(9) + "abc", SIZE_MAX, /*fail_at_end=*/true);
  std::vector<char> body;
  EXPECT_EQ(read_frame(in, body), FrameRead::failed);
}

TEST(FrameReader, ConsecutiveFramesFollowEachOther) {
  MemorySource in(le32(1) + "a" + le32(2) + "bc");
  std::vector<char> body;
  ASSERT_EQ(read_frame(in, body), FrameRead::complete);
  EXPECT_EQ(std::string(body.begin(), body.end()), "a");
  ASSERT_EQ(read_frame(in, body), FrameRead::complete);
  EXPECT_EQ(std::string(body.begin(), body.end()), "bc");
  EXPECT_EQ(read_frame(in, body), FrameRead::ended);
}

}  // namespace
}  // namespace zorvia::host
