#include "host/connect.h"

namespace zorvia::host {

std::expected<std::unique_ptr<PipeClient>, io::OsError> connect_pipe(std::string_view name, const PipeOpen& open,
                                                                     const Sleep& sleep) {
  std::uint32_t attempts = 0;
  for (;;) {
    auto opened = open(name);
    if (opened) return std::move(*opened);
    if (!opened.error().busy || attempts >= kBusyRetryLimit) return std::unexpected(opened.error().error);
    ++attempts;
    sleep(kBusyRetryDelay);
  }
}

}  // namespace zorvia::host
