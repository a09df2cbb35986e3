#pragma once
// The user a process runs as. Windows: the token user (TOKEN_USER and its SID). Linux
// stand-in: the effective uid, whose SID form is "S-1-22-1-<uid>".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvia::platform {

// An owned token-user record. On Windows it is the TOKEN_USER record in a buffer of whole
// 8-byte words, its SID pointing into the same buffer: it moves, but is never copied.
class TokenUser {
 public:
  explicit TokenUser(std::vector<std::uint64_t> words) : words_(std::move(words)) {}
  TokenUser(TokenUser&&) noexcept = default;
  TokenUser& operator=(TokenUser&&) noexcept = default;
  TokenUser(const TokenUser&) = delete;
  TokenUser& operator=(const TokenUser&) = delete;

  [[nodiscard]] const std::uint64_t* data() const { return words_.data(); }

 private:
  std::vector<std::uint64_t> words_;
};

// The user of this process's token, or nothing.
[[nodiscard]] std::optional<TokenUser> own_token_user();

// A token user for a SID in its string form, or nothing when it is not one (tests use it to
// stand for another user).
[[nodiscard]] std::optional<TokenUser> token_user_for_sid(std::string_view sid);

// The SID's standard string form, or nothing.
[[nodiscard]] std::optional<std::string> sid_string(const TokenUser& user);

// The current process's user as a SID string, or nothing.
[[nodiscard]] std::optional<std::string> current_user_sid();

// The server check's decision: true only when both users are known and the same (EqualSid).
[[nodiscard]] bool same_known_user(const std::optional<TokenUser>& server, const std::optional<TokenUser>& own);

}  // namespace zorvia::platform
