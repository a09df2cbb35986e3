// The test support every end-to-end test stands on: a child is started with all of its
// streams in place or not at all, and a temporary directory is made or refused in bounded
// time.

#include "support/child_process.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <dirent.h>
#include <sys/resource.h>

#include <charconv>
#include <set>
#include <string_view>
#endif

#include <filesystem>

namespace zorvia::testing {
namespace {

std::filesystem::path utf8_path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

TEST(TempDirectory, EachOneIsFreshAndEmpty) {
  const auto first = create_temp_directory("support");
  const auto second = create_temp_directory("support");
  ASSERT_TRUE(first) << first.error().message();
  ASSERT_TRUE(second) << second.error().message();
  EXPECT_NE(*first, *second);
  for (const auto& dir : {utf8_path(*first), utf8_path(*second)}) {
    EXPECT_TRUE(std::filesystem::is_directory(dir));
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    std::filesystem::remove(dir);
  }
}

TEST(TempDirectory, GivesUpWhenNoNameCanBeMade) {
  // No file system takes a name this long, so every try fails.
  const auto dir = create_temp_directory(std::string(300, 'x'));
  ASSERT_FALSE(dir);
  EXPECT_TRUE(dir.error());
}

#ifndef _WIN32

// The sanitizers probe memory through pipes of their own (UndefinedBehaviorSanitizer on
// every check of a dynamic type), so they fail where the process has no descriptor to spare.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

// The descriptor numbers this process has open.
std::set<int> open_descriptors() {
  std::set<int> numbers;
  DIR* listing = ::opendir("/proc/self/fd");
  if (listing == nullptr) return numbers;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name(entry->d_name);
    int number = 0;
    if (std::from_chars(name.data(), name.data() + name.size(), number).ec == std::errc{}) numbers.insert(number);
  }
  numbers.erase(::dirfd(listing));
  ::closedir(listing);
  return numbers;
}

// Lets the process open only `spare` more descriptors while it lives: the lowest limit on
// descriptor numbers below which exactly that many are free.
class DescriptorBudget {
 public:
  DescriptorBudget(int spare, const std::set<int>& in_use) {
    ::getrlimit(RLIMIT_NOFILE, &original_);
    rlimit tight = original_;
    tight.rlim_cur = 0;
    for (int free = 0; free < spare; ++tight.rlim_cur) {
      if (!in_use.contains(static_cast<int>(tight.rlim_cur))) ++free;
    }
    set_ = ::setrlimit(RLIMIT_NOFILE, &tight) == 0;
  }
  DescriptorBudget(const DescriptorBudget&) = delete;
  DescriptorBudget& operator=(const DescriptorBudget&) = delete;
  ~DescriptorBudget() { ::setrlimit(RLIMIT_NOFILE, &original_); }
  [[nodiscard]] bool set() const { return set_; }

 private:
  rlimit original_{};
  bool set_ = false;
};

TEST(Child, StartsOnlyWithEveryPipeInPlaceAndLeavesNothingOpen) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers need descriptors of their own";
  // Standard input, output and error each take a pipe of two descriptors: with fewer than
  // six to spare one of the pipes cannot be made.
  constexpr int kNeeded = 6;
  for (int spare = 0; spare <= kNeeded; ++spare) {
    SCOPED_TRACE(spare);
    const auto before = open_descriptors();
    std::optional<std::uint32_t> exit_code;
    bool started = false;
    {
      Child child = [&] {
        const DescriptorBudget budget(spare, before);
        EXPECT_TRUE(budget.set());
        return Child(sibling_program("sleeper"), {"0"});
      }();
      started = child.started();
      if (started) exit_code = child.wait(std::chrono::seconds(30));
    }
    EXPECT_EQ(started, spare >= kNeeded);
    if (started) {
      EXPECT_EQ(exit_code, 0u);
    }
    EXPECT_EQ(open_descriptors(), before);
  }
}

#endif

}  // namespace
}  // namespace zorvia::testing
