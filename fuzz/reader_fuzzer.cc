// Any bytes into the STBL reader: it either refuses them with an error or
// gives records that all lie inside the bytes and can all be found again.
#include <cstddef>
#include <cstdint>
#include <span>

#include "stbl_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  stblc::StblReader reader;
  if (!reader.parse(std::span<const uint8_t>(data, size))) return 0;
  if (reader.entry_count() > size / 12) __builtin_trap();
  for (const stblc::StblRecord& record : reader.records()) {
    if (record.units_offset + 2 * size_t{record.length} > size) {
      __builtin_trap();
    }
    if (reader.find(record.key_hash) != &record) __builtin_trap();
    if (reader.utf16(record).size() != record.length) __builtin_trap();
    (void)reader.utf8(record);
  }
  return 0;
}
