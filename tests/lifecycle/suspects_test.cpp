#include "lifecycle/suspects.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/unicode.h"

namespace zorvia::lifecycle {
namespace {

TEST(SuspectEntry, NamesThatMakeASuspect) {
  struct Case {
    std::uint32_t pid;
    std::string_view name;
    std::optional<std::string_view> entry;
  };
  static constexpr Case kCases[] = {
      {4312, "MsiExec.EXE", "msiexec.exe:4312"},
      {1, "wmic.exe", "wmic.exe:1"},
      {4294967295, "TASKKILL.EXE", "taskkill.exe:4294967295"},
      {77, "uninstall.exe", "uninstall.exe:77"},
      {10, "mysetup64.exe", "mysetup64.exe:10"},
      {11, "installer.exe", "installer.exe:11"},
      {12, "MyZORVIAHelper.exe", "myzorviahelper.exe:12"},
      {13, "\xd0\x97\xd0\x9e\xd0\xa0\xd0\x92\xd0\x98\xd0\xaf-Setup.exe",  // ЗОРВИЯ-Setup.exe
       "\xd0\xb7\xd0\xbe\xd1\x80\xd0\xb2\xd0\xb8\xd1\x8f-setup.exe:13"},
      // Full mapping: U+0130 becomes two code points, so "İNSTALL" holds no "install".
      {14, "\xc4\xb0NSTALL.exe", std::nullopt},
      {15, "\xc4\xb0" "Setup.exe", "i\xcc\x87setup.exe:15"},
      // Capital sigma: final before a blank, not before ".exe" (a cased letter follows).
      {16, "SETUP \xce\x9f\xce\xa3 \xce\x9f\xce\xa3.EXE", "setup \xce\xbf\xcf\x82 \xce\xbf\xcf\x83.exe:16"},
      {0, "setup.exe", "setup.exe:0"},
      // Not one of the four names, and none of the three words.
      {20, "wmic.exe.old", std::nullopt},
      {21, "wmic", std::nullopt},
      {22, "task-kill.exe", std::nullopt},
      {23, "msiexec", std::nullopt},
      {24, " msiexec.exe", std::nullopt},
      {25, "set-up.exe", std::nullopt},
      {26, "explorer.exe", std::nullopt},
      {27, "", std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.name)));
    const auto entry = suspect_entry(c.pid, c.name);
    if (c.entry) {
      EXPECT_EQ(entry, std::string(*c.entry));
    } else {
      EXPECT_EQ(entry, std::nullopt);
    }
  }
}

TEST(SuspectEntry, UnpairedSurrogateShowsReplacementCharacter) {
  const std::u16string image{u'S', u'e', u't', u'u', u'p', char16_t(0xDC01), u'.', u'e', u'x', u'e'};
  EXPECT_EQ(suspect_entry(5, text::utf16_to_utf8_lossy(image)), "setup\xef\xbf\xbd.exe:5");
}

TEST(CollectSuspects, OwnIdLeftOutOthersOfTheSameNameKept) {
  const std::vector<ProcessEntry> table = {
      {500, "zorvia-host.exe"}, {4, "System"},        {501, "zorvia-host.exe"},
      {9, "setup.exe"},         {10, "notepad.exe"},  {0, "[System Process]"},
  };
  EXPECT_EQ(collect_suspects(table, 500), (std::vector<std::string>{"zorvia-host.exe:501", "setup.exe:9"}));
  EXPECT_EQ(collect_suspects(table, 501), (std::vector<std::string>{"zorvia-host.exe:500", "setup.exe:9"}));
  EXPECT_EQ(collect_suspects({}, 1), std::vector<std::string>{});
}

TEST(SortAndCutSuspects, ByteOrderThenEightSmallest) {
  struct Case {
    const char* what;
    std::vector<std::string> in;
    std::vector<std::string> out;
  };
  const Case cases[] = {
      {"none", {}, {}},
      {"ids compare as text", {"setup.exe:20", "setup.exe:100"}, {"setup.exe:100", "setup.exe:20"}},
      {"a prefix first, then by unsigned bytes",
       {"\xd0\xb7setup.exe:1", "setup.exe:10", "setup.exe64:1", "setup.exe:1"},
       {"setup.exe64:1", "setup.exe:1", "setup.exe:10", "\xd0\xb7setup.exe:1"}},
      {"more than eight: the eight smallest, not the first found",
       {"zorvia.exe:9", "setup.exe:8", "setup.exe:7", "setup.exe:6", "setup.exe:5", "setup.exe:4", "setup.exe:3",
        "setup.exe:2", "setup.exe:1", "installer.exe:10"},
       {"installer.exe:10", "setup.exe:1", "setup.exe:2", "setup.exe:3", "setup.exe:4", "setup.exe:5", "setup.exe:6",
        "setup.exe:7"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto list = c.in;
    sort_and_cut_suspects(list);
    EXPECT_EQ(list, c.out);
  }
}

}  // namespace
}  // namespace zorvia::lifecycle
