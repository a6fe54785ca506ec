// The STBL file format, version 2: the contract between the compiler that
// writes a table and every program that reads one. Only constants live here;
// writers and readers both take the layout from this header.
//
// All integers are little-endian, no field is aligned, and records follow
// one another without gaps. There is no index, trailer or checksum.
//
// Header (17 bytes):
//
//    0       4   5       7              11                      17
//   +-------+---+-------+---------------+-----------------------+
//   | "STBL"| 2 | 0   0 | entry_count   | 0   0   0   0   0   0 |
//   +-------+---+-------+---------------+-----------------------+
//    magic   version      u32            reserved
//           (u8) reserved
//
// Then entry_count records, the first at offset 17:
//
//    0               8       12
//   +---------------+-------+-----------------------------------+
//   | key_hash      | length| units: length UTF-16 code units   |
//   +---------------+-------+-----------------------------------+
//    u64             u32     2 x length bytes, each unit u16, no terminator
//
// A record is 12 + 2 * length bytes; the file is 17 bytes plus its records.
// key_hash is hash_key() of the key's bytes (see hash_key.h): the key text
// itself is not stored.

#ifndef STBLC_TABLE_STBL_FORMAT_H_
#define STBLC_TABLE_STBL_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace stblc::stbl {

inline constexpr char kMagic[4] = {'S', 'T', 'B', 'L'};
inline constexpr uint8_t kVersion = 2;

inline constexpr size_t kMagicOffset = 0;
inline constexpr size_t kVersionOffset = 4;
inline constexpr size_t kReservedAOffset = 5;
inline constexpr size_t kReservedASize = 2;
inline constexpr size_t kEntryCountOffset = 7;
inline constexpr size_t kReservedBOffset = 11;
inline constexpr size_t kReservedBSize = 6;
inline constexpr size_t kHeaderSize = 17;

inline constexpr size_t kRecordKeyHashOffset = 0;
inline constexpr size_t kRecordLengthOffset = 8;
inline constexpr size_t kRecordUnitsOffset = 12;
inline constexpr size_t kRecordHeaderSize = 12;
inline constexpr size_t kUnitSize = 2;

// Limits that follow from the 32-bit fields.
inline constexpr uint64_t kMaxEntries = 0xFFFFFFFFu;
inline constexpr uint64_t kMaxLength = 0xFFFFFFFFu;

}  // namespace stblc::stbl

#endif  // STBLC_TABLE_STBL_FORMAT_H_
