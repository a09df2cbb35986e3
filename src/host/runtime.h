#pragma once
// The machinery that carries the relay: two workers, one per direction. The host builds it
// before it opens any pipe, so that a failure to build it is a start-up failure.

#include <cstddef>
#include <functional>

namespace zorvia::host {

class Runtime {
 public:
  virtual ~Runtime() = default;
  // Starts `job` on worker `index` (0 or 1). Each worker carries one job in its life.
  virtual void start(std::size_t index, std::function<void()> job) = 0;
  // Waits until the jobs of both workers have returned.
  virtual void join() = 0;
};

}  // namespace zorvia::host
