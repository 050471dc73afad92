// What a schema cannot say about a configuration document: repeated keys,
// texts longer than their record field, numbers out of range or beyond what
// the writers keep, names the trigger registry does not know.
#ifndef QAL3_CHECK_RULES_H
#define QAL3_CHECK_RULES_H

#include <set>
#include <string>
#include <vector>

#include "check_document.h"
#include "cli_common.h"

namespace check {

struct Options {
  // Function and operation names a site registers itself.
  std::set<std::string> known_names;
  // Warnings count as errors.
  bool strict = false;
};

// Runs the checks of the document's family on its tree and adds their
// findings to `out`, which holds the schema's: a schema finding that a
// check says better (the same fault, with what the reader makes of it) is
// taken out.
void check_rules(const Document& doc, const Options& options, std::vector<Finding>& out);

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
// `strict`) nothing is printed. Returns the number of findings.
// For the commands that convert or merge: they warn about what they drop.
std::size_t warn_dropped(const std::string& file, const std::string& bytes, bool strict, bool quiet);

// warn_dropped for each document read from the command line; true when
// `strict` and something was found.
bool warn_dropped_inputs(const std::vector<cli::Input>& inputs, bool strict, bool quiet);

// Parses "NAME,NAME,..." into `out`; false when a name is empty.
bool parse_name_list(const std::string& text, std::set<std::string>& out);

}  // namespace check

#endif  // QAL3_CHECK_RULES_H
