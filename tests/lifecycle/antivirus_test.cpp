#include "lifecycle/antivirus.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>
#include <string>

namespace zorvia::lifecycle {

void PrintTo(const AntivirusHit& hit, std::ostream* os) {
  *os << "{threat: " << ::testing::PrintToString(hit.threat) << ", action: " << ::testing::PrintToString(hit.action)
      << ", path: " << ::testing::PrintToString(hit.path) << "}";
}

namespace {

std::string data(std::string_view name, std::string_view value) {
  return "<Data Name='" + std::string(name) + "'>" + std::string(value) + "</Data>";
}
std::string quoted_data(std::string_view name, std::string_view value) {
  return "<Data Name=\"" + std::string(name) + "\">" + std::string(value) + "</Data>";
}

// One event as wevtutil writes it, with the given Data elements.
std::string event(std::initializer_list<std::string> items) {
  std::string text =
      "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider "
      "Name='Microsoft-Windows-Windows Defender'/><EventID>1116</EventID></System><EventData>";
  for (const auto& item : items) text += item;
  return text + "</EventData></Event>";
}

std::string events(std::initializer_list<std::string> items) {
  std::string text = "<Events>";
  for (const auto& item : items) text += item;
  return text + "</Events>";
}

std::string repeated(std::string_view piece, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += piece;
  return s;
}

const std::string kMyApp = R"(C:\Builds\MyApp.exe)";
const std::string kCyrillic300 = repeated("Ж", 300);
const std::string kCyrillic240 = repeated("Ж", 240);

struct Case {
  std::string what;
  std::string executable;
  std::string output;
  std::optional<AntivirusHit> hit;
};

const Case kScanCases[] = {
    {"empty output", kMyApp, "", std::nullopt},
    {"only the empty root", kMyApp, "<Events></Events>", std::nullopt},
    {"empty root, self-closing", kMyApp, "<Events/>\r\n", std::nullopt},
    {"a Path before the first event is not examined", kMyApp,
     "<Events>" + data("Path", kMyApp) + data("Threat Name", "Early") +
         event({data("Path", R"(D:\other.exe)"), data("Threat Name", "Other")}) + "</Events>",
     std::nullopt},
    {"no event marker at all", kMyApp, data("Path", kMyApp) + data("Threat Name", "X"), std::nullopt},
    {"name needle across directories and letter case", kMyApp,
     events({event({data("Threat Name", "Trojan:Win32/Wacatac.B!ml"), data("Action Name", "Quarantine"),
                    data("Path", R"(file:_D:\Other\MYAPP.EXE)")})}),
     AntivirusHit{"Trojan:Win32/Wacatac.B!ml", "Quarantine", R"(file:_D:\Other\MYAPP.EXE)"}},
    {"name needle is a plain substring", R"(C:\x\app.exe)",
     events({event({data("Path", R"(D:\y\myapp.exe)"), data("Threat Name", "T")})}),
     AntivirusHit{"T", std::nullopt, R"(D:\y\myapp.exe)"}},
    {"an event not naming the program is passed over", kMyApp,
     events({event({data("Path", R"(D:\other.exe)"), data("Threat Name", "Wrong")}),
             event({data("Path", R"(E:\myapp.exe)"), data("Threat Name", "Right")})}),
     AntivirusHit{"Right", std::nullopt, R"(E:\myapp.exe)"}},
    {"the first matching event decides", kMyApp,
     events({event({data("Path", kMyApp), data("Threat Name", "Newest")}),
             event({data("Path", kMyApp), data("Threat Name", "Older")})}),
     AntivirusHit{"Newest", std::nullopt, kMyApp}},
    {"the first matching event decides even without a threat", kMyApp,
     events({event({data("Path", kMyApp), data("Action Name", "Quarantine")}),
             event({data("Path", kMyApp), data("Threat Name", "Older")})}),
     std::nullopt},
    {"a white-space threat is no threat", kMyApp,
     events({event({data("Path", kMyApp), data("Threat Name", " \r\n ")}),
             event({data("Path", kMyApp), data("Threat Name", "Older")})}),
     std::nullopt},
    {"full needle without a Path element", kMyApp,
     events({event({data("Threat Name", "T"), data("Process Name", R"(c:\builds\MYAPP.exe)")})}),
     AntivirusHit{"T", std::nullopt, std::nullopt}},
    {"full needle elsewhere, Path kept as it is", kMyApp,
     events({event({data("Path", R"(D:\unrelated.dll)"), data("Threat Name", "T"),
                    data("Process Name", R"(C:\BUILDS\MYAPP.EXE)")})}),
     AntivirusHit{"T", std::nullopt, R"(D:\unrelated.dll)"}},
    {"double-quoted Data names", kMyApp,
     events({event({quoted_data("Threat Name", "Q"), quoted_data("Action Name", "Remove"),
                    quoted_data("Path", kMyApp)})}),
     AntivirusHit{"Q", "Remove", kMyApp}},
    {"the apostrophe form wins even when it comes second", kMyApp,
     events({event({quoted_data("Threat Name", "Double"), quoted_data("Path", R"(D:\nothing)"), data("Path", kMyApp),
                    data("Threat Name", "Single")})}),
     AntivirusHit{"Single", std::nullopt, kMyApp}},
    {"values are trimmed of White_Space", kMyApp,
     events({event({data("Threat Name", "\r\n\t Trojan:Script/Foo \xc2\xa0"),
                    data("Action Name", "\xe3\x80\x80Quarantine\n"), data("Path", "  " + kMyApp + "\r\n")})}),
     AntivirusHit{"Trojan:Script/Foo", "Quarantine", kMyApp}},
    {"an empty action is absent", kMyApp,
     events({event({data("Path", kMyApp), data("Threat Name", "T"), data("Action Name", "")})}),
     AntivirusHit{"T", std::nullopt, kMyApp}},
    {"values are cut at 240 code points", kMyApp,
     events({event({data("Path", R"(C:\Builds\)" + kCyrillic300 + R"(\MyApp.exe)"), data("Threat Name", kCyrillic300),
                    data("Action Name", repeated("a", 300))})}),
     AntivirusHit{kCyrillic240, repeated("a", 240), (R"(C:\Builds\)" + kCyrillic300).substr(0, 10 + 230 * 2)}},
    {"an entity reference stays as written", R"(C:\A&B\MyApp.exe)",
     events({event({data("Path", R"(C:\A&amp;B\MyApp.exe)"), data("Threat Name", "T")})}),
     AntivirusHit{"T", std::nullopt, R"(C:\A&amp;B\MyApp.exe)"}},
    {"an escaped directory never matches through the full needle", R"(C:\A&B\MyApp.exe)",
     events({event({data("Threat Name", "T"), data("Process Name", R"(C:\A&amp;B\MyApp.exe)")})}),
     std::nullopt},
    {"a drive root matches any path on that drive", "C:\\",
     events({event({data("Path", R"(D:\a\..\other.exe)"), data("Threat Name", "Wrong")}),
             event({data("Path", R"(c:\Windows\x.exe)"), data("Threat Name", "Right")})}),
     AntivirusHit{"Right", std::nullopt, R"(c:\Windows\x.exe)"}},
    {"an empty executable matches the first event examined", "",
     events({event({data("Threat Name", "First")}), event({data("Path", kMyApp), data("Threat Name", "Second")})}),
     AntivirusHit{"First", std::nullopt, std::nullopt}},
    {"a data element without its end is absent", kMyApp,
     "<Events><Event >" + data("Path", kMyApp) + "<Data Name='Threat Name'>never closed",
     std::nullopt},
    {"data names are case-sensitive", kMyApp,
     events({event({data("Path", kMyApp), data("threat name", "lower"), data("Threat Name ", "blank")})}),
     std::nullopt},
    {"invalid UTF-8 in the output becomes U+FFFD", kMyApp,
     events({event({data("Path", "D:\\\xff\\MyApp.exe"), data("Threat Name", "T\xc3")})}),
     AntivirusHit{"T\xef\xbf\xbd", std::nullopt, "D:\\\xef\xbf\xbd\\MyApp.exe"}},
    {"full lower-casing: U+0130 becomes i and U+0307", "C:\\Builds\\\xc4\xb0NSTALL.exe",
     events({event({data("Path", R"(D:\other.exe)"), data("Threat Name", "Wrong")}),
             event({data("Path", "D:\\i\xcc\x87nstall.EXE"), data("Threat Name", "Right")})}),
     AntivirusHit{"Right", std::nullopt, "D:\\i\xcc\x87nstall.EXE"}},
};

TEST(DefenderScan, TheFirstEventNamingTheProgramDecides) {
  for (const auto& c : kScanCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(scan_defender_output(c.output, c.executable), c.hit);
  }
}

// The name needle is the executable's last component read as a Windows path. A decoy event
// comes first: it matches an empty or wrongly chosen needle, never the right one.
TEST(DefenderScan, TheNameNeedleFollowsWindowsPathRules) {
  struct NeedleCase {
    std::string_view executable;
    std::string_view target_path;  // holds the right needle, the decoy never does
  };
  static constexpr NeedleCase kCases[] = {
      {R"(C:\Tools\app.exe)", R"(E:\APP.EXE)"},
      {R"(C:\Tools\app.exe\)", R"(E:\APP.EXE)"},
      {R"(C:/Tools//app.exe/./)", R"(E:\App.exe)"},
      {R"(C:app.exe)", R"(E:\app.exe)"},
      {R"(app.exe)", R"(E:\app.exe)"},
      {R"(\\server\share\app.exe)", R"(E:\app.exe)"},
      {R"(//server/share/dir/app.exe)", R"(E:\app.exe)"},
      {R"(\\?\C:\Tools\app.exe)", R"(E:\app.exe)"},
      {R"(\\.\HarddiskVolume3\Tools\app.exe)", R"(E:\app.exe)"},
      // No last component: the whole text is the needle.
      {R"(\\server\share)", R"(\\SERVER\SHARE\tools\x.exe)"},
      {R"(\\server\share\)", R"(\\Server\Share\x.exe)"},
      {R"(C:\Tools\..)", R"(C:\TOOLS\..\app.exe)"},
      {R"(C:)", R"(C:\x.exe)"},
  };
  const std::string decoy = event({data("Path", R"(D:\a\..\share\server\tools\other.exe)"), data("Threat Name", "Decoy")});
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.executable));
    const auto output = events({decoy, event({data("Path", c.target_path), data("Threat Name", "Right")})});
    const auto hit = scan_defender_output(output, c.executable);
    ASSERT_TRUE(hit.has_value());
    EXPECT_EQ(hit->threat, "Right");
  }
}

TEST(DefenderScan, EventDataValueIsTrimmedInEitherQuoteForm) {
  const std::string text = event({data("Threat Name", "  T  "), quoted_data("Path", "P")});
  EXPECT_EQ(event_data_value(text, "Threat Name"), "T");
  EXPECT_EQ(event_data_value(text, "Path"), "P");
  EXPECT_EQ(event_data_value(text, "Action Name"), std::nullopt);
}

}  // namespace
}  // namespace zorvia::lifecycle
