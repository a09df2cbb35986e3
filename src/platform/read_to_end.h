#pragma once
// The read loop shared by the whole-file readers of both platforms.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

namespace zorvia::platform {

// Reads through `read_some(char* into, std::size_t max) -> std::optional<std::size_t>`
// (nothing: a read error; 0: the end) until the end. The buffer is sized once from
// `length_hint`, the file's length when it was opened, plus one byte so that reaching the
// end needs no growth; it grows only when the file has grown meanwhile. New space is not
// zero-filled, since the reads overwrite it. No memory for the buffer gives nothing.
template <typename ReadSome>
[[nodiscard]] std::optional<std::string> read_to_end(std::uintmax_t length_hint, ReadSome read_some) {
  constexpr std::size_t kMinimumGrowth = 8192;
  try {
    std::string bytes;
    if (length_hint >= bytes.max_size()) return std::nullopt;
    std::size_t target = static_cast<std::size_t>(length_hint) + 1;
    bool at_end = false, failed = false;
    for (;;) {
      const std::size_t kept = bytes.size();
      bytes.resize_and_overwrite(target, [&](char* data, std::size_t size) {
        std::size_t filled = kept;
        while (filled < size) {
          const std::optional<std::size_t> got = read_some(data + filled, size - filled);
          if (!got) {
            failed = true;
            break;
          }
          if (*got == 0) {
            at_end = true;
            break;
          }
          filled += *got;
        }
        return filled;
      });
      if (failed) return std::nullopt;
      if (at_end) return bytes;
      // Full and not yet at the end: the file grew since its length was taken.
      const std::size_t growth = std::max(kMinimumGrowth, bytes.size() / 2);
      if (bytes.max_size() - bytes.size() <= growth) return std::nullopt;
      target = bytes.size() + growth;
    }
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  } catch (const std::length_error&) {
    return std::nullopt;
  }
}

}  // namespace zorvia::platform
