// The output file, written so that it appears whole or not at all.
//
// A regular file (or a path that does not exist yet) is written to a
// temporary file beside it, which replaces it by rename only once every byte
// has been written and the file closed; an existing file keeps its
// permission bits, and a symbolic link keeps pointing where it did while the
// file it points to is replaced. Anything else that exists at the path (a
// device, a FIFO) is written directly.
//
// While a temporary file exists, SIGINT, SIGTERM, SIGHUP and SIGPIPE remove
// it before the process dies of the signal. Failures are values: open(),
// write() and commit() return false and error_number() gives the errno.

#ifndef STBLC_DRIVER_OUTPUT_FILE_H_
#define STBLC_DRIVER_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "string_table.h"

namespace stblc {

// Removes the temporary file of an output being written, if there is one;
// for a process about to end abruptly. Async-signal-safe.
void remove_unfinished_output();

class OutputFile : public ByteSink {
 public:
  OutputFile() = default;
  // Removes the temporary file of an output that was not committed.
  ~OutputFile() override;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the temporary file, or opens a device or FIFO.
  bool open(const char* path);
  // Has the file system allocate the whole temporary file at once.
  void expect(uint64_t size) override;
  // Writes all of data, or fails; after a failure every call fails.
  bool write(const uint8_t* data, size_t size) override;
  // Closes the file and puts it in place of the output.
  bool commit();

  int error_number() const { return error_number_; }

 private:
  bool fail(int error_number);
  void discard();

  int fd_ = -1;
  std::string target_;     // the file to replace, symbolic links resolved
  std::string temp_path_;  // empty when writing directly
  int error_number_ = 0;
  uint64_t written_ = 0;       // bytes written so far
  uint64_t sent_to_disk_ = 0;  // of which sent on to the disk
};

}  // namespace stblc

#endif  // STBLC_DRIVER_OUTPUT_FILE_H_
