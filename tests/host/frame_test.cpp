#include "host/frame.h"

#include <gtest/gtest.h>

#include "host/host_error.h"
#include "support/memory_streams.h"

namespace zorvia::host {
namespace {

using testing::MemorySink;

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

}  // namespace
}  // namespace zorvia::host
