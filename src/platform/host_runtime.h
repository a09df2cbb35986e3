#pragma once
// The host's runtime: the relay's two worker threads, started before any pipe is opened.

#include <expected>
#include <memory>

#include "host/runtime.h"
#include "io/streams.h"

namespace zorvia::platform {

// The error of the thread start that failed.
[[nodiscard]] std::expected<std::unique_ptr<host::Runtime>, io::OsError> build_host_runtime();

}  // namespace zorvia::platform
