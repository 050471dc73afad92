// Checking one document: reading it, validating it against its family's
// schema and running the rules; and the documents below a folder.
#ifndef QAL3_CHECK_DRIVER_H
#define QAL3_CHECK_DRIVER_H

#include <cstddef>
#include <string>
#include <string_view>
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
// schema of its family and checks it.
Report check_document(const std::string& file, std::string_view bytes, const Options& options);

// Whether `path` names a folder (through a symbolic link too).
bool is_folder(const std::string& path);

// The documents below the folder `folder`: the files whose names end in
// ".xml" (in any case), in it and in the folders below it, but for the
// folders reached through a symbolic link and the entries whose names start
// with '.'; sorted by path. A folder that cannot be read is added to
// `unreadable` as its path and the system's reason.
std::vector<std::string> documents_below(const std::string& folder,
                                         std::vector<std::pair<std::string, std::string>>& unreadable);

// Whether the file `path`, found below `folder`, matches one of `globs`
// (fnmatch(3), no flags) by its path below the folder or by its base name.
bool excluded(const std::string& folder, const std::string& path, const std::vector<std::string>& globs);

}  // namespace check

#endif  // QAL3_CHECK_DRIVER_H
