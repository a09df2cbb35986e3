#pragma once
// Unicode full lower-case mapping (UnicodeData plus the unconditional SpecialCasing entries,
// U+0130 becoming "i" and U+0307) with the Final_Sigma rule for U+03A3, as in the root locale.

#include <string>
#include <string_view>

namespace zorvia::text {

// `utf8` must be valid UTF-8.
[[nodiscard]] std::string to_lower_full(std::string_view utf8);

}  // namespace zorvia::text
