// The command line: `stblc <input>... -o <output>`, plus `--help` and
// `--version` when given alone. Parsing cannot fail; a call that fits none
// of these forms is reported as kUsageError.

#ifndef STBLC_DRIVER_COMMAND_LINE_H_
#define STBLC_DRIVER_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace stblc {

struct CommandLine {
  enum class Action { kCompile, kHelp, kVersion, kUsageError };
  Action action = Action::kUsageError;
  const char* program = "stblc";    // element 0, as invoked
  std::vector<const char*> inputs;  // in order
  const char* output = nullptr;
};

// Well-formed: at least one input, then exactly "-o" as the next-to-last
// argument, then the output. Every other argument is a path, even one that
// starts with '-' or is itself "-o".
CommandLine parse_command_line(int argc, const char* const* argv);

// "usage: PROGRAM a.txt [b.txt] -o out.stbl\n"
std::string usage_line(const char* program);

}  // namespace stblc

#endif  // STBLC_DRIVER_COMMAND_LINE_H_
