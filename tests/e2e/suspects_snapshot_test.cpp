// The suspects list from the real process table: copies of a sleeping program under
// suspect and harmless names are found, or not, with their real ids.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/suspect_snapshot.h"
#include "platform/watched_process.h"
#include "support/child_process.h"

namespace zorvia {
namespace {

using testing::Child;
using testing::join_path;
using testing::make_temp_directory;
using testing::sibling_program;

std::uint32_t entry_pid(const std::string& entry) {
  return static_cast<std::uint32_t>(std::stoul(entry.substr(entry.rfind(':') + 1)));
}

TEST(SuspectsSnapshot, FindsOurSuspectsWithTheirIds) {
  struct Copy {
    std::string file;
    std::string entry_name;  // empty: not a suspect
  };
  const Copy copies[] = {
      {"MySetup64.exe", "mysetup64.exe"},
      {"uninstall.exe", "uninstall.exe"},
      // Longer than the 15 bytes the Linux task name keeps.
      {"InstallerForZorviaUpdates.exe", "installerforzorviaupdates.exe"},
      {"worker.exe", ""},
  };
  const std::string dir = make_temp_directory("suspects");
  {
    std::vector<std::unique_ptr<Child>> children;
    std::set<std::uint32_t> ours;
    std::vector<std::string> expected;
    for (const Copy& copy : copies) {
      const std::string path = join_path(dir, copy.file);
      std::filesystem::copy_file(sibling_program("sleeper"), path);
      auto child = std::make_unique<Child>(path, std::vector<std::string>{"60000"});
      ASSERT_TRUE(child->started()) << copy.file;
      // Once it speaks it runs under its own name, not its starter's.
      ASSERT_TRUE(child->wait_for_output(5, std::chrono::seconds(30))) << copy.file;
      ours.insert(child->pid());
      if (!copy.entry_name.empty()) expected.push_back(copy.entry_name + ":" + std::to_string(child->pid()));
      children.push_back(std::move(child));
    }
    std::ranges::sort(expected);

    const std::vector<std::string> all = app::snapshot_suspects(platform::current_process_id());
    EXPECT_LE(all.size(), 8u);
    EXPECT_TRUE(std::ranges::is_sorted(all));
    std::vector<std::string> found;
    std::ranges::copy_if(all, std::back_inserter(found), [&](const std::string& e) { return ours.contains(entry_pid(e)); });
    EXPECT_EQ(found, expected) << "all suspects: " << ::testing::PrintToString(all);

    // Our own id is left out: the first of them is "us" here.
    const std::uint32_t first = children.front()->pid();
    const std::vector<std::string> without_first = app::snapshot_suspects(first);
    EXPECT_TRUE(std::ranges::none_of(without_first, [&](const std::string& e) { return entry_pid(e) == first; }));
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

}  // namespace
}  // namespace zorvia
