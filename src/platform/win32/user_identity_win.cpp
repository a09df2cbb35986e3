#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>

#include "platform/scoped_native.h"
#include "platform/win32/scoped_local.h"
#include "platform/win32/token_user.h"
#include "platform/win32/wide_text.h"

namespace zorvia::platform {

namespace win32 {

std::optional<TokenUser> token_user(HANDLE process) {
  ScopedHandle token;
  if (!OpenProcessToken(process, TOKEN_QUERY, token.receive())) return std::nullopt;
  // The first call only learns the size; its own result does not matter.
  DWORD length = 0;
  GetTokenInformation(token.get(), ::TokenUser, nullptr, 0, &length);
  // Whole 8-byte words keep the record and its SID aligned.
  const std::size_t words = std::max<std::size_t>(1, (std::size_t{length} + 7) / 8);
  std::vector<std::uint64_t> buffer(words, 0);
  const BOOL read = GetTokenInformation(token.get(), ::TokenUser, buffer.data(), static_cast<DWORD>(words * 8), &length);
  token.reset();
  if (!read) return std::nullopt;
  return TokenUser(std::move(buffer));
}

}  // namespace win32

std::optional<TokenUser> own_token_user() {
  // The current-process pseudo-handle is never closed.
  return win32::token_user(GetCurrentProcess());
}

std::optional<TokenUser> token_user_for_sid(std::string_view sid) {
  win32::ScopedLocal<void> parsed;
  if (!ConvertStringSidToSidW(win32::utf8_to_wide(sid).c_str(), parsed.receive())) return std::nullopt;
  const DWORD sid_length = GetLengthSid(parsed.get());
  const std::size_t words = (sizeof(TOKEN_USER) + sid_length + 7) / 8;
  std::vector<std::uint64_t> buffer(words, 0);
  auto* record = reinterpret_cast<TOKEN_USER*>(buffer.data());
  auto* copy = reinterpret_cast<unsigned char*>(buffer.data()) + sizeof(TOKEN_USER);
  std::memcpy(copy, parsed.get(), sid_length);
  record->User.Sid = copy;
  return TokenUser(std::move(buffer));
}

std::optional<std::string> sid_string(const TokenUser& user) {
  win32::ScopedLocal<wchar_t> text;
  if (!ConvertSidToStringSidW(win32::sid_of(user), text.receive()) || !text) return std::nullopt;
  return win32::wide_to_utf8_lossy(text.get());
}

bool same_known_user(const std::optional<TokenUser>& server, const std::optional<TokenUser>& own) {
  return server && own && EqualSid(win32::sid_of(*server), win32::sid_of(*own)) != 0;
}

}  // namespace zorvia::platform
