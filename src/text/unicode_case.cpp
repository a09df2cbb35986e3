#include "text/unicode_case.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "text/unicode.h"

namespace zorvia::text {

namespace {

struct LowerRun {
  char32_t first;
  char32_t last;
  std::uint8_t stride;
  std::int32_t delta;
};

struct FullLower {
  char32_t code_point;
  std::uint8_t length;
  std::array<char32_t, 3> lower;
};

enum CaseKind : std::uint8_t { kCased = 1, kCaseIgnorable = 2 };

struct CaseKindRun {
  char32_t first;
  char32_t last;
  std::uint8_t kind;
};

#include "text/unicode_case_tables.inc"

constexpr char32_t kCapitalSigma = 0x03A3;
constexpr char32_t kSmallSigma = 0x03C3;
constexpr char32_t kSmallFinalSigma = 0x03C2;

// The run that holds `cp`, if any: runs are sorted and never overlap.
template <typename Run>
constexpr const Run* find_run(std::span<const Run> runs, char32_t cp) {
  const auto it = std::lower_bound(runs.begin(), runs.end(), cp,
                                   [](const Run& run, char32_t c) { return run.last < c; });
  if (it == runs.end() || it->first > cp) return nullptr;
  return &*it;
}

constexpr std::uint8_t case_kind_from_table(char32_t cp) {
  const CaseKindRun* run = find_run<CaseKindRun>(kCaseKindRuns, cp);
  return run ? run->kind : 0;
}

// ASCII is most of every name, so its kinds come from a small array, not the search.
constexpr auto kAsciiKinds = [] {
  std::array<std::uint8_t, 0x80> kinds{};
  for (char32_t cp = 0; cp < 0x80; ++cp) kinds[cp] = case_kind_from_table(cp);
  return kinds;
}();

std::uint8_t case_kind(char32_t cp) { return cp < 0x80 ? kAsciiKinds[cp] : case_kind_from_table(cp); }

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

char32_t simple_lower(char32_t cp) {
  const LowerRun* run = find_run<LowerRun>(kLowerRuns, cp);
  if (run == nullptr || (cp - run->first) % run->stride != 0) return cp;
  return static_cast<char32_t>(static_cast<std::int64_t>(cp) + run->delta);
}

void append_full_lower(std::string& out, char32_t cp) {
  const auto* full = std::ranges::find(kFullLowers, cp, &FullLower::code_point);
  if (full != std::end(kFullLowers)) {
    for (std::size_t i = 0; i < full->length; ++i) append_utf8(out, full->lower[i]);
    return;
  }
  append_utf8(out, simple_lower(cp));
}

// Final_Sigma, second half: no cased letter follows, case-ignorable characters skipped.
bool followed_by_cased(std::string_view utf8, std::size_t pos) {
  while (pos < utf8.size()) {
    const std::uint8_t kind = case_kind(decode_utf8_lossy(utf8, pos));
    if ((kind & kCaseIgnorable) == 0) return (kind & kCased) != 0;
  }
  return false;
}

}  // namespace

std::string to_lower_full(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  if (std::ranges::all_of(utf8, [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    std::ranges::transform(utf8, std::back_inserter(out), ascii_lower);
    return out;
  }
  // Final_Sigma, first half: the last character before that is not case-ignorable is cased.
  bool preceded_by_cased = false;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = decode_utf8_lossy(utf8, pos);
    if (cp == kCapitalSigma) {
      append_utf8(out, preceded_by_cased && !followed_by_cased(utf8, pos) ? kSmallFinalSigma : kSmallSigma);
    } else if (cp < 0x80) {
      out.push_back(ascii_lower(static_cast<char>(cp)));
    } else {
      append_full_lower(out, cp);
    }
    const std::uint8_t kind = case_kind(cp);
    if ((kind & kCaseIgnorable) == 0) preceded_by_cased = (kind & kCased) != 0;
  }
  return out;
}

}  // namespace zorvia::text
