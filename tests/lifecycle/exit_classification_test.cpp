#include "lifecycle/exit_classification.h"

#include <gtest/gtest.h>

namespace zorvia::lifecycle {
namespace {

// Summaries as the run builds them (and one it never builds, to pin the order of rules).
constexpr std::optional<ExitSummary> kNoMarker = std::nullopt;
constexpr ExitSummary kPlain{};
constexpr ExitSummary kExpectedClean{.expected_exit = "user_quit", .clean_exit = true};
constexpr ExitSummary kExpectedAbrupt{.expected_exit = "update", .exit_requested_event_seen = true};
constexpr ExitSummary kExpectedEmptyText{.expected_exit = "", .clean_exit = true};
constexpr ExitSummary kExpectedEmptyAbrupt{.expected_exit = ""};
constexpr ExitSummary kExpectedWithHit{.expected_exit = "x", .antivirus_hit = true};
constexpr ExitSummary kHit{.antivirus_hit = true};
constexpr ExitSummary kHitAndClean{.exit_requested_event_seen = true, .clean_exit = true, .antivirus_hit = true};
constexpr ExitSummary kClean{.clean_exit = true};
constexpr ExitSummary kRequestedAndClean{.exit_requested_event_seen = true, .clean_exit = true};
constexpr ExitSummary kRequested{.exit_requested_event_seen = true};

struct Case {
  const char* what;
  std::uint32_t code;
  std::optional<ExitSummary> summary;
  std::string_view label;
};

constexpr Case kCases[] = {
    // Rows that need a summary, in the order they are tested.
    {"expected, clean", 0, kExpectedClean, "expected_exit"},
    {"expected, clean, crash code", 0xC0000005, kExpectedClean, "expected_exit"},
    {"expected, not clean", 0, kExpectedAbrupt, "expected_exit_abrupt"},
    {"expected, not clean, crash code", 0xC0000005, kExpectedAbrupt, "expected_exit_abrupt"},
    {"empty expected text is present", 7, kExpectedEmptyText, "expected_exit"},
    {"empty expected text, not clean", 0, kExpectedEmptyAbrupt, "expected_exit_abrupt"},
    {"expected outweighs a hit", 1, kExpectedWithHit, "expected_exit_abrupt"},
    {"hit", 0, kHit, "antivirus_quarantine"},
    {"hit, crash code", 0xC0000409, kHit, "antivirus_quarantine"},
    {"hit outweighs clean", 0, kHitAndClean, "antivirus_quarantine"},
    {"clean without intent", 0, kClean, "clean_exit_without_intent"},
    {"clean without intent, code 1", 1, kClean, "clean_exit_without_intent"},
    {"requested and clean", 0, kRequestedAndClean, "clean_exit_without_intent"},
    {"requested, killed", 0, kRequested, "exit_requested_then_killed"},
    {"requested, killed, crash code", 0xC0000005, kRequested, "exit_requested_then_killed"},
    {"zero with a plain marker", 0, kPlain, "terminated_with_zero_code"},
    {"zero without a marker", 0, kNoMarker, "zero_exit_without_marker"},
    // The exit-code table, with and without a plain summary.
    {"1", 1, kNoMarker, "external_termination_likely"},
    {"1 with marker", 1, kPlain, "external_termination_likely"},
    {"0xFFFFFFFF", 0xFFFFFFFF, kNoMarker, "external_termination_likely"},
    {"101", 101, kNoMarker, "rust_panic_exit"},
    {"101 with marker", 101, kPlain, "rust_panic_exit"},
    {"access violation", 0xC0000005, kNoMarker, "access_violation"},
    {"illegal instruction", 0xC000001D, kNoMarker, "illegal_instruction"},
    {"divide by zero", 0xC0000094, kNoMarker, "integer_divide_by_zero"},
    {"stack overflow", 0xC00000FD, kNoMarker, "stack_overflow"},
    {"stack overflow with marker", 0xC00000FD, kPlain, "stack_overflow"},
    {"dll not found", 0xC0000135, kNoMarker, "dll_not_found"},
    {"entry point not found", 0xC0000139, kNoMarker, "entry_point_not_found"},
    {"heap corruption", 0xC0000374, kNoMarker, "heap_corruption"},
    {"stack buffer overrun", 0xC0000409, kNoMarker, "stack_buffer_overrun_or_fast_fail"},
    {"C++ exception", 0xE06D7363, kNoMarker, "native_cpp_exception"},
    {"0xC0000000", 0xC0000000, kNoMarker, "windows_exception"},
    {"0xFFFFFFFE", 0xFFFFFFFE, kNoMarker, "windows_exception"},
    {"0xE06D7364", 0xE06D7364, kPlain, "windows_exception"},
    {"2", 2, kNoMarker, "nonzero_exit"},
    {"100", 100, kNoMarker, "nonzero_exit"},
    {"102", 102, kPlain, "nonzero_exit"},
    {"259", 259, kNoMarker, "nonzero_exit"},
    {"0x80000003", 0x80000003, kNoMarker, "nonzero_exit"},
    {"0xBFFFFFFF", 0xBFFFFFFF, kNoMarker, "nonzero_exit"},
};

TEST(ClassifyExit, EveryRuleInItsOrder) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(classify_exit(c.code, c.summary), c.label);
  }
}

}  // namespace
}  // namespace zorvia::lifecycle
