// The watchdog's file operations on the real file system: the regular-file test, names that
// no file can have, and paths longer than the legacy limit of 260 units.

#include "platform/files.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#endif

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "platform/file_read.h"
#include "platform/scoped_native.h"
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

// Runs `work` on a thread. When it has not ended within a few seconds it is stuck: `unblock`
// then frees it, so that the test fails instead of hanging.
bool ends_on_its_own(const std::function<void()>& work, const std::function<void()>& unblock) {
  std::promise<void> done;
  std::future<void> ended = done.get_future();
  std::thread worker([&] {
    work();
    done.set_value();
  });
  const bool on_its_own = ended.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  if (!on_its_own) unblock();
  worker.join();
  return on_its_own;
}

#ifdef _WIN32

// Pipes of two instances that nobody serves: every open of the marker or the events file
// connects to one, and a read on it would wait for the server forever.
TEST_F(FilesTest, APipeIsNeitherReadNorWrittenAsAFile) {
  const std::wstring prefix = L"\\\\.\\pipe\\zorvia-files-test-" + std::to_wstring(GetCurrentProcessId());
  const auto serve = [](const std::wstring& pipe, ScopedHandle (&servers)[2]) {
    for (auto& server : servers) {
      server.reset(CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                    PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr));
      ASSERT_TRUE(server);
    }
  };

  ScopedHandle marker_servers[2];
  serve(prefix + L"-marker", marker_servers);
  std::optional<std::string> read;
  EXPECT_TRUE(ends_on_its_own([&] { read = read_whole_file_shared(prefix + L"-marker"); },
                              [&] {
                                for (auto& server : marker_servers) DisconnectNamedPipe(server.get());
                              }));
  EXPECT_EQ(read, std::nullopt);

  ScopedHandle events_servers[2];
  serve(prefix + L"-events", events_servers);
  EXPECT_FALSE(AppendOnlyFile::open(prefix + L"-events").has_value());

  // Nor does a device pass for a file, though it reads as empty and swallows writes.
  for (const wchar_t* device : {L"NUL", L"\\\\.\\NUL"}) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(device)));
    EXPECT_EQ(read_whole_file_shared(device), std::nullopt);
    EXPECT_FALSE(AppendOnlyFile::open(device).has_value());
  }
}

#else

// Opening a FIFO waits for the other end unless told not to; neither the marker read nor
// the events file's open may wait, and the FIFO stays where it is.
TEST_F(FilesTest, AFifoIsNeitherReadNorWrittenAsAFile) {
  const fs::path fifo = dir_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  std::optional<std::string> read;
  EXPECT_TRUE(ends_on_its_own([&] { read = read_whole_file_shared(fifo.native()); },
                              [&] { ScopedHandle writer(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)); }));
  EXPECT_EQ(read, std::nullopt);

  // Without a reader, and with one: no line goes into the FIFO either way.
  ScopedHandle reader;
  bool opened = false;
  EXPECT_TRUE(ends_on_its_own([&] { opened = AppendOnlyFile::open(fifo.native()).has_value(); },
                              [&] { reader = ScopedHandle(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK)); }));
  EXPECT_FALSE(opened);
  if (!reader.valid()) reader = ScopedHandle(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
  ASSERT_TRUE(reader.valid());
  EXPECT_FALSE(AppendOnlyFile::open(fifo.native()).has_value());
  EXPECT_TRUE(fs::is_fifo(fifo));

  // Nor does a character device pass for a file.
  EXPECT_EQ(read_whole_file_shared("/dev/null"), std::nullopt);
  EXPECT_FALSE(AppendOnlyFile::open("/dev/null").has_value());
}

#endif

}  // namespace
}  // namespace zorvia::platform
