// Checking one document: reading it, validating it against its family's
// schema and running the rules; and the findings as the converting
// commands report them.
#ifndef QAL3_CHECK_DRIVER_H
#define QAL3_CHECK_DRIVER_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "check_rules.h"

namespace check {

// The result of checking one document.
struct Report {
  Family family = Family::kUnknown;
  std::vector<Finding> findings;  // in document order
  std::size_t errors() const;
  std::size_t warnings() const;
};

// Reads `bytes` (the document named `file`), validates it against the
// schema of its family in `schema_dir` and checks it.
Report check_document(const std::string& file, const std::string& bytes, const std::string& schema_dir,
                      const Options& options);

// Prints the findings of `file` on standard error, in the form check gives
// them: as warnings, or as errors with `strict`; with `quiet` (and not
// `strict`) nothing is printed. True when `strict` and something was found:
// the conversion then writes nothing.
// For the commands that convert or merge: they warn about what they drop.
bool warn_dropped(const std::string& file, const std::string& bytes, bool strict, bool quiet);

// Whether `path` names a folder (through a symbolic link too).
bool is_folder(const std::string& path);

// The documents below the folder `folder`: the files whose names end in
// ".xml" (in any case), in it and in the folders below it, but for the
// folders reached through a symbolic link and the entries whose names start
// with '.'; sorted by path. A folder that cannot be read is added to
// `unreadable` as its path and the system's reason.
std::vector<std::string> documents_below(const std::string& folder,
                                         std::vector<std::pair<std::string, std::string>>& unreadable);

}  // namespace check

#endif  // QAL3_CHECK_DRIVER_H
