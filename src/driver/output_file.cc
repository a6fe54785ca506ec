#include "output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <utility>
#include <vector>

namespace stblc {
namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr int kMaxSymlinks = 40;
// Leaves room in a 255-byte file name for the temporary file's decoration.
constexpr size_t kMaxBaseInTempName = 200;
// How much of a temporary file is written before it is sent to the disk.
constexpr uint64_t kWriteBackStep = uint64_t{8} << 20;

// The temporary file that the signal handler removes, or null.
std::atomic<const char*> g_temp_path{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

void remove_temp_and_reraise(int signal_number) {
  remove_unfinished_output();
  // Dies of the signal once the handler returns and unblocks it.
  std::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void install_cleanup_handlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action = {};
  action.sa_handler = remove_temp_and_reraise;
  sigemptyset(&action.sa_mask);
  for (int s : kCleanupSignals) sigaddset(&action.sa_mask, s);
  for (int s : kCleanupSignals) {
    struct sigaction old = {};
    // A signal the caller chose to ignore stays ignored.
    if (sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
      sigaction(s, &action, nullptr);
    }
  }
  // Past the file-size limit a write then fails with EFBIG and is reported,
  // instead of SIGXFSZ killing the process with the temporary file left.
  std::signal(SIGXFSZ, SIG_IGN);
}

// Holds the cleanup signals back while the temporary file and the handler's
// record of it change together.
class SignalBlock {
 public:
  SignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kCleanupSignals) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalBlock() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t old_;
};

// Follows symbolic links from path to the file they finally name, which
// need not exist yet. Sets errno and returns false on a loop.
bool resolve_symlinks(const char* path, std::string* resolved) {
  std::string p = path;
  for (int hops = 0; hops <= kMaxSymlinks; ++hops) {
    struct stat st;
    if (lstat(p.c_str(), &st) != 0) {
      if (errno != ENOENT) return false;
      *resolved = std::move(p);
      return true;
    }
    if (!S_ISLNK(st.st_mode)) {
      *resolved = std::move(p);
      return true;
    }
    std::vector<char> link(std::max<size_t>(st.st_size, 255) + 1);
    ssize_t n;
    while ((n = readlink(p.c_str(), link.data(), link.size())) ==
           static_cast<ssize_t>(link.size())) {
      link.resize(link.size() * 2);
    }
    if (n < 0) return false;
    std::string target(link.data(), static_cast<size_t>(n));
    const size_t slash = p.rfind('/');
    if ((!target.empty() && target.front() == '/') ||
        slash == std::string::npos) {
      p = std::move(target);
    } else {
      p = p.substr(0, slash + 1) + target;
    }
  }
  errno = ELOOP;
  return false;
}

mode_t new_file_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void remove_unfinished_output() {
  if (const char* path = g_temp_path.load()) unlink(path);
}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::open(const char* path) {
  struct stat st;
  const bool exists = stat(path, &st) == 0;
  // Only a path that is not there may be created; any other failure to
  // look at it (EIO, EACCES, ...) would lose what is there, such as its mode.
  if (!exists && errno != ENOENT) return fail(errno);
  if (exists && !S_ISREG(st.st_mode)) {
    fd_ = ::open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY);
    return fd_ >= 0 || fail(errno);
  }

  if (!resolve_symlinks(path, &target_)) return fail(errno);
  const size_t slash = target_.rfind('/');
  const size_t base_start = slash == std::string::npos ? 0 : slash + 1;
  const std::string base = target_.substr(base_start, kMaxBaseInTempName);
  std::string temp =
      target_.substr(0, base_start) + "." + base + ".stblc-XXXXXX";

  install_cleanup_handlers();
  {
    SignalBlock block;
    fd_ = mkostemp(temp.data(), O_CLOEXEC);
    if (fd_ < 0) return fail(errno);
    temp_path_ = std::move(temp);
    g_temp_path = temp_path_.c_str();
  }

  mode_t mode = new_file_mode();
  if (exists) {
    mode = st.st_mode & 07777;
    // Only a privileged user can give the file back to another owner; for
    // anyone else the new file is simply theirs.
    if (st.st_uid != geteuid() || st.st_gid != getegid()) {
      [[maybe_unused]] int ignored = fchown(fd_, st.st_uid, st.st_gid);
    }
  }
  return fchmod(fd_, mode) == 0 || fail(errno);
}

void OutputFile::expect(uint64_t size) {
  // Allocated at once, the blocks are not reserved page by page as the
  // writes come (a tenth of writing a large table). The size itself grows
  // only with what is written. Only a hint: where the file system cannot,
  // or the disk is full, the writes find out and report it.
  if (temp_path_.empty() || fd_ < 0 || size == 0) return;
  [[maybe_unused]] int ignored =
      fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
}

bool OutputFile::write(const uint8_t* data, size_t size) {
  if (error_number_ || fd_ < 0) return false;
  while (size) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(errno);
    if (n == 0) return fail(ENOSPC);
    data += n;
    size -= static_cast<size_t>(n);
    written_ += static_cast<uint64_t>(n);
  }
  // Renaming over an existing file makes some file systems write all of the
  // new file out first, within the rename; sent out in stretches as it is
  // written, the file is mostly on its way by then (a third of the time of
  // a large run's last step). Only a hint: its failure changes nothing.
  if (!temp_path_.empty() && written_ - sent_to_disk_ >= kWriteBackStep) {
    sync_file_range(fd_, static_cast<off_t>(sent_to_disk_),
                    static_cast<off_t>(written_ - sent_to_disk_),
                    SYNC_FILE_RANGE_WRITE);
    sent_to_disk_ = written_;
  }
  return true;
}

bool OutputFile::commit() {
  if (error_number_ || fd_ < 0) return false;
  // Linux releases the descriptor even when close reports EINTR.
  if (close(std::exchange(fd_, -1)) != 0 && errno != EINTR) return fail(errno);
  if (temp_path_.empty()) return true;
  SignalBlock block;
  if (rename(temp_path_.c_str(), target_.c_str()) != 0) return fail(errno);
  g_temp_path = nullptr;
  temp_path_.clear();
  return true;
}

bool OutputFile::fail(int error_number) {
  error_number_ = error_number;
  discard();
  return false;
}

void OutputFile::discard() {
  if (fd_ >= 0) close(std::exchange(fd_, -1));
  if (!temp_path_.empty()) {
    SignalBlock block;
    unlink(temp_path_.c_str());
    g_temp_path = nullptr;
    temp_path_.clear();
  }
}

}  // namespace stblc
