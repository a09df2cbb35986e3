#pragma once
// The host's runtime: the relay's two worker threads, started before any pipe is opened.

#include <expected>
#include <memory>

#include "host/runtime.h"
#include "io/os_error.h"

namespace zorvia::app {

// The error of the thread start that failed.
[[nodiscard]] std::expected<std::unique_ptr<host::Runtime>, io::OsError> build_host_runtime();

}  // namespace zorvia::app
