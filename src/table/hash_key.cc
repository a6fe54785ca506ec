#include "hash_key.h"

#include "little_endian.h"

namespace stblc {
namespace {

constexpr uint64_t kOffsetBasis = 0xCBF29CE484222325u;
constexpr uint64_t kPrime = 0x100000001B3u;

uint8_t fold(char ch) {
  const auto c = static_cast<uint8_t>(ch);
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

}  // namespace

uint64_t hash_key(std::string_view key) {
  uint64_t h = kOffsetBasis;
  for (char ch : key) h = (h * kPrime) ^ fold(ch);
  return h;
}

namespace {

// Folds the ASCII capitals among eight bytes at once: a byte gets 0x20 added
// where it lies in 0x41..0x5A, and no carry crosses into its neighbour.
uint64_t fold_word(uint64_t x) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  const uint64_t low7 = x & (0x7F * kOnes);
  const uint64_t at_least_a = low7 + (0x80 - 'A') * kOnes;
  const uint64_t past_z = low7 + (0x80 - 'Z' - 1) * kOnes;
  const uint64_t capital = at_least_a & ~past_z & ~x & (0x80 * kOnes);
  return x | (capital >> 2);
}

uint64_t mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDu;
  h ^= h >> 33;
  return h;
}

// The last n (1 to 7) bytes of a key of `size` bytes, as a little-endian
// word with zeros above them. A key of eight bytes or more gives the word
// ending at its end, shifted: a part-word copy into a zeroed word would
// stall the load that follows it.
uint64_t tail_word(const uint8_t* key, size_t size, size_t n) {
  if (size >= 8) return get_u64le(key + size - 8) >> (8 * (8 - n));
  uint64_t word = 0;
  for (size_t k = n; k-- > 0;) word = (word << 8) | key[size - n + k];
  return word;
}

}  // namespace

KeyHashes hash_key_twice(std::string_view key) {
  // Both hashes take the key eight folded bytes at a time. The check mixes
  // whole words by multiply-and-shift, unlike FNV: keys that collide under
  // one hash almost never collide under the other.
  constexpr uint64_t kCheckMultiplier = 0x9E3779B97F4A7C15u;
  const auto* bytes = reinterpret_cast<const uint8_t*>(key.data());
  const size_t size = key.size();
  uint64_t h = kOffsetBasis;
  uint64_t check = 0x6A09E667F3BCC909u ^ size;
  auto take = [&](uint64_t word, size_t n) {
    word = fold_word(word);
    check = mix((check ^ word) * kCheckMultiplier);
    for (size_t k = 0; k < n; ++k, word >>= 8) {
      h = (h * kPrime) ^ (word & 0xFF);
    }
  };
  size_t i = 0;
  for (; i + 8 <= size; i += 8) take(get_u64le(bytes + i), 8);
  if (const size_t n = size - i) take(tail_word(bytes, size, n), n);
  return {h, check};
}

}  // namespace stblc
