#include "platform/process_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/scoped_native.h"
#include "text/unicode.h"

namespace zorvia::platform {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

std::optional<std::uint32_t> parse_pid(std::string_view entry) {
  if (entry.empty() || entry.front() < '1' || entry.front() > '9') return std::nullopt;
  std::uint32_t pid = 0;
  const auto [end, error] = std::from_chars(entry.data(), entry.data() + entry.size(), pid);
  if (error != std::errc{} || end != entry.data() + entry.size()) return std::nullopt;
  return pid;
}

// Reads a /proc file until its end or the first `stop` byte (kept out of the result);
// nothing when it cannot be read, as when the process has ended meanwhile.
std::optional<std::string> read_proc_file(const std::string& path, char stop) {
  const ScopedHandle fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (got == 0) return text;
    const std::string_view chunk(buffer, static_cast<std::size_t>(got));
    if (const auto at = chunk.find(stop); at != std::string_view::npos) {
      text.append(chunk.substr(0, at));
      return text;
    }
    text.append(chunk);
  }
}

// The task name is cut at 15 bytes; the first argument's base name, when it begins with
// it, is the whole name the program was started by.
std::optional<std::string> process_name(const std::string& dir) {
  const auto task = read_proc_file(dir + "/comm", '\n');
  if (!task) return std::nullopt;
  const auto first_argument = read_proc_file(dir + "/cmdline", '\0');
  if (!first_argument) return std::nullopt;
  const std::string_view argument(*first_argument);
  const auto slash = argument.rfind('/');
  const std::string_view base = slash == std::string_view::npos ? argument : argument.substr(slash + 1);
  return text::utf8_lossy(base.starts_with(*task) ? base : std::string_view(*task));
}

}  // namespace

std::vector<lifecycle::ProcessEntry> snapshot_processes() {
  const std::unique_ptr<DIR, DirCloser> proc(::opendir("/proc"));
  if (!proc) return {};
  std::vector<lifecycle::ProcessEntry> table;
  while (const dirent* entry = ::readdir(proc.get())) {
    const auto pid = parse_pid(entry->d_name);
    if (!pid) continue;
    auto name = process_name("/proc/" + std::string(entry->d_name));
    if (!name) continue;
    table.push_back({*pid, std::move(*name)});
  }
  return table;
}

}  // namespace zorvia::platform
