// The owner of the system's handles: what it holds is closed exactly once, by its last
// holder, and closing never changes the error a failed call left.

#include "platform/scoped_native.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <array>

#include "platform/os_error.h"

namespace zorvia::platform {
namespace {

using Native = ScopedHandle::Native;

// Two fresh handles of the system, each open until closed.
std::array<Native, 2> two_handles() {
#ifdef _WIN32
  return {CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
#else
  int ends[2] = {-1, -1};
  if (::pipe2(ends, O_CLOEXEC) != 0) return {-1, -1};
  return {ends[0], ends[1]};
#endif
}

bool is_open(Native handle) {
#ifdef _WIN32
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != 0;
#else
  return ::fcntl(handle, F_GETFD) != -1;
#endif
}

void close_behind_its_back(Native handle) {
#ifdef _WIN32
  CloseHandle(handle);
#else
  ::close(handle);
#endif
}

void set_last_error(std::int32_t code) {
#ifdef _WIN32
  SetLastError(static_cast<DWORD>(code));
#else
  errno = code;
#endif
}

TEST(ScopedHandle, ValuesThatNameNothingAreNotHeld) {
#ifdef _WIN32
  // CreateFileW fails with INVALID_HANDLE_VALUE, most other calls with null; the former is
  // also the current process's pseudo-handle, which must never be closed.
  const std::array<Native, 2> nothing = {nullptr, INVALID_HANDLE_VALUE};
#else
  const std::array<Native, 2> nothing = {-1, -2};
#endif
  for (const Native value : nothing) {
    const ScopedHandle held(value);
    EXPECT_FALSE(held.valid());
  }
  EXPECT_FALSE(ScopedHandle().valid());
}

TEST(ScopedHandle, ClosesWhatItHoldsOnceByItsLastHolder) {
  const auto [a, b] = two_handles();
  ASSERT_TRUE(is_open(a) && is_open(b));
  {
    ScopedHandle first(a);
    ScopedHandle second(std::move(first));
    EXPECT_FALSE(first.valid());
    EXPECT_EQ(second.get(), a);
    ScopedHandle third(b);
    third = std::move(second);  // gives b back, takes a over
    EXPECT_FALSE(is_open(b));
    EXPECT_TRUE(is_open(a));
    const Native released = third.release();
    EXPECT_EQ(released, a);
    EXPECT_FALSE(third.valid());
  }
  EXPECT_TRUE(is_open(a));  // released: nobody closed it
  { const ScopedHandle last(a); }
  EXPECT_FALSE(is_open(a));
}

TEST(ScopedHandle, ClosingKeepsTheLastError) {
  // A close that fails itself (its handle already closed) shows that the error of the call
  // being reported survives the cleanup on the way out.
  constexpr std::int32_t kReported = 5;
  const auto [a, b] = two_handles();
  ScopedHandle stale(a);
  close_behind_its_back(a);
  close_behind_its_back(b);
  set_last_error(kReported);
  stale.reset();
  EXPECT_EQ(last_os_error().code, kReported);
}

}  // namespace
}  // namespace zorvia::platform
