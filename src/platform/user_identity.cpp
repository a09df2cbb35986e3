#include "platform/user_identity.h"

namespace zorvia::platform {

std::optional<std::string> current_user_sid() {
  const auto user = own_token_user();
  if (!user) return std::nullopt;
  return sid_string(*user);
}

}  // namespace zorvia::platform
