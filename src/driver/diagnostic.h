// Diagnostics in the form editors and IDEs recognise:
//
//   PATH:LINE:COLUMN: error: MESSAGE
//     the source line, with bytes that would upset a terminal escaped
//           ^
//
// Pure formatting: nothing here prints or fails.

#ifndef STBLC_DRIVER_DIAGNOSTIC_H_
#define STBLC_DRIVER_DIAGNOSTIC_H_

#include <string>
#include <string_view>

#include "line_tracker.h"

namespace stblc {

enum class Severity { kError, kWarning };

// The diagnostic line, the echoed source line and the caret line, each
// ending with a line break. PATH and MESSAGE are kept as they are; colour
// marks the severity with terminal escapes.
std::string format_diagnostic(std::string_view path, const SourceSnippet& where,
                              Severity severity, std::string_view message,
                              bool colour);

// Whether diagnostics on standard error should be coloured: only on a
// terminal, and never when NO_COLOR is set.
bool stderr_wants_colour();

}  // namespace stblc

#endif  // STBLC_DRIVER_DIAGNOSTIC_H_
