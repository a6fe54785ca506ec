// Reading one input file whole into memory. Works on anything that can be
// read to its end: regular files, pipes, FIFOs, character devices. Failures
// come back as a status with the errno value; memory exhaustion throws
// std::bad_alloc.

#ifndef STBLC_SCAN_SOURCE_FILE_H_
#define STBLC_SCAN_SOURCE_FILE_H_

#include <cstddef>
#include <memory>
#include <string_view>
#include <utility>

namespace stblc {

enum class ReadStatus {
  kRead,        // the whole file is in memory
  kCannotOpen,  // could not be opened, or is a directory: nothing was read
  kFailed,      // opened, but a read failed part-way: the bytes are unusable
};

// The bytes of one input, owned.
class SourceFile {
 public:
  SourceFile() = default;
  SourceFile(std::unique_ptr<char[]> data, size_t size)
      : data_(std::move(data)), size_(size) {}
  std::string_view bytes() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
};

struct ReadResult {
  ReadStatus status = ReadStatus::kRead;
  int error_number = 0;  // errno of the failure, for anything but kRead
  SourceFile file;
};

ReadResult read_source(const char* path);

}  // namespace stblc

#endif  // STBLC_SCAN_SOURCE_FILE_H_
