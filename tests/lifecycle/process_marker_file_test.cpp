#include "app/process_marker_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/child_process.h"

namespace zorvia::app {
namespace {

namespace fs = std::filesystem;

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string marker_text(const std::string& session_id, bool clean_exit) {
  return R"({"session_id":")" + session_id +
         R"(","pid":1,"started_at":"t","version":"v","executable":"e","debug_build":false,"e2e":false,)"
         R"("clean_exit":)" + (clean_exit ? "true" : "false") + "}\r\n";
}

// Each read sees the file as it is at that read, and the reader never changes it.
TEST(ProcessMarkerFile, EveryReadSeesTheFileAfresh) {
  const std::string dir_text = testing::make_temp_directory("marker-file");
  const fs::path dir(std::u8string(dir_text.begin(), dir_text.end()));
  const fs::path path = dir / "marker.json";

  EXPECT_FALSE(read_process_marker(path.native()));

  write_file(path, marker_text("run-1", false));
  const auto first = read_process_marker(path.native());
  ASSERT_TRUE(first);
  EXPECT_EQ(first->session_id, "run-1");
  EXPECT_FALSE(first->clean_exit);

  write_file(path, marker_text("run-1", true));
  const auto second = read_process_marker(path.native());
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->clean_exit);
  EXPECT_TRUE(fs::exists(path));

  // Caught half-written: no marker.
  const std::string whole = marker_text("run-2", true);
  write_file(path, whole.substr(0, whole.size() / 2));
  EXPECT_FALSE(read_process_marker(path.native()));

  fs::remove(path);
  EXPECT_FALSE(read_process_marker(path.native()));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zorvia::app
