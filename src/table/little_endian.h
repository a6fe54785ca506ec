// Little-endian encoding and decoding of fixed-width integers into byte
// buffers, independent of the host's byte order. Never fails; the caller
// provides enough room.

#ifndef STBLC_TABLE_LITTLE_ENDIAN_H_
#define STBLC_TABLE_LITTLE_ENDIAN_H_

#include <cstdint>

namespace stblc {

inline void put_u16le(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void put_u32le(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void put_u64le(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint16_t get_u16le(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t get_u32le(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

inline uint64_t get_u64le(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace stblc

#endif  // STBLC_TABLE_LITTLE_ENDIAN_H_
