// The events file on the real file system: append, rotation at the size limit, failures.

#include "app/events_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "lifecycle/lifecycle_events.h"
#include "support/child_process.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace zorvia::app {
namespace {

namespace fs = std::filesystem;

fs::path utf8_path(const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); }

platform::NativePath native(const fs::path& p) { return p.native(); }

std::string contents(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const fs::path& p, std::size_t size, char fill) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  const std::string block(size, fill);
  out << block;
}

text::JsonValue sample_event(std::uint32_t pid) {
  return lifecycle::ready_event("2026-01-31T12:00:00.000Z", pid, "s", 9, false);
}

// The bytes `sample_event(pid)` must leave in the file.
std::string sample_line(std::uint32_t pid) {
  return R"({"at":"2026-01-31T12:00:00.000Z","event":"watchdog_ready","marker_seen":false,"pid":)" +
         std::to_string(pid) + R"(,"session_id":"s","watchdog_pid":9})" + "\n";
}

class EventsFile : public ::testing::Test {
 protected:
  fs::path dir = utf8_path(testing::make_temp_directory("events_file"));
  fs::path events = dir / "events.jsonl";
  fs::path rotated = dir / "events.jsonl.old";
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
};

TEST_F(EventsFile, MissingFileIsCreatedAndLaterLinesAreAppended) {
  append_lifecycle_event(native(events), sample_event(1));
  EXPECT_EQ(contents(events), sample_line(1));
  append_lifecycle_event(native(events), sample_event(2));
  EXPECT_EQ(contents(events), sample_line(1) + sample_line(2));
  EXPECT_FALSE(fs::exists(rotated));
}

TEST_F(EventsFile, RotatesOnlyPastTheLimit) {
  const std::string line = sample_line(1);
  // At the limit: appended in place.
  write_bytes(events, lifecycle::EVENTS_FILE_ROTATE_BYTES, 'a');
  append_lifecycle_event(native(events), sample_event(1));
  EXPECT_EQ(fs::file_size(events), lifecycle::EVENTS_FILE_ROTATE_BYTES + line.size());
  EXPECT_FALSE(fs::exists(rotated));

  // One byte past it: the old content moves aside, replacing an older rotated file.
  write_bytes(events, lifecycle::EVENTS_FILE_ROTATE_BYTES + 1, 'b');
  write_bytes(rotated, 10, 'o');
  append_lifecycle_event(native(events), sample_event(1));
  EXPECT_TRUE(contents(events) == line);  // never print 8 MiB
  EXPECT_EQ(fs::file_size(rotated), lifecycle::EVENTS_FILE_ROTATE_BYTES + 1);
  EXPECT_EQ(contents(rotated).substr(0, 3), "bbb");
}

TEST_F(EventsFile, NameWithoutExtensionRotatesBesideIt) {
  const fs::path plain = dir / "events";
  write_bytes(plain, lifecycle::EVENTS_FILE_ROTATE_BYTES + 1, 'c');
  append_lifecycle_event(native(plain), sample_event(1));
  EXPECT_EQ(fs::file_size(dir / "events.jsonl.old"), lifecycle::EVENTS_FILE_ROTATE_BYTES + 1);
  EXPECT_EQ(contents(plain), sample_line(1));
}

TEST_F(EventsFile, UnwritablePathsCreateNothing) {
  // A missing directory is not created.
  append_lifecycle_event(native(dir / "missing" / "events.jsonl"), sample_event(1));
  EXPECT_FALSE(fs::exists(dir / "missing"));
  // A directory in place of the file is left alone.
  fs::create_directory(dir / "is-a-dir");
  append_lifecycle_event(native(dir / "is-a-dir"), sample_event(1));
  EXPECT_TRUE(fs::is_directory(dir / "is-a-dir"));
  EXPECT_TRUE(fs::is_empty(dir / "is-a-dir"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

// A rename that fails as when another process holds the events file without delete sharing.
class RefusedMove final : public EventsFileMove {
 public:
  bool rename_replacing(const platform::NativePath&, const platform::NativePath&) override {
    ++attempts;
    return false;
  }
  int attempts = 0;
};

TEST_F(EventsFile, AFailedRotationKeepsTheOlderRotatedFile) {
  const std::string line = sample_line(1);
  write_bytes(events, lifecycle::EVENTS_FILE_ROTATE_BYTES + 1, 'b');
  write_bytes(rotated, 10, 'o');
  RefusedMove refused;
  append_lifecycle_event(native(events), sample_event(1), refused);
  append_lifecycle_event(native(events), sample_event(1), refused);
  EXPECT_EQ(refused.attempts, 2) << "every append past the limit tries again";
  EXPECT_EQ(contents(rotated), std::string(10, 'o'));
  EXPECT_EQ(fs::file_size(events), lifecycle::EVENTS_FILE_ROTATE_BYTES + 1 + 2 * line.size());

  // Once the move works, the rotated file holds everything the events file held.
  append_lifecycle_event(native(events), sample_event(1));
  EXPECT_TRUE(contents(events) == line);
  EXPECT_EQ(fs::file_size(rotated), lifecycle::EVENTS_FILE_ROTATE_BYTES + 1 + 2 * line.size());
}

// Another process holds the events file open with read and write sharing, as log viewers
// do. Windows then refuses to move it (no delete sharing): the older rotated file stays and
// the line goes into the large file. Linux lets it move.
TEST_F(EventsFile, RotationWhileAnotherProcessHoldsTheEventsFile) {
  const std::string line = sample_line(1);
  write_bytes(events, lifecycle::EVENTS_FILE_ROTATE_BYTES + 1, 'h');
  write_bytes(rotated, 10, 'o');
  testing::Child holder(testing::sibling_program("file_holder"), {events.string()});
  ASSERT_TRUE(holder.wait_for_output(4, std::chrono::seconds(30)));
  ASSERT_TRUE(holder.output().starts_with("held"));
  append_lifecycle_event(native(events), sample_event(1));
  holder.close_stdin();
  EXPECT_EQ(holder.wait(std::chrono::seconds(30)), 0u);
#ifdef _WIN32
  EXPECT_EQ(contents(rotated), std::string(10, 'o'));
  EXPECT_EQ(fs::file_size(events), lifecycle::EVENTS_FILE_ROTATE_BYTES + 1 + line.size());
#else
  EXPECT_TRUE(contents(events) == line);
  EXPECT_EQ(fs::file_size(rotated), lifecycle::EVENTS_FILE_ROTATE_BYTES + 1);
#endif
}

#ifdef _WIN32
// A reader holding the older rotated file open (with delete sharing) makes the plain
// replacing rename be denied; the POSIX-semantics retry replaces it. Wine knows no such
// retry: there the rename fails, the older rotated file stays and the line goes into the
// large file, as after any failed rotation.
TEST_F(EventsFile, RotationPastARotatedFileHeldOpenByAReader) {
  const std::string line = sample_line(1);
  write_bytes(events, lifecycle::EVENTS_FILE_ROTATE_BYTES + 1, 'd');
  write_bytes(rotated, 10, 'o');
  const HANDLE reader = CreateFileW(rotated.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  append_lifecycle_event(native(events), sample_event(1));
  CloseHandle(reader);
  if (testing::running_under_wine()) {
    EXPECT_EQ(fs::file_size(events), lifecycle::EVENTS_FILE_ROTATE_BYTES + 1 + line.size());
    EXPECT_EQ(contents(rotated), std::string(10, 'o'));
  } else {
    EXPECT_TRUE(contents(events) == line);
    EXPECT_EQ(fs::file_size(rotated), lifecycle::EVENTS_FILE_ROTATE_BYTES + 1);
  }
}
#endif

}  // namespace
}  // namespace zorvia::app
