#include <unistd.h>

#include <charconv>

#include "platform/user_identity.h"

namespace zorvia::platform {

namespace {

// The SID form used for Unix users: S-1-22-1-<uid>.
constexpr std::string_view kUnixUserSidPrefix = "S-1-22-1-";

std::uint64_t uid_of(const TokenUser& user) { return user.data()[0]; }

}  // namespace

std::optional<TokenUser> own_token_user() { return TokenUser({::geteuid()}); }

std::optional<TokenUser> token_user_for_sid(std::string_view sid) {
  if (!sid.starts_with(kUnixUserSidPrefix)) return std::nullopt;
  sid.remove_prefix(kUnixUserSidPrefix.size());
  uid_t uid = 0;
  const auto [end, error] = std::from_chars(sid.data(), sid.data() + sid.size(), uid);
  if (error != std::errc{} || end != sid.data() + sid.size() || sid.empty()) return std::nullopt;
  return TokenUser({uid});
}

std::optional<std::string> sid_string(const TokenUser& user) {
  return std::string(kUnixUserSidPrefix) + std::to_string(uid_of(user));
}

bool same_known_user(const std::optional<TokenUser>& server, const std::optional<TokenUser>& own) {
  return server && own && uid_of(*server) == uid_of(*own);
}

}  // namespace zorvia::platform
