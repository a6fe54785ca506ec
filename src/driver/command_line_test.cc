#include "command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace stblc {
namespace {

using Action = CommandLine::Action;

struct Case {
  std::vector<const char*> argv;
  Action action;
  std::vector<std::string> inputs;
  std::string output;
};

TEST(CommandLine, Forms) {
  const Case cases[] = {
      {{"stblc", "a.txt", "-o", "out.stbl"},
       Action::kCompile,
       {"a.txt"},
       "out.stbl"},
      {{"stblc", "a", "b", "-o", "o"}, Action::kCompile, {"a", "b"}, "o"},
      // Only the next-to-last "-o" is an option; everything else is a path.
      {{"stblc", "a.txt", "-o", "b.txt", "-o", "out.stbl"},
       Action::kCompile,
       {"a.txt", "-o", "b.txt"},
       "out.stbl"},
      {{"stblc", "--help", "-o", "o"}, Action::kCompile, {"--help"}, "o"},
      {{"stblc", "-o", "-o", "-o"}, Action::kCompile, {"-o"}, "-o"},
      {{"stblc", "--help"}, Action::kHelp, {}, ""},
      {{"stblc", "--version"}, Action::kVersion, {}, ""},
      {{"stblc"}, Action::kUsageError, {}, ""},
      {{"stblc", "a.txt"}, Action::kUsageError, {}, ""},
      {{"stblc", "a.txt", "-o"}, Action::kUsageError, {}, ""},
      {{"stblc", "-o", "out.stbl"}, Action::kUsageError, {}, ""},
      {{"stblc", "a.txt", "-O", "out.stbl"}, Action::kUsageError, {}, ""},
      {{"stblc", "a.txt", "out.stbl", "-o"}, Action::kUsageError, {}, ""},
      {{"stblc", "-o", "out.stbl", "a.txt"}, Action::kUsageError, {}, ""},
      {{"stblc", "a.txt", "--o", "out.stbl"}, Action::kUsageError, {}, ""},
      {{"stblc", "--help", "x"}, Action::kUsageError, {}, ""},
      {{"stblc", "-help"}, Action::kUsageError, {}, ""},
  };
  for (const Case& c : cases) {
    const CommandLine line =
        parse_command_line(static_cast<int>(c.argv.size()), c.argv.data());
    std::string call;
    for (const char* a : c.argv) call += std::string(a) + " ";
    EXPECT_EQ(line.action, c.action) << call;
    EXPECT_EQ(std::vector<std::string>(line.inputs.begin(), line.inputs.end()),
              c.inputs)
        << call;
    EXPECT_EQ(line.output ? line.output : "", c.output) << call;
  }
}

TEST(CommandLine, UsageLineNamesTheProgramAsInvoked) {
  const char* argv[] = {"./bin/stblc", "x"};
  const CommandLine line = parse_command_line(2, argv);
  EXPECT_EQ(usage_line(line.program),
            "usage: ./bin/stblc a.txt [b.txt] -o out.stbl\n");
  // An empty argument vector is possible with execve.
  EXPECT_STREQ(parse_command_line(0, nullptr).program, "stblc");
}

}  // namespace
}  // namespace stblc
