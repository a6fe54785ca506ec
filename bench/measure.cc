// Runs a command and prints its wall seconds, CPU seconds, peak resident
// bytes and exit status on one line.
//
// The benchmark launches every timed command through this small process
// because Linux counts, in a child's peak resident size, the memory of the
// process it was forked from: forked from the benchmark's interpreter, every
// command would report the interpreter's size as its own.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

double seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s COMMAND [ARG...]\n", argv[0]);
    return 2;
  }
  const double start = now();
  const pid_t pid = fork();
  if (pid == 0) {
    // The command's own output is not part of what is measured.
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  rusage usage = {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
    std::perror("measure");
    return 2;
  }
  const double wall = now() - start;
  const int code =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%.6f %.6f %ld %d\n", wall,
              seconds(usage.ru_utime) + seconds(usage.ru_stime),
              usage.ru_maxrss * 1024L, code);
  return 0;
}
