// Any bytes into the scanner and the table: either pairs are added or the
// scan stops with an error value, never a crash, a read outside the bytes
// or an exit. A small entry limit makes the table's own limit reachable.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "scan_source.h"
#include "string_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  stblc::StringTable table(64);
  stblc::ScanContext context;
  context.warn = [size](const stblc::ScanWarning& warning) {
    const stblc::SourceSnippet where = warning.where();
    if (where.caret > where.text.size()) __builtin_trap();
    if (warning.key.empty() || where.line > size + 1) {
      __builtin_trap();
    }
  };
  const stblc::ScanResult result = stblc::scan_buffer(source, table, context);
  if (table.count() > result.count) __builtin_trap();
  if (result.error) {
    const stblc::ScanError& error = *result.error;
    if (error.offset >= size) __builtin_trap();
    if (error.where.caret > error.where.text.size()) __builtin_trap();
    if (stblc::scan_error_message(error).back() != '\n') __builtin_trap();
  }
  return 0;
}
