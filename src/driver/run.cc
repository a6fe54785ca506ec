#include "run.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "command_line.h"
#include "diagnostic.h"
#include "output_file.h"
#include "scan_source.h"
#include "string_table.h"

namespace stblc {
namespace {

constexpr char kHelp[] =
    "\n"
    "Compiles tagged string sources, pairs of <KEY>key</KEY> and\n"
    "<STR>text</STR>, into one STBL table. Sources are merged in the order\n"
    "given: a later text replaces an earlier one under the same key, and\n"
    "keys match whatever the case of their ASCII letters.\n"
    "\n"
    "Exit status: 0 when the output was written in full, 1 otherwise.\n";

// Past this many warnings for one input, the rest are only counted: a
// table that redefines keys by the thousand is one problem, not thousands.
constexpr uint64_t kMaxWarningsShown = 100;

void print(FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

void print_usage(const char* program) { print(stdout, usage_line(program)); }

// Standard output is flushed first so that a log holding both streams
// shows the messages in the order they happened.
void print_error(const std::string& text) {
  std::fflush(stdout);
  print(stderr, text);
}

std::string quoted(std::string_view text) {
  std::string out = "'";
  out.append(text).push_back('\'');
  return out;
}

std::string without_line_break(std::string message) {
  if (!message.empty() && message.back() == '\n') message.pop_back();
  return message;
}

// Warns of a text that replaces another in a way that loses it by mistake.
void warn_of_lost_text(const ScanWarning& warning, const CommandLine& line,
                       uint32_t file, bool colour) {
  const Origin& before = warning.previous;
  const std::string key = quoted(warning.key);
  const std::string at_before =
      std::to_string(before.line) + ":" + std::to_string(before.column);
  std::string message;
  if (warning.kind == ScanWarning::Kind::kKeyRedefined) {
    message = "key " + key +
              " is defined again; this text replaces the one at " + at_before;
  } else {
    message = "key " + key + " has the same key hash as the key at " +
              line.inputs[before.file] + ":" + at_before +
              "; this text replaces that key's text";
  }
  // Warnings come while standard output holds nothing back, and a flood of
  // them is written in large blocks (see run()).
  print(stderr, format_diagnostic(line.inputs[file], warning.where(),
                                  Severity::kWarning, message, colour));
}

ExitStatus compile(const CommandLine& line) {
  const bool colour = stderr_wants_colour();
  StringTable table;
  for (uint32_t file = 0; file < line.inputs.size(); ++file) {
    const char* input = line.inputs[file];
    ScanContext context;
    context.file = file;
    uint64_t warnings = 0;
    context.warn = [&](const ScanWarning& warning) {
      if (++warnings <= kMaxWarningsShown) {
        warn_of_lost_text(warning, line, file, colour);
      }
    };
    const SourceScan scan = scan_source(table, input, std::move(context));
    if (warnings > kMaxWarningsShown) {
      print(stderr, "stblc: warning: " + quoted(input) + ": " +
                        std::to_string(warnings - kMaxWarningsShown) +
                        " more texts replace earlier ones as above\n");
    }
    switch (scan.read_status) {
      case ReadStatus::kRead:
        break;
      case ReadStatus::kCannotOpen:
        // A build may list optional override files: skip, but say so.
        print_error("stblc: warning: skipping " + quoted(input) + ": " +
                    std::strerror(scan.read_error) + "\n");
        continue;
      case ReadStatus::kFailed:
        print_error("Couldn't read " + quoted(input) + ": " +
                    std::strerror(scan.read_error) + "\n");
        return ExitStatus::kFailure;
    }
    if (const auto& error = scan.result.error) {
      const std::string message = scan_error_message(*error);
      // The plain message on standard output is what scripts have always
      // read; the located one is for people and editors.
      if (is_syntax_error(error->kind)) print(stdout, message);
      print_error(format_diagnostic(input, error->where, Severity::kError,
                                    without_line_break(message), colour));
      return ExitStatus::kFailure;
    }
    std::fflush(stderr);  // this file's warnings before its count line
    std::printf("%" PRIu64 " entries added from '%s'\n", scan.result.count,
                input);
    // Nothing printed is held back should a later input end the run.
    std::fflush(stdout);
  }

  OutputFile output;
  if (!output.open(line.output)) {
    print_error("Couldn't open " + quoted(line.output) + " for writing!\n");
    return ExitStatus::kFailure;
  }
  if (!table.write(output) || !output.commit()) {
    print_error("Couldn't write " + quoted(line.output) + ": " +
                std::strerror(output.error_number()) + "\n");
    return ExitStatus::kFailure;
  }
  return ExitStatus::kSuccess;
}

// The output path, for the out-of-memory message.
const char* g_output = nullptr;

// Called by operator new, and by the table's own large allocations, when
// memory runs out, wherever that happens: ends the run at once, without
// needing memory to do it (throwing would: the exception itself is
// allocated).
[[noreturn]] void out_of_memory() {
  remove_unfinished_output();
  std::fflush(stdout);
  if (g_output) {
    std::fprintf(stderr, "Out of memory! '%s' was not written.\n", g_output);
  } else {
    std::fputs("Out of memory!\n", stderr);
  }
  std::fflush(stderr);
  std::_Exit(static_cast<int>(ExitStatus::kFailure));
}

}  // namespace

ExitStatus run(int argc, const char* const* argv) {
  // Standard error is buffered, and flushed after each input and at exit,
  // so that thousands of warnings cost a few writes, not one each.
  static char stderr_buffer[1 << 16];
  std::setvbuf(stderr, stderr_buffer, _IOFBF, sizeof stderr_buffer);
  if (argc >= 2) g_output = argv[argc - 1];
  std::set_new_handler(out_of_memory);

  const CommandLine line = parse_command_line(argc, argv);
  switch (line.action) {
    case CommandLine::Action::kUsageError:
      print_usage(line.program);
      return ExitStatus::kFailure;
    case CommandLine::Action::kHelp:
      print_usage(line.program);
      print(stdout, kHelp);
      return ExitStatus::kSuccess;
    case CommandLine::Action::kVersion:
      print(stdout, "stblc " STBLC_VERSION "\n");
      return ExitStatus::kSuccess;
    case CommandLine::Action::kCompile:
      break;
  }
  try {
    return compile(line);
  } catch (const std::bad_alloc&) {
    // The output file, if it was begun, has been removed on the way here.
    // Nothing here may allocate.
    std::fflush(stdout);
    std::fprintf(stderr, "Out of memory! '%s' was not written.\n", line.output);
    return ExitStatus::kFailure;
  }
}

}  // namespace stblc
