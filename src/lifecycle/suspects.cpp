#include "lifecycle/suspects.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "text/unicode_case.h"

namespace zorvia::lifecycle {

namespace {

// The Windows Installer, the WMI command line, the kill tool and the usual uninstaller.
constexpr std::array<std::string_view, 4> kSuspectNames = {"wmic.exe", "msiexec.exe", "taskkill.exe", "uninstall.exe"};
// Installers, their updaters and the product's own programs.
constexpr std::array<std::string_view, 3> kSuspectWords = {"zorvia", "setup", "install"};

bool is_suspect_name(std::string_view lower) {
  return std::ranges::find(kSuspectNames, lower) != kSuspectNames.end() ||
         std::ranges::any_of(kSuspectWords, [lower](std::string_view word) { return lower.contains(word); });
}

}  // namespace

std::optional<std::string> suspect_entry(std::uint32_t pid, std::string_view name) {
  std::string lower = text::to_lower_full(name);
  if (!is_suspect_name(lower)) return std::nullopt;
  lower += ':';
  lower += std::to_string(pid);
  return lower;
}

std::vector<std::string> collect_suspects(std::span<const ProcessEntry> table, std::uint32_t own_pid) {
  std::vector<std::string> suspects;
  for (const ProcessEntry& process : table) {
    if (process.pid == own_pid) continue;
    if (auto entry = suspect_entry(process.pid, process.name)) suspects.push_back(std::move(*entry));
  }
  return suspects;
}

void sort_and_cut_suspects(std::vector<std::string>& suspects) {
  // std::string orders by unsigned bytes, a prefix first: the order the event needs.
  std::ranges::sort(suspects);
  if (suspects.size() > kMaxSuspects) suspects.resize(kMaxSuspects);
}

}  // namespace zorvia::lifecycle
