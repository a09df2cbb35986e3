// The Defender step end to end: the probe and a fake "wevtutil.exe" side by side in a fresh
// directory, so that the step finds the fake first and no other test ever sees it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace zorvia {
namespace {

std::filesystem::path fs_path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

constexpr const char* kMyApp = R"(C:\Builds\My App\MyApp.exe)";

const std::string kMatchingXml =
    "<Events><Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><EventID>1117</EventID>"
    "</System><EventData><Data Name='Threat Name'>Trojan:Win32/Wacatac.B!ml</Data>"
    "<Data Name='Action Name'>Quarantine</Data><Data Name='Path'>file:_C:\\Builds\\My App\\MYAPP.EXE</Data>"
    "</EventData></Event></Events>\r\n";
const std::string kHitJson =
    R"({"action":"Quarantine","path":"file:_C:\\Builds\\My App\\MYAPP.EXE","threat":"Trojan:Win32/Wacatac.B!ml"})";

class AntivirusQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::make_temp_directory("antivirus");
#ifdef _WIN32
    const std::string exe = ".exe";
#else
    const std::string exe = "";
#endif
    probe_ = testing::join_path(dir_, "antivirus_probe" + exe);
    std::filesystem::copy_file(fs_path(testing::sibling_program("antivirus_probe")), fs_path(probe_));
    // The same name on both builds: the step asks for "wevtutil.exe".
    std::filesystem::copy_file(fs_path(testing::sibling_program("fake_wevtutil")),
                               fs_path(testing::join_path(dir_, "wevtutil.exe")));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(fs_path(dir_), ignored);
  }

  void write(const std::string& name, const std::string& content) {
    std::ofstream(fs_path(testing::join_path(dir_, name)), std::ios::binary) << content;
  }
  std::string read(const std::string& name) {
    std::ifstream in(fs_path(testing::join_path(dir_, name)), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }
  // The probe's output, or a failure when it did not end on its own.
  std::string probe(const std::string& executable, const std::string& limit_ms = "2000") {
    const auto result = testing::run_child(probe_, {executable, limit_ms}, {}, {}, std::chrono::seconds(60));
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_EQ(result.err, "");
    return result.out;
  }

  std::string dir_;
  std::string probe_;
};

TEST_F(AntivirusQuery, AHitFromTheToolsOutput) {
  write("fake_wevtutil.xml", kMatchingXml);
  EXPECT_EQ(probe(kMyApp), kHitJson);
  // Each of the seven arguments reaches the tool whole, blanks and all.
  const std::string expected_args[] = {
      "qe",
      "Microsoft-Windows-Windows Defender/Operational",
      "/q:*[System[(EventID=1116 or EventID=1117) and TimeCreated[timediff(@SystemTime) <= 120000]]]",
      "/c:8",
      "/rd:true",
      "/e:Events",
      "/f:xml",
  };
  std::string joined;
  for (const auto& arg : expected_args) joined += arg + std::string(1, '\0');
  EXPECT_EQ(read("fake_wevtutil.argv"), joined);
}

TEST_F(AntivirusQuery, NothingWhenTheToolFailsOrFindsNothing) {
  struct Case {
    const char* what;
    std::string conf;
    std::string xml;
  };
  const Case cases[] = {
      {"exit status 1, output ignored", "status 1\n", kMatchingXml},
      {"exit status 0, empty root", "status 0\n", "<Events></Events>\r\n"},
      {"exit status 0, no output", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    write("fake_wevtutil.conf", c.conf);
    write("fake_wevtutil.xml", c.xml);
    EXPECT_EQ(probe(kMyApp), "null");
  }
}

TEST_F(AntivirusQuery, AHangingToolIsEndedByTheLimit) {
  write("fake_wevtutil.conf", "hang\n");
  write("fake_wevtutil.xml", kMatchingXml);
  EXPECT_EQ(probe(kMyApp, "2000"), "null");
}

TEST_F(AntivirusQuery, AFloodOnStandardErrorDoesNotBlock) {
  write("fake_wevtutil.conf", "stderr_bytes 8388608\n");
  write("fake_wevtutil.xml", kMatchingXml);
  EXPECT_EQ(probe(kMyApp, "30000"), kHitJson);
}

}  // namespace
}  // namespace zorvia
