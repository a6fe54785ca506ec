// The 64-bit key hash that identifies a text in a table and in an STBL file.
// Pure function; cannot fail.

#ifndef STBLC_TABLE_HASH_KEY_H_
#define STBLC_TABLE_HASH_KEY_H_

#include <cstdint>
#include <string_view>

namespace stblc {

// FNV-1 (multiply, then xor) with 64-bit state over the key's bytes, each
// ASCII capital A-Z folded to its small letter first. Bytes 0x80-0xFF are
// never folded, whatever the locale, so a key hashes alike everywhere.
// Every byte counts: spaces and line breaks inside a key change its hash.
uint64_t hash_key(std::string_view key);

// hash_key() together with a second 64-bit hash of the folded key,
// independent of the first, which tells apart different keys whose key
// hashes are equal. One pass over the key.
struct KeyHashes {
  uint64_t key_hash;
  uint64_t check;
};
KeyHashes hash_key_twice(std::string_view key);

}  // namespace stblc

#endif  // STBLC_TABLE_HASH_KEY_H_
