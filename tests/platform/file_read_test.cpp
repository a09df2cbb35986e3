#include "platform/file_read.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/scoped_native.h"
#include "support/child_process.h"

namespace zorvia::platform {
namespace {

namespace fs = std::filesystem;

fs::path utf8_path(const std::string& utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

class FileReadTest : public ::testing::Test {
 protected:
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  fs::path write_file(const std::string& utf8_name, const std::string& bytes) {
    const fs::path path = dir_ / utf8_path(utf8_name);
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  fs::path dir_ = utf8_path(testing::make_temp_directory("file-read"));
};

TEST_F(FileReadTest, ReadsEveryByteToTheEnd) {
  std::string binary("{\"a\":1}\0\xff\xfe\r\n", 13);
  // Larger than any single read chunk a platform might pick by default.
  std::string large(3 * 1024 * 1024 + 17, 'x');
  for (std::size_t i = 0; i < large.size(); i += 4093) large[i] = static_cast<char>(i % 251);
  struct Case {
    const char* name;
    const std::string* bytes;
  };
  const std::string empty;
  for (const Case& c : {Case{"empty", &empty}, Case{"binary.json", &binary}, Case{"large.json", &large},
                        Case{"\xd0\xbc\xd0\xb0\xd1\x80\xd0\xba\xd0\xb5\xd1\x80.json", &binary}}) {
    SCOPED_TRACE(c.name);
    const auto path = write_file(c.name, *c.bytes);
    const auto read = read_whole_file_shared(path.native());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->size(), c.bytes->size());
    EXPECT_TRUE(*read == *c.bytes);
    EXPECT_TRUE(fs::exists(path));  // reading leaves the file in place
  }
}

TEST_F(FileReadTest, MissingFileAndDirectoryGiveNothing) {
  EXPECT_FALSE(read_whole_file_shared((dir_ / "missing.json").native()));
  EXPECT_FALSE(read_whole_file_shared((dir_ / "no-such-dir" / "marker.json").native()));
  EXPECT_FALSE(read_whole_file_shared(dir_.native()));
  fs::create_directory(dir_ / "marker.json");
  EXPECT_FALSE(read_whole_file_shared((dir_ / "marker.json").native()));
}

#ifdef _WIN32

ScopedHandle open_for_writing(const fs::path& path, DWORD share) {
  return ScopedHandle(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, share, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST_F(FileReadTest, ReadsWhileTheOwnerHoldsItOpenForWritingAndDeleting) {
  const auto path = write_file("held.json", "first");
  auto writer = open_for_writing(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  ASSERT_TRUE(writer);
  EXPECT_EQ(read_whole_file_shared(path.native()), "first");

  // The owner's later writes show in the next read, and the reader kept nothing open
  // that would stop the owner deleting the file.
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(writer.get(), "second!", 7, &written, nullptr));
  EXPECT_EQ(read_whole_file_shared(path.native()), "second!");
  writer.reset();
  EXPECT_TRUE(DeleteFileW(path.c_str()));
  EXPECT_FALSE(read_whole_file_shared(path.native()));
}

TEST_F(FileReadTest, AFileLockedAgainstReadingGivesNothing) {
  const auto path = write_file("locked.json", "{}");
  {
    auto exclusive = open_for_writing(path, 0);
    ASSERT_TRUE(exclusive);
    EXPECT_FALSE(read_whole_file_shared(path.native()));
  }
  EXPECT_EQ(read_whole_file_shared(path.native()), "{}");
}

#else

TEST_F(FileReadTest, AFileLongerThanItsLengthIsReadToItsEnd) {
  // Files of /proc report a length of 0 and still hold bytes: the buffer has to grow.
  const auto cmdline = read_whole_file_shared("/proc/self/cmdline");
  ASSERT_TRUE(cmdline);
  EXPECT_NE(cmdline->find("file_read_test"), std::string::npos);
}

TEST_F(FileReadTest, AFileTooLargeForMemoryGivesNothing) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the address sanitizer ends the process on an allocation this large";
#endif
  std::ifstream overcommit("/proc/sys/vm/overcommit_memory");
  int mode = 0;
  if (overcommit >> mode && mode == 1) GTEST_SKIP() << "every allocation succeeds with overcommit mode 1";
  // A sparse file far larger than any machine's memory and swap.
  const auto path = write_file("huge.json", "{");
  std::error_code error;
  fs::resize_file(path, std::uintmax_t{15} << 40, error);
  if (error) GTEST_SKIP() << "no sparse file of 15 TiB here: " << error.message();
  EXPECT_FALSE(read_whole_file_shared(path.native()));
}

TEST_F(FileReadTest, AnUnreadableFileGivesNothing) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  const auto path = write_file("private.json", "{}");
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  EXPECT_FALSE(read_whole_file_shared(path.native()));
}

#endif

}  // namespace
}  // namespace zorvia::platform
