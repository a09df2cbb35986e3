#pragma once
// Starting a program with posix_spawn: the pipes for its standard streams, the file actions
// that put them in place, and the start itself. The tool runner and the tests' child
// processes start programs alike.

#include <spawn.h>
#include <sys/types.h>

#include <optional>
#include <span>
#include <string>

#include "platform/scoped_native.h"

namespace zorvia::platform::posix {

struct Pipe {
  ScopedHandle read_end;
  ScopedHandle write_end;
};

// Both ends close-on-exec: only the copies that file actions put on 0, 1 or 2 reach a
// program. Nothing when the system has no descriptors or pipes to spare.
[[nodiscard]] std::optional<Pipe> make_pipe();

// posix_spawn's file actions, carried out in the new process, in order, before its program
// starts. Once one step cannot be recorded the rest are left out and ok() is false: a
// program must never start with only some of its streams in place.
class SpawnActions {
 public:
  SpawnActions();
  ~SpawnActions();
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;

  SpawnActions& open(int fd, const char* path, int flags);
  SpawnActions& dup2(int from, int to);
  SpawnActions& close(int fd);

  [[nodiscard]] bool ok() const { return ok_; }
  [[nodiscard]] const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
  bool initialised_ = false;
  bool ok_ = false;
};

// Starts the program at `path` with `path` as its first argument, then `args`, our
// environment and `actions` (which must be ok). Its process id, or nothing when it could
// not be started.
[[nodiscard]] std::optional<pid_t> spawn(const std::string& path, std::span<const std::string> args,
                                         const SpawnActions& actions);

}  // namespace zorvia::platform::posix
