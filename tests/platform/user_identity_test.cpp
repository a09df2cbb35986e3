#include "platform/user_identity.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace zorvia::platform {
namespace {

// Another user than the one running the tests.
std::string other_user_sid() {
#ifdef _WIN32
  return "S-1-5-21-1-2-3-4242";
#else
  return "S-1-22-1-" + std::to_string(::geteuid() + 1);
#endif
}

TEST(UserIdentity, CurrentUserSidHasTheStandardForm) {
  const auto sid = current_user_sid();
  ASSERT_TRUE(sid.has_value());
#ifdef _WIN32
  EXPECT_TRUE(sid->starts_with("S-1-5-")) << *sid;
#else
  EXPECT_EQ(*sid, "S-1-22-1-" + std::to_string(::geteuid()));
#endif
  const auto parsed = token_user_for_sid(*sid);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(sid_string(*parsed), sid);
}

// The server check's decision, fed with users of our choice: Wine has a single user, so
// this is where "another user" is shown on the Windows build.
TEST(UserIdentity, ServerCheckTrustsOnlyTheSameKnownUser) {
  const auto own = own_token_user();
  ASSERT_TRUE(own.has_value());
  const auto same = token_user_for_sid(*current_user_sid());
  const auto other = token_user_for_sid(other_user_sid());
  ASSERT_TRUE(other.has_value());
  EXPECT_TRUE(same_known_user(same, own));
  EXPECT_FALSE(same_known_user(other, own));
  EXPECT_FALSE(same_known_user(own, other));
  EXPECT_FALSE(same_known_user(std::nullopt, own)) << "a server user that could not be read";
  EXPECT_FALSE(same_known_user(own, std::nullopt));
}

}  // namespace
}  // namespace zorvia::platform
