// One run of stblc, from the argument vector to the exit status. The only
// place that prints a message or picks an exit status.

#ifndef STBLC_DRIVER_RUN_H_
#define STBLC_DRIVER_RUN_H_

namespace stblc {

enum class ExitStatus {
  kSuccess = 0,  // the output was written in full (or --help, --version)
  kFailure = 1,  // anything else: nothing was written
};

ExitStatus run(int argc, const char* const* argv);

}  // namespace stblc

#endif  // STBLC_DRIVER_RUN_H_
