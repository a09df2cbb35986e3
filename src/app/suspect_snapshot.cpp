#include "app/suspect_snapshot.h"

#include "lifecycle/suspects.h"
#include "platform/process_table.h"

namespace zorvia::app {

std::vector<std::string> snapshot_suspects(std::uint32_t own_pid) {
  const std::vector<lifecycle::ProcessEntry> table = platform::snapshot_processes();
  std::vector<std::string> suspects = lifecycle::collect_suspects(table, own_pid);
  lifecycle::sort_and_cut_suspects(suspects);
  return suspects;
}

}  // namespace zorvia::app
