#pragma once
// The token user of a process (Windows only).

#include <windows.h>

#include <optional>

#include "platform/user_identity.h"

namespace zorvia::platform::win32 {

// `process` allows querying (PROCESS_QUERY_LIMITED_INFORMATION, or the current-process
// pseudo-handle). The token is closed before this returns, whatever happened.
[[nodiscard]] std::optional<TokenUser> token_user(HANDLE process);

[[nodiscard]] inline PSID sid_of(const TokenUser& user) {
  return reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
}

}  // namespace zorvia::platform::win32
