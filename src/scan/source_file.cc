#include "source_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

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

// The path of the mapped file being scanned, for the fault handler.
std::atomic<const char*> g_mapped_path{nullptr};

void write_stderr(const char* text) {
  [[maybe_unused]] ssize_t ignored = write(STDERR_FILENO, text, strlen(text));
}

// Reading a page of a mapped file that has since been truncated raises
// SIGBUS. Nothing has been written yet, so the run can end here.
void report_truncated_input(int signal_number) {
  const char* path = g_mapped_path.load();
  if (!path) {  // not a mapped input: let the signal do what it does
    signal(signal_number, SIG_DFL);
    raise(signal_number);
    return;
  }
  write_stderr("Couldn't read '");
  write_stderr(path);
  write_stderr("': the file shrank while it was being read\n");
  _exit(1);
}

void install_fault_handler() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action = {};
  action.sa_handler = report_truncated_input;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, nullptr);
}

size_t page_size() {
  static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

}  // namespace

SourceFile SourceFile::mapped(std::string path, const char* data, size_t size) {
  SourceFile file;
  file.path_ = std::move(path);
  file.data_ = data;
  file.size_ = size;
  g_mapped_path = file.path_.c_str();
  return file;
}

SourceFile SourceFile::buffered(std::unique_ptr<char[]> buffer, size_t size) {
  SourceFile file;
  file.buffer_ = std::move(buffer);
  file.data_ = file.buffer_.get();
  file.size_ = size;
  return file;
}

SourceFile::~SourceFile() { reset(); }

SourceFile::SourceFile(SourceFile&& other) noexcept {
  *this = std::move(other);
}

SourceFile& SourceFile::operator=(SourceFile&& other) noexcept {
  if (this != &other) {
    reset();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    buffer_ = std::move(other.buffer_);
    released_ = std::exchange(other.released_, 0);
    path_ = std::move(other.path_);
    if (!buffer_ && data_) g_mapped_path = path_.c_str();
  }
  return *this;
}

void SourceFile::reset() {
  if (data_ && !buffer_) {
    munmap(const_cast<char*>(data_), size_);
    g_mapped_path = nullptr;
  }
  data_ = nullptr;
  size_ = 0;
  buffer_.reset();
}

void SourceFile::release_before(size_t offset) {
  if (buffer_ || !data_) return;
  const size_t end = offset / page_size() * page_size();
  if (end <= released_) return;
  madvise(const_cast<char*>(data_) + released_, end - released_, MADV_DONTNEED);
  released_ = end;
}

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

  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    // Mapping saves copying the file; where it is refused (address space
    // limits, file systems without mmap) the file is read instead.
    install_fault_handler();
    const auto size = static_cast<size_t>(st.st_size);
    void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (data != MAP_FAILED) {
      madvise(data, size, MADV_SEQUENTIAL);
      result.file = SourceFile::mapped(path, static_cast<char*>(data), size);
      return result;
    }
  }

  // Pipes and devices report no useful size and are read until they end.
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
  result.file = SourceFile::buffered(std::move(data), size);
  return result;
}

}  // namespace stblc
