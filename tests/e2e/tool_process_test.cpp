// The tool runner with real child processes: lookup, arguments, both outputs, the limit.

#include "platform/tool_process.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide_text.h"
#else
#include <signal.h>
#include <stdlib.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace zorvia::platform {
namespace {

using namespace std::chrono_literals;

#ifdef _WIN32
constexpr std::string_view kExe = ".exe";
constexpr char kPathListSeparator = ';';
#else
constexpr std::string_view kExe = "";
constexpr char kPathListSeparator = ':';
#endif

std::filesystem::path fs_path(const std::string& utf8) { return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())); }

// Lies beside the test executable, so the runner finds it in its first directory.
const std::string kEcho = "tool_echo" + std::string(kExe);

std::optional<ToolRun> run_echo(std::vector<std::string> args, std::chrono::milliseconds limit = 20s) {
  return run_tool(kEcho, args, limit);
}

class TempDir {
 public:
  explicit TempDir(const std::string& tag) : path_(testing::make_temp_directory(tag)) {}
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(fs_path(path_), ignored);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return testing::join_path(path_, name); }

 private:
  std::string path_;
};

bool process_is_gone(unsigned long pid) {
#ifdef _WIN32
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return true;
  const bool ended = WaitForSingleObject(h, 5000) == WAIT_OBJECT_0;
  CloseHandle(h);
  return ended;
#else
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
#endif
}

void set_path_variable(const std::string& value) {
#ifdef _WIN32
  SetEnvironmentVariableW(L"PATH", win32::utf8_to_wide(value).c_str());
#else
  ::setenv("PATH", value.c_str(), 1);
#endif
}

std::vector<std::string> split_on_nul(const std::string& bytes) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  for (std::size_t end; (end = bytes.find('\0', begin)) != std::string::npos; begin = end + 1)
    parts.push_back(bytes.substr(begin, end - begin));
  return parts;
}

TEST(ToolProcess, EachArgumentArrivesWhole) {
  const std::vector<std::string> args = {
      "qe",
      "Microsoft-Windows-Windows Defender/Operational",
      "/q:*[System[(EventID=1116 or EventID=1117) and TimeCreated[timediff(@SystemTime) <= 120000]]]",
      "",
      "tab\there",
      "say \"hi\"",
      R"(C:\dir with blank\)",
      R"(back\\"slash)",
      R"(\\server\share\x)",
      R"(trailing\)",
      "\"",
  };
  std::vector<std::string> command = {"args"};
  command.insert(command.end(), args.begin(), args.end());
  const auto run = run_echo(command);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->exit_status, 0u);
  EXPECT_EQ(split_on_nul(run->out), args);
  EXPECT_EQ(run->err, "-");
}

TEST(ToolProcess, BothOutputsAreReadTogetherAndTheStatusPassesThrough) {
  struct Case {
    const char* status;
    std::size_t out_bytes;
    std::size_t err_bytes;
  };
  // Standard error is written first: reading standard output to its end before touching
  // standard error would leave the tool blocked on a full pipe.
  static constexpr Case kCases[] = {
      {"0", 0, 0},
      {"7", 3, 5 * 1024 * 1024},
      {"3", 6 * 1024 * 1024, 4 * 1024 * 1024},
      {"4294967295", 1, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.status);
    const auto run = run_echo({"flood", c.status, std::to_string(c.out_bytes), std::to_string(c.err_bytes)});
    ASSERT_TRUE(run.has_value());
#ifdef _WIN32
    EXPECT_EQ(run->exit_status, std::stoul(c.status));
#else
    EXPECT_EQ(run->exit_status, std::stoul(c.status) & 0xFF);  // POSIX keeps the low byte
#endif
    EXPECT_EQ(run->out, std::string(c.out_bytes, 'o'));
    EXPECT_EQ(run->err, std::string(c.err_bytes, 'e'));
  }
}

TEST(ToolProcess, TheLimitEndsAHangingTool) {
  // With its outputs open the reads are waiting; with them closed, the wait for its exit.
  for (const char* mode : {"hang", "hang-closed"}) {
    SCOPED_TRACE(mode);
    TempDir dir("tool-hang");
    const auto pid_file = dir.file("pid");
    EXPECT_FALSE(run_echo({mode, pid_file}, 1500ms).has_value());
    unsigned long pid = 0;
    std::ifstream(fs_path(pid_file)) >> pid;
    ASSERT_NE(pid, 0u) << "the tool never ran";
    EXPECT_TRUE(process_is_gone(pid));
  }
}

TEST(ToolProcess, LooksInPathButNeverInTheCurrentDirectory) {
  TempDir dir("tool-path");
  const std::string name = "zorvia_path_only_tool" + std::string(kExe);
  std::filesystem::copy_file(fs_path(testing::sibling_program("tool_echo")), fs_path(dir.file(name)));
  const auto saved_cwd = std::filesystem::current_path();
  std::filesystem::current_path(fs_path(dir.path()));
  const std::vector<std::string> args = {"args", "x"};

  EXPECT_FALSE(run_tool(name, args, 20s).has_value()) << "found in the current directory";
  // An empty or relative PATH entry would also mean the current directory.
  set_path_variable(std::string(1, kPathListSeparator) + "." + kPathListSeparator);
  EXPECT_FALSE(run_tool(name, args, 20s).has_value()) << "found through a relative PATH entry";

  set_path_variable("relative" + std::string(1, kPathListSeparator) + dir.path());
  const auto run = run_tool(name, args, 20s);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->out, std::string("x\0", 2));

  std::filesystem::current_path(saved_cwd);
}

TEST(ToolProcess, AMissingToolGivesNothing) {
  const std::vector<std::string> none;
  EXPECT_FALSE(run_tool("zorvia-no-such-tool" + std::string(kExe), none, 5s).has_value());
  // A name with a directory part is not a file name to look up.
  EXPECT_FALSE(run_tool("../" + kEcho, none, 5s).has_value());
  EXPECT_FALSE(run_tool("", none, 5s).has_value());
}

}  // namespace
}  // namespace zorvia::platform
