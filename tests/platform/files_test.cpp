// The watchdog's file operations on the real file system: the regular-file test, names that
// no file can have, and paths longer than the legacy limit of 260 units.

#include "platform/files.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_read.h"
#include "support/child_process.h"

namespace zorvia::platform {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dir = testing::make_temp_directory("files");
    dir_ = fs::path(std::u8string(dir.begin(), dir.end()));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  NativePath write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path.native();
  }
  fs::path dir_;
};

TEST_F(FilesTest, RegularFileTest) {
  const NativePath file = write(dir_ / "app.exe", "x");
  const NativePath cyrillic = write(dir_ / fs::path(u8"Зорвия.exe"), "x");
  EXPECT_TRUE(is_existing_regular_file(file));
  EXPECT_TRUE(is_existing_regular_file(cyrillic));
  EXPECT_FALSE(is_existing_regular_file(dir_.native())) << "a directory";
  EXPECT_FALSE(is_existing_regular_file((dir_ / "missing.exe").native()));
  // The text before the NUL names a file, the whole text does not.
  NativePath with_nul = file;
  with_nul.push_back(PathChar{0});
  with_nul += NativePath(file.begin(), file.begin() + 1);
  EXPECT_FALSE(is_existing_regular_file(with_nul));
  EXPECT_EQ(file_size(with_nul), std::nullopt);
  EXPECT_FALSE(remove_file(with_nul));
  EXPECT_EQ(read_whole_file_shared(with_nul), std::nullopt);
  EXPECT_FALSE(AppendOnlyFile::open(with_nul).has_value());
  EXPECT_TRUE(is_existing_regular_file(file)) << "nothing happened to the real file";
#ifndef _WIN32
  fs::create_symlink(dir_ / "app.exe", dir_ / "link.exe");
  fs::create_directory_symlink(dir_, dir_ / "dirlink");
  EXPECT_TRUE(is_existing_regular_file((dir_ / "link.exe").native())) << "links are followed";
  EXPECT_FALSE(is_existing_regular_file((dir_ / "dirlink").native()));
#endif
}

// Creates the directory `path`, whatever its length.
bool make_directory(const NativePath& path) {
#ifdef _WIN32
  return CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr) != 0;
#else
  return ::mkdir(path.c_str(), 0777) == 0;
#endif
}

TEST_F(FilesTest, PathsPastTheLegacyLimitWork) {
  NativePath deep = dir_.native();
  for (int i = 0; i < 8; ++i) {
    deep += fs::path::preferred_separator;
    deep += NativePath(40, PathChar('d'));
    ASSERT_TRUE(make_directory(deep));
  }
  deep += fs::path::preferred_separator;
  const NativePath events = deep + NativePath(20, PathChar('e'));
  const NativePath rotated = deep + NativePath(20, PathChar('r'));
  ASSERT_GT(events.size(), 300u);

  {
    auto file = AppendOnlyFile::open(events);
    ASSERT_TRUE(file.has_value());
    ASSERT_EQ(io::write_all(*file, std::string_view("line\n")), io::WriteAll::complete);
  }
  EXPECT_EQ(file_size(events), 5u);
  EXPECT_TRUE(is_existing_regular_file(events));
  EXPECT_EQ(read_whole_file_shared(events), "line\n");
  EXPECT_TRUE(rename_replacing(events, rotated));
  EXPECT_EQ(read_whole_file_shared(rotated), "line\n");
  EXPECT_TRUE(remove_file(rotated));
  EXPECT_FALSE(is_existing_regular_file(rotated));
}

}  // namespace
}  // namespace zorvia::platform
