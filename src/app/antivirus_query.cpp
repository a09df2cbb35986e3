#include "app/antivirus_query.h"

#include "platform/tool_process.h"

namespace zorvia::app {

std::optional<lifecycle::AntivirusHit> query_antivirus_hit(std::string_view executable,
                                                           std::chrono::milliseconds limit) {
  const auto args = lifecycle::defender_query_arguments();
  const auto run = platform::run_tool(lifecycle::kDefenderTool, args, limit);
  // A failed query looks exactly like one that found nothing; standard error is never read.
  if (!run || run->exit_status != 0) return std::nullopt;
  return lifecycle::scan_defender_output(run->out, executable);
}

}  // namespace zorvia::app
