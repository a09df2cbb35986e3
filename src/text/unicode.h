#pragma once
// UTF-8 and UTF-16 handling shared by both modes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zorvia::text {

inline constexpr char32_t kReplacementCharacter = U'\uFFFD';

// Strict UTF-8 (RFC 3629): no overlong forms, no encoded surrogates, nothing above U+10FFFF.
[[nodiscard]] bool is_valid_utf8(std::string_view bytes);

// Decodes one code point at `pos` and advances `pos`; an invalid sequence gives U+FFFD and
// advances past its maximal valid prefix (at least one byte), as the Unicode standard's
// "substitution of maximal subparts" does.
char32_t decode_utf8_lossy(std::string_view bytes, std::size_t& pos);

// Replaces each invalid sequence by U+FFFD.
[[nodiscard]] std::string utf8_lossy(std::string_view bytes);

void append_utf8(std::string& out, char32_t code_point);

// UTF-16 to UTF-8, each unpaired surrogate becoming U+FFFD.
[[nodiscard]] std::string utf16_to_utf8_lossy(std::u16string_view units);
// UTF-16 to UTF-8, or nothing when an unpaired surrogate is present.
[[nodiscard]] std::optional<std::string> utf16_to_utf8_strict(std::u16string_view units);
// Valid UTF-8 to UTF-16.
[[nodiscard]] std::u16string utf8_to_utf16(std::string_view utf8);

// The 25 characters with the Unicode White_Space property.
[[nodiscard]] bool is_white_space(char32_t c);
// Removes White_Space characters from the end (or both ends) of valid UTF-8.
[[nodiscard]] std::string_view trim_white_space_end(std::string_view utf8);
[[nodiscard]] std::string_view trim_white_space(std::string_view utf8);

}  // namespace zorvia::text
