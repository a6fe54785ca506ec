// Any bytes scanned into a table, written to memory twice and read back:
// the two writes are the same bytes, and the reader finds every entry with
// its text converted unit by unit.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "scan_source.h"
#include "stbl_reader.h"
#include "string_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  stblc::StringTable table;
  stblc::scan_buffer(
      std::string_view(reinterpret_cast<const char*>(data), size), table);
  stblc::StringSink first;
  stblc::StringSink second;
  if (!table.write(first) || !table.write(second)) __builtin_trap();
  if (first.bytes != second.bytes) __builtin_trap();

  stblc::StblReader reader;
  const auto* bytes = reinterpret_cast<const uint8_t*>(first.bytes.data());
  if (!reader.parse(std::span<const uint8_t>(bytes, first.bytes.size()))) {
    __builtin_trap();
  }
  if (reader.entry_count() != table.count()) __builtin_trap();
  for (size_t i = 0; i < table.count(); ++i) {
    const stblc::StringEntry& entry = table.entries()[i];
    const stblc::StblRecord& record = reader.records()[i];
    if (record.key_hash != entry.key_hash || record.length != entry.length) {
      __builtin_trap();
    }
    const std::u16string units = reader.utf16(record);
    for (size_t k = 0; k < entry.length; ++k) {
      if (units[k] != stblc::unit_of_byte(entry.text[k])) __builtin_trap();
    }
  }
  return 0;
}
