#include "platform/process_table.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/watched_process.h"

namespace zorvia::platform {
namespace {

// This program's name is longer than the 15 bytes the Linux task name keeps, so the whole
// name can only come from the first argument there.
TEST(ProcessTable, HoldsThisProcessUnderItsImageName) {
#ifdef _WIN32
  constexpr std::string_view kOwnName = "process_table_test.exe";
#else
  constexpr std::string_view kOwnName = "process_table_test";
#endif
  const auto table = snapshot_processes();
  const auto own = std::ranges::find(table, platform::current_process_id(), &lifecycle::ProcessEntry::pid);
  ASSERT_NE(own, table.end());
  EXPECT_EQ(own->name, kOwnName);
  EXPECT_EQ(std::ranges::count(table, platform::current_process_id(), &lifecycle::ProcessEntry::pid), 1);
  EXPECT_GT(table.size(), 1u);
}

}  // namespace
}  // namespace zorvia::platform
