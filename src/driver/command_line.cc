#include "command_line.h"

#include <cstring>

namespace stblc {

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine line;
  if (argc > 0 && argv[0]) line.program = argv[0];
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    line.action = CommandLine::Action::kHelp;
  } else if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    line.action = CommandLine::Action::kVersion;
  } else if (argc >= 4 && std::strcmp(argv[argc - 2], "-o") == 0) {
    line.action = CommandLine::Action::kCompile;
    line.inputs.assign(argv + 1, argv + argc - 2);
    line.output = argv[argc - 1];
  }
  return line;
}

std::string usage_line(const char* program) {
  return std::string("usage: ") + program + " a.txt [b.txt] -o out.stbl\n";
}

}  // namespace stblc
