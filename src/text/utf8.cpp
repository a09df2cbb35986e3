#include "text/utf8.h"

#include <bit>
#include <cstring>

namespace zorvia::text {

namespace {

constexpr std::uint64_t kEveryByte = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

std::uint64_t load(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// The high bit of each byte of `word` that is not ASCII or (with kStop) equals the stop byte
// that `stops` repeats. Exact for the lowest such byte: a zero byte's borrow only reaches
// the bytes above it.
template <bool kStop>
std::uint64_t marks(std::uint64_t word, std::uint64_t stops) {
  if constexpr (!kStop) return word & kHighBits;
  const std::uint64_t x = word ^ stops;
  return (word | ((x - kEveryByte) & ~x)) & kHighBits;
}

// The ASCII fast path: the first byte at or after `p` that is not ASCII or is the stop byte.
template <bool kStop>
const unsigned char* skip_ascii(const unsigned char* p, const unsigned char* end, unsigned char stop) {
  const std::uint64_t stops = kEveryByte * stop;
  for (; end - p >= 16; p += 16) {
    const std::uint64_t low = marks<kStop>(load(p), stops);
    const std::uint64_t high = marks<kStop>(load(p + 8), stops);
    if ((low | high) == 0) continue;
    if constexpr (std::endian::native == std::endian::little) {
      return low != 0 ? p + std::countr_zero(low) / 8 : p + 8 + std::countr_zero(high) / 8;
    }
    break;
  }
  while (p != end && *p < 0x80 && !(kStop && *p == stop)) ++p;
  return p;
}

// Decodes from `p` up to the stop byte met at a boundary (with kStop) or `end`, and leaves
// `p` there; false at a byte that cannot continue valid UTF-8.
template <bool kStop>
bool decode_run(Utf8Decoder& decoder, const unsigned char*& p, const unsigned char* end, unsigned char stop) {
  while (p != end) {
    if (decoder.at_boundary()) {
      p = skip_ascii<kStop>(p, end, stop);
      if (p == end || (kStop && *p == stop)) return true;
    }
    if (decoder.feed(*p) == Utf8Decoder::Step::invalid) return false;
    ++p;
  }
  return true;
}

}  // namespace

const char* Utf8Decoder::find(const char* first, const char* last, char stop) {
  const auto* p = reinterpret_cast<const unsigned char*>(first);
  if (!decode_run<true>(*this, p, reinterpret_cast<const unsigned char*>(last), static_cast<unsigned char>(stop)))
    return nullptr;
  return reinterpret_cast<const char*>(p);
}

bool Utf8Decoder::feed(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  return decode_run<false>(*this, p, p + bytes.size(), 0);
}

}  // namespace zorvia::text
