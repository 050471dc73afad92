// The checker (qal3_check.h) as the tool's commands use it.
#ifndef QAL3_CLI_CHECK_H
#define QAL3_CLI_CHECK_H

#include <memory>
#include <string>

#include "qal3_check.h"

namespace cli {

// A checker that frees itself.
using Checker = std::unique_ptr<qal3_checker, void (*)(qal3_checker*)>;

// A new checker; throws std::bad_alloc when memory runs out.
Checker new_checker();

// Whether `path` names a folder (through a symbolic link too).
bool is_folder(const std::string& path);

// A finding as check prints it: "FILE:LINE:COLUMN: error: message".
std::string finding_line(const qal3_check_finding& f);

// For the commands that convert or merge, which warn about what they drop:
// prints the findings of the document `bytes` named `file` on standard
// error as warnings, or as errors with `strict`; with `quiet` (and not
// `strict`) nothing is printed. True when `strict` and something was found:
// the conversion then writes nothing.
bool warn_dropped(const std::string& file, const std::string& bytes, bool strict, bool quiet);

}  // namespace cli

#endif  // QAL3_CLI_CHECK_H
