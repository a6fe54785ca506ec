#include "hash_key.h"

namespace stblc {

uint64_t hash_key(std::string_view key) {
  constexpr uint64_t kOffsetBasis = 0xCBF29CE484222325u;
  constexpr uint64_t kPrime = 0x100000001B3u;
  uint64_t h = kOffsetBasis;
  for (char ch : key) {
    uint8_t c = static_cast<uint8_t>(ch);
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    h = (h * kPrime) ^ c;
  }
  return h;
}

}  // namespace stblc
