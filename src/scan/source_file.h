// Reading one input whole. A regular file is memory-mapped, so its bytes are
// never copied; anything else that can be read to its end (pipes, FIFOs,
// character devices) is read into memory. Failures come back as a status
// with the errno value; memory exhaustion throws std::bad_alloc.
//
// A mapped file that shrinks while it is scanned would make the scanner
// fault: that ends the process with a message naming the file and exit
// status 1, before any output is opened.

#ifndef STBLC_SCAN_SOURCE_FILE_H_
#define STBLC_SCAN_SOURCE_FILE_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace stblc {

enum class ReadStatus {
  kRead,        // the whole file is in memory
  kCannotOpen,  // could not be opened, or is a directory: nothing was read
  kFailed,      // opened, but a read failed part-way: the bytes are unusable
};

// The bytes of one input, owned: a mapping or a buffer.
class SourceFile {
 public:
  SourceFile() = default;
  // Takes over a mapping of the file at path, or a buffer of read bytes.
  static SourceFile mapped(std::string path, const char* data, size_t size);
  static SourceFile buffered(std::unique_ptr<char[]> buffer, size_t size);
  ~SourceFile();
  SourceFile(SourceFile&& other) noexcept;
  SourceFile& operator=(SourceFile&& other) noexcept;

  std::string_view bytes() const { return {data_, size_}; }

  // Tells that the bytes before offset will not be needed again soon: a
  // mapped file gives their pages back, which keeps the memory of a run to
  // what the table holds. Reading them again stays valid.
  void release_before(size_t offset);

 private:
  void reset();

  const char* data_ = nullptr;
  size_t size_ = 0;
  std::unique_ptr<char[]> buffer_;  // when read, not mapped
  size_t released_ = 0;             // mapped bytes given back so far
  std::string path_;                // of a mapped file, for the fault message
};

struct ReadResult {
  ReadStatus status = ReadStatus::kRead;
  int error_number = 0;  // errno of the failure, for anything but kRead
  SourceFile file;
};

ReadResult read_source(const char* path);

}  // namespace stblc

#endif  // STBLC_SCAN_SOURCE_FILE_H_
