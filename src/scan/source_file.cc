#include "source_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace stblc {
namespace {

constexpr size_t kUnknownSizeChunk = size_t{1} << 16;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

ReadResult read_source(const char* path) {
  ReadResult result;
  FileDescriptor fd(open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0) {
    result.status = ReadStatus::kCannotOpen;
    result.error_number = errno;
    return result;
  }
  if (S_ISDIR(st.st_mode)) {
    result.status = ReadStatus::kCannotOpen;
    result.error_number = EISDIR;
    return result;
  }

  // The size of a regular file is a good first guess, with a spare byte so
  // that the read which sees the end needs no larger buffer. Pipes and
  // devices report no useful size and are read until they end.
  size_t capacity = S_ISREG(st.st_mode) && st.st_size > 0
                        ? static_cast<size_t>(st.st_size) + 1
                        : kUnknownSizeChunk;
  auto data = std::make_unique_for_overwrite<char[]>(capacity);
  size_t size = 0;
  for (;;) {
    if (size == capacity) {
      capacity *= 2;
      auto larger = std::make_unique_for_overwrite<char[]>(capacity);
      std::memcpy(larger.get(), data.get(), size);
      data = std::move(larger);
    }
    const ssize_t n = read(fd.get(), data.get() + size, capacity - size);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      result.status = ReadStatus::kFailed;
      result.error_number = errno;
      return result;
    }
    size += static_cast<size_t>(n);
  }
  result.file = SourceFile(std::move(data), size);
  return result;
}

}  // namespace stblc
