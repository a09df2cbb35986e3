#include "platform/linux/spawn.h"

#include <fcntl.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace zorvia::platform::posix {

std::optional<Pipe> make_pipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  return Pipe{ScopedHandle(ends[0]), ScopedHandle(ends[1])};
}

SpawnActions::SpawnActions() {
  initialised_ = ::posix_spawn_file_actions_init(&actions_) == 0;
  ok_ = initialised_;
}

SpawnActions::~SpawnActions() {
  if (initialised_) ::posix_spawn_file_actions_destroy(&actions_);
}

SpawnActions& SpawnActions::open(int fd, const char* path, int flags) {
  ok_ = ok_ && ::posix_spawn_file_actions_addopen(&actions_, fd, path, flags, 0) == 0;
  return *this;
}

SpawnActions& SpawnActions::dup2(int from, int to) {
  ok_ = ok_ && ::posix_spawn_file_actions_adddup2(&actions_, from, to) == 0;
  return *this;
}

SpawnActions& SpawnActions::close(int fd) {
  ok_ = ok_ && ::posix_spawn_file_actions_addclose(&actions_, fd) == 0;
  return *this;
}

std::optional<pid_t> spawn(const std::string& path, std::span<const std::string> args, const SpawnActions& actions) {
  if (!actions.ok()) return std::nullopt;
  std::vector<std::string> texts;
  texts.reserve(args.size() + 1);
  texts.push_back(path);
  texts.insert(texts.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(texts.size() + 1);
  for (auto& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, path.c_str(), actions.get(), nullptr, argv.data(), environ) != 0) return std::nullopt;
  return pid;
}

}  // namespace zorvia::platform::posix
