#include "lifecycle/exit_classification.h"

namespace zorvia::lifecycle {

namespace {

// Codes matched by equality; every other code falls to the severity test below.
struct KnownExitCode {
  std::uint32_t code;
  std::string_view label;
};

constexpr KnownExitCode kKnownExitCodes[] = {
    {1, "external_termination_likely"},
    {0xFFFFFFFF, "external_termination_likely"},
    {101, "rust_panic_exit"},
    {0xC0000005, "access_violation"},
    {0xC000001D, "illegal_instruction"},
    {0xC0000094, "integer_divide_by_zero"},
    {0xC00000FD, "stack_overflow"},
    {0xC0000135, "dll_not_found"},
    {0xC0000139, "entry_point_not_found"},
    {0xC0000374, "heap_corruption"},
    {0xC0000409, "stack_buffer_overrun_or_fast_fail"},
    {0xE06D7363, "native_cpp_exception"},  // the Microsoft C++ runtime's thrown exceptions
};

// Status codes of error severity: the two top bits set.
constexpr std::uint32_t kErrorSeverityStart = 0xC0000000;

constexpr std::string_view label_of_exit_code(std::uint32_t exit_code) {
  for (const auto& known : kKnownExitCodes) {
    if (known.code == exit_code) return known.label;
  }
  return exit_code >= kErrorSeverityStart ? "windows_exception" : "nonzero_exit";
}

}  // namespace

std::string_view classify_exit(std::uint32_t exit_code, const std::optional<ExitSummary>& summary) {
  if (summary) {
    // What the program itself announced outweighs everything else, the exit code included.
    if (summary->expected_exit) return summary->clean_exit ? "expected_exit" : "expected_exit_abrupt";
    if (summary->antivirus_hit) return "antivirus_quarantine";
    if (summary->clean_exit) return "clean_exit_without_intent";
    if (summary->exit_requested_event_seen) return "exit_requested_then_killed";
    if (exit_code == 0) return "terminated_with_zero_code";
  } else if (exit_code == 0) {
    return "zero_exit_without_marker";
  }
  return label_of_exit_code(exit_code);
}

}  // namespace zorvia::lifecycle
