#pragma once
// The stand-in desktop application (tests/fixtures/stand_in_app.cpp) for end-to-end tests:
// started with its mode's arguments, ready once it reports "listening".

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

namespace zorvia::testing {

// Waits until the child's standard output holds `text`.
inline bool wait_for_text(Child& child, const std::string& text,
                          std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (child.output().find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class StandInApp {
 public:
  // `program` and its leading arguments start the fixture (e.g. under another user).
  explicit StandInApp(const std::vector<std::string>& args, const std::string& program = sibling_program("stand_in_app"))
      : child_(program, args) {
    ready_ = child_.started() && wait_for_text(child_, "listening\n");
  }

  [[nodiscard]] bool ready() const { return ready_; }
  // What it has reported so far: "listening", "accepted", "closed BYTES LINES" lines.
  [[nodiscard]] std::string report() { return child_.output(); }
  bool wait_for(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    return wait_for_text(child_, text, timeout);
  }
  Child& child() { return child_; }

 private:
  Child child_;
  bool ready_ = false;
};

}  // namespace zorvia::testing
