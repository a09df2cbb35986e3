#pragma once
// Runs a helper tool of the system by its file name and captures both of its outputs,
// within one time limit for the whole run.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zorvia::platform {

struct ToolRun {
  std::uint32_t exit_status;
  std::string out;
  std::string err;
};

// Looks for `program_file_name` in our own executable's directory, then (Windows) the system
// and Windows directories, then each absolute PATH directory; never the current directory.
// The tool gets each of `args` as one argument, the null device as standard input, and our
// environment and current directory; both outputs are read to their end together, so that
// neither can block the other.
// Nothing when the tool is not found, cannot start, a read or the wait fails, its exit status
// cannot be read (on Linux: it ended by a signal), or `limit` has passed: the tool is then
// ended at once.
[[nodiscard]] std::optional<ToolRun> run_tool(std::string_view program_file_name, std::span<const std::string> args,
                                              std::chrono::milliseconds limit);

}  // namespace zorvia::platform
