#pragma once
// An operating-system error code as the system reports it (GetLastError, errno): what every
// failed call of the platform layer gives the core.

#include <cstdint>

namespace zorvia::io {

struct OsError {
  std::int32_t code = 0;
  friend bool operator==(OsError, OsError) = default;
};

}  // namespace zorvia::io
