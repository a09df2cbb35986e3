#pragma once
// Starts programs for end-to-end tests, on both builds: standard input, output and error on
// pipes, output gathered by reader threads, a bounded wait, and the exit status.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace zorvia::testing {

// A program built beside the running test executable ("zorvia-host" gives zorvia-host.exe
// on Windows).
std::string sibling_program(const std::string& name);
// The directory of the running test executable, with a trailing separator.
std::string own_directory();
// How many fresh names create_temp_directory tries before it gives up.
inline constexpr int kTempDirectoryAttempts = 100;
// A fresh, empty directory for one test, named after `tag` in the system's temporary
// directory; the last reason when none could be made (ASSERT_TRUE on the result).
[[nodiscard]] std::expected<std::string, std::error_code> create_temp_directory(const std::string& tag);
// The same, for a test that cannot go on without one: when none can be made, the test
// program ends at once with the reason on standard error.
[[nodiscard]] std::string make_temp_directory(const std::string& tag);
// True in a Windows build running under Wine, whose few known departures from Windows some
// tests allow for (each says which).
[[nodiscard]] bool running_under_wine();
// Path joining with the platform's separator.
std::string join_path(const std::string& dir, const std::string& name);

struct ChildOptions {
  bool stdin_pipe = true;       // false: standard input is the null device
  bool stdout_closed = false;   // true: standard output's reader is gone before the child starts
  bool stdin_missing = false;   // true: the child starts with no standard input at all
  bool stdout_missing = false;  // true: the child starts with no standard output at all
  bool stdout_held = false;     // true: nothing is read from standard output until release_output
  std::size_t stdout_capacity = 1 << 20;  // what standard output's pipe holds unread
};

class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& args, ChildOptions options = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // False when any step of setting the child up failed (a pipe, a file action, the start
  // itself): no process was started then, and nothing of it is left open.
  [[nodiscard]] bool started() const { return started_; }
  std::uint32_t pid() const { return pid_; }

  // Writes to the child's standard input; false when the child no longer reads it.
  bool write_stdin(const std::string& bytes);
  void close_stdin();

  // Starts reading standard output when it was held.
  void release_output();
  // Waits until standard output holds at least `count` bytes, or the timeout passes.
  bool wait_for_output(std::size_t count, std::chrono::milliseconds timeout);
  // After the child has ended (it is killed if it has not): waits until both outputs are read
  // to their end.
  void join_output();
  std::string output();  // everything gathered from standard output so far
  std::string errors();  // everything gathered from standard error so far

  // The exit status, or nothing when the child is still running after `timeout`.
  std::optional<std::uint32_t> wait(std::chrono::milliseconds timeout);
  void kill();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  bool started_ = false;
  std::uint32_t pid_ = 0;
};

struct ChildResult {
  std::optional<std::uint32_t> exit_code;  // nothing: killed after the timeout
  std::string out;
  std::string err;
};

// Runs a program to its end with `input` on standard input (then closed).
ChildResult run_child(const std::string& program, const std::vector<std::string>& args, const std::string& input = {},
                      ChildOptions options = {}, std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Little-endian frames as the browser writes them.
std::string frame(const std::string& body);
// Splits a byte stream of frames; nothing when it does not end at a frame boundary.
std::optional<std::vector<std::string>> split_frames(const std::string& bytes);

}  // namespace zorvia::testing
