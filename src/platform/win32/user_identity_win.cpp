#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>

#include "platform/scoped_native.h"
#include "platform/win32/token_user.h"
#include "text/unicode.h"

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
  const auto units = text::utf8_to_utf16(sid);
  const std::wstring wide(units.begin(), units.end());
  PSID parsed = nullptr;
  if (!ConvertStringSidToSidW(wide.c_str(), &parsed)) return std::nullopt;
  const DWORD sid_length = GetLengthSid(parsed);
  const std::size_t words = (sizeof(TOKEN_USER) + sid_length + 7) / 8;
  std::vector<std::uint64_t> buffer(words, 0);
  auto* record = reinterpret_cast<TOKEN_USER*>(buffer.data());
  auto* copy = reinterpret_cast<unsigned char*>(buffer.data()) + sizeof(TOKEN_USER);
  std::memcpy(copy, parsed, sid_length);
  record->User.Sid = copy;
  LocalFree(parsed);
  return TokenUser(std::move(buffer));
}

std::optional<std::string> sid_string(const TokenUser& user) {
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(win32::sid_of(user), &text) || text == nullptr) return std::nullopt;
  const std::u16string_view units(reinterpret_cast<const char16_t*>(text), wcslen(text));
  std::string result = text::utf16_to_utf8_lossy(units);
  LocalFree(text);
  return result;
}

std::optional<std::string> current_user_sid() {
  const auto user = own_token_user();
  if (!user) return std::nullopt;
  return sid_string(*user);
}

bool same_known_user(const std::optional<TokenUser>& server, const std::optional<TokenUser>& own) {
  return server && own && EqualSid(win32::sid_of(*server), win32::sid_of(*own)) != 0;
}

}  // namespace zorvia::platform
