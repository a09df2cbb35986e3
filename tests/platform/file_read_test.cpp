#include "platform/file_read.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>
#include <fstream>

#include "app/process_marker_file.h"
#include "support/child_process.h"

namespace zorvia::platform {
namespace {

namespace fs = std::filesystem;

class FileReadTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = fs::u8path(testing::make_temp_directory("file-read")); }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path write(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  fs::path dir_;
};

TEST_F(FileReadTest, ReadsTheWholeFileOrNothing) {
  std::string bytes(200'000, 'x');
  bytes[0] = '\0';
  bytes.back() = '\xFF';
  EXPECT_EQ(read_whole_file_shared(write("big", bytes).native()), bytes);
  EXPECT_EQ(read_whole_file_shared(write("empty", "").native()), "");
  EXPECT_EQ(read_whole_file_shared((dir_ / "missing").native()), std::nullopt);
  EXPECT_EQ(read_whole_file_shared(dir_.native()), std::nullopt) << "a directory is no marker file";
}

TEST_F(FileReadTest, MarkerFileIsReadAndParsed) {
  const auto path = write("marker.json",
                          R"({"session_id":"s","pid":1,"started_at":"t","version":"v","executable":"e",)"
                          R"("debug_build":false,"e2e":false,"clean_exit":true})");
  const auto marker = app::read_process_marker(path.native());
  ASSERT_TRUE(marker);
  EXPECT_TRUE(marker->clean_exit);
  EXPECT_FALSE(app::read_process_marker(write("bad.json", "{").native()));
}

#ifdef _WIN32
TEST_F(FileReadTest, ReadsWhileTheWriterHoldsTheFileOpenAndCanStillDeleteIt) {
  const auto path = write("held", "content");
  // The watched program keeps its marker open for writing, with full sharing.
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(read_whole_file_shared(path.native()), "content");
  CloseHandle(writer);

  // A holder that shares nothing keeps the reader out: nothing, not a crash.
  HANDLE exclusive = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(read_whole_file_shared(path.native()), std::nullopt);
  CloseHandle(exclusive);
}
#endif

}  // namespace
}  // namespace zorvia::platform
