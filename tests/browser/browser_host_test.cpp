// The host as the browser runs it: headless Chromium loads a test extension whose service
// worker talks to zorvia-host through chrome.runtime.connectNative, with the stand-in desktop
// application behind the host. Results come back through a second native host that writes
// the extension's reports to a file.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/host_program.h"
#include "support/stand_in.h"

extern char** environ;

namespace zorvia {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using testing::StandInApp;

constexpr const char* kBrowser = "/usr/lib/chromium/chromium";
// The extension's id follows from the public key in its manifest.
constexpr const char* kExtensionId = "dnfcpjjabeojkphcolpabcmkfeefldej";

std::int64_t epoch_ms() {
  return std::chrono::duration_cast<milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<json> read_reports(const fs::path& path) {
  std::vector<json> reports;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) reports.push_back(json::parse(line, nullptr, /*allow_exceptions=*/false));
  }
  return reports;
}

// Live processes of one session, found through /proc.
std::set<pid_t> session_processes(pid_t session) {
  std::set<pid_t> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(text.substr(close + 2));
    std::string state;
    long ppid = 0, pgrp = 0, sid = 0;
    fields >> state >> ppid >> pgrp >> sid;
    if (sid != session || state == "Z") continue;
    found.insert(static_cast<pid_t>(std::stol(name)));
  }
  return found;
}

struct BrowserRun {
  std::vector<json> reports;
  bool left_behind = false;
};

class BrowserHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kBrowser, X_OK) != 0) GTEST_SKIP() << "Chromium is not installed";
    dir_ = testing::make_temp_directory("browser");
    host_ = testing::host_program();
  }
  void TearDown() override {
    if (!dir_.empty() && !::testing::Test::HasFailure()) fs::remove_all(dir_);
  }

  // Lays out the extension with its plan, the two host manifests and the reporter's wrapper.
  void prepare(const json& plan) {
    const fs::path ext = fs::path(dir_) / "extension";
    fs::create_directories(ext);
    fs::copy(ZORVIA_TEST_EXTENSION_DIR, ext, fs::copy_options::recursive);
    write_file(ext / "plan.js", "const PLAN = " + plan.dump() + ";\n");

    const fs::path hosts = fs::path(dir_) / "profile" / "NativeMessagingHosts";
    fs::create_directories(hosts);
    fs::create_directories(fs::path(dir_) / "home");
    const std::string origin = std::string("chrome-extension://") + kExtensionId + "/";
    const fs::path reporter = fs::path(dir_) / "reporter.sh";
    write_file(reporter, "#!/bin/sh\nexec '" + testing::sibling_program("browser_reporter") + "' '" +
                             (fs::path(dir_) / "report.jsonl").string() + "'\n");
    fs::permissions(reporter, fs::perms::owner_all);
    const auto manifest = [&](const std::string& name, const std::string& path) {
      write_file(hosts / (name + ".json"), json{{"name", name},
                                                {"description", "test"},
                                                {"path", path},
                                                {"type", "stdio"},
                                                {"allowed_origins", {origin}}}
                                               .dump());
    };
    manifest("com.zorvia.host", host_);
    manifest("com.zorvia.test_reporter", reporter.string());
  }

  // Starts the browser in a session of its own, waits for the case's final report (and,
  // after it, `linger` more, calling `on_poll` every few milliseconds), then ends exactly
  // that session.
  BrowserRun run_browser(milliseconds linger, const std::function<void()>& on_poll = [] {}) {
    const fs::path root(dir_);
    std::vector<std::string> args = {kBrowser,
                                     "--headless=new",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-quic",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--disable-default-apps",
                                     "--no-default-browser-check",
                                     "--password-store=basic",
                                     // Without it the browser looks up outside hosts.
                                     "--host-resolver-rules=MAP * ~NOTFOUND",
                                     "--user-data-dir=" + (root / "profile").string(),
                                     "--load-extension=" + (root / "extension").string(),
                                     "--disable-extensions-except=" + (root / "extension").string(),
                                     "--enable-logging=stderr",
                                     "--v=0",
                                     "about:blank"};
    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string_view entry(*e);
      if (entry.starts_with("HOME=") || entry.starts_with("TMPDIR=")) continue;
      env_strings.emplace_back(entry);
    }
    env_strings.push_back("HOME=" + (root / "home").string());
    env_strings.push_back("TMPDIR=" + (root / "home").string());
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env_strings) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const std::string log = (root / "browser.log").string();
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t browser = -1;
    const int spawned = ::posix_spawn(&browser, kBrowser, &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    BrowserRun run;
    if (spawned != 0) {
      ADD_FAILURE() << "cannot start " << kBrowser;
      return run;
    }

    const fs::path report = root / "report.jsonl";
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    std::optional<Clock::time_point> done_at;
    while (Clock::now() < deadline) {
      on_poll();
      if (!done_at) {
        for (const auto& r : read_reports(report))
          if (r.value("done", false)) done_at = Clock::now();
      }
      if (done_at && Clock::now() - *done_at >= linger) break;
      std::this_thread::sleep_for(milliseconds(10));
    }
    run.reports = read_reports(report);

    // End the browser's whole session: the browser, its helpers and any native host.
    ::kill(-browser, SIGTERM);
    const auto stop_deadline = Clock::now() + std::chrono::seconds(5);
    while (!session_processes(browser).empty() && Clock::now() < stop_deadline)
      std::this_thread::sleep_for(milliseconds(20));
    if (!session_processes(browser).empty()) ::kill(-browser, SIGKILL);
    int status = 0;
    ::waitpid(browser, &status, 0);
    std::this_thread::sleep_for(milliseconds(100));
    run.left_behind = !session_processes(browser).empty();
    if (run.left_behind) ::kill(-browser, SIGKILL);
    return run;
  }

  static std::optional<json> find(const std::vector<json>& reports, const std::string& key) {
    for (const auto& r : reports)
      if (r.contains(key)) return r;
    return std::nullopt;
  }

  static void print(const std::string& title, const BrowserRun& run) {
    std::cout << "[" << title << "] the extension saw:\n";
    for (const auto& r : run.reports) {
      std::string line = r.dump();
      if (line.size() > 300) line = line.substr(0, 300) + "...";
      std::cout << "  " << line << "\n";
    }
  }

  std::string dir_;
  std::string host_;
};

TEST_F(BrowserHostTest, MessagesRoundTripUnchanged) {
  StandInApp app({"echo"});
  ASSERT_TRUE(app.ready());
  constexpr int kBigLength = 1'048'576 - 64;  // a reply of just under 1 MiB
  prepare({{"case", "round_trip"}, {"bigLength", kBigLength}});
  const auto run = run_browser(milliseconds(0));
  print("round trip", run);
  const auto done = find(run.reports, "done");
  ASSERT_TRUE(done) << "no final report";
  EXPECT_EQ((*done)["how"], "all echoed");
  int same = 0;
  for (const auto& r : run.reports)
    if (r.contains("echo")) same += r["same"].get<bool>() ? 1 : 0;
  EXPECT_EQ(same, 3) << "every message comes back exactly as sent";
  EXPECT_EQ((*done)["received"][0], json({{"hello", "world"}}));
  EXPECT_EQ((*done)["received"][2]["bigLength"], kBigLength);
  EXPECT_FALSE(run.left_behind);
}

TEST_F(BrowserHostTest, ApplicationNotRunningGivesTheHostErrorThenTheEnd) {
  prepare({{"case", "no_application"}});
  const auto run = run_browser(milliseconds(0));
  print("no application", run);
  const auto done = find(run.reports, "done");
  ASSERT_TRUE(done);
  ASSERT_EQ((*done)["received"].size(), 1u);
  const json event = (*done)["received"][0];
  EXPECT_EQ(event["event"], "host_error");
  const std::string error = event["error"];
  EXPECT_TRUE(error.starts_with("ЗОРВИЯ не запущена (")) << error;
  EXPECT_TRUE(error.ends_with("). Откройте приложение и попробуйте снова.")) << error;
  const auto disconnected = find(run.reports, "disconnected");
  ASSERT_TRUE(disconnected);
  EXPECT_EQ((*disconnected)["error"], "Native host has exited.");
  EXPECT_FALSE(run.left_behind);
}

TEST_F(BrowserHostTest, ApplicationClosingItsEndDisconnectsThePortAtOnce) {
  StandInApp app({"accept-and-close"});
  ASSERT_TRUE(app.ready());
  prepare({{"case", "application_closes"}});
  const auto run = run_browser(milliseconds(0));
  print("application closes", run);
  const auto done = find(run.reports, "done");
  ASSERT_TRUE(done);
  EXPECT_TRUE((*done)["received"].empty());
  const auto disconnected = find(run.reports, "disconnected");
  ASSERT_TRUE(disconnected);
  const auto took = (*disconnected)["at"].get<std::int64_t>() - (*done)["connectedAt"].get<std::int64_t>();
  std::cout << "  the port ended " << took << " ms after connecting\n";
  // The host must end by itself, without waiting for more input from the extension; a
  // browser only ends a host on its own when the extension goes away.
  EXPECT_LT(took, 1000);
  EXPECT_FALSE(run.left_behind);
}

TEST_F(BrowserHostTest, ExtensionDisconnectingEndsTheHostAtOnce) {
  StandInApp app({"echo"});
  ASSERT_TRUE(app.ready());
  prepare({{"case", "extension_disconnects"}});
  // The host's end closes its pipe, which the application reports. Chromium kills a host
  // that is still running about two seconds after the port closed: watch for longer.
  std::optional<std::int64_t> pipe_closed_at;
  const auto run = run_browser(milliseconds(3000), [&] {
    if (!pipe_closed_at && app.report().find("closed ") != std::string::npos) pipe_closed_at = epoch_ms();
  });
  print("extension disconnects", run);
  const auto ours = find(run.reports, "disconnectedByUs");
  ASSERT_TRUE(ours);
  ASSERT_TRUE(pipe_closed_at) << "the host never closed its pipe";
  const auto lived = *pipe_closed_at - (*ours)["at"].get<std::int64_t>();
  std::cout << "  the host closed its pipe " << lived << " ms after the extension disconnected\n";
  EXPECT_LT(lived, 1000) << "the host ends by itself at the end of its input";
  EXPECT_FALSE(run.left_behind);
}

}  // namespace
}  // namespace zorvia
