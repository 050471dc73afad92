// What a schema cannot say about a configuration document: repeated keys,
// texts longer than their record field, numbers out of range or beyond what
// the writers keep, names the trigger registry does not know, and what a
// camera feature file's reader makes of it.
#ifndef QAL3_CHECK_RULES_H
#define QAL3_CHECK_RULES_H

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "check_document.h"

namespace check {

class Folder;  // check_folder.h

struct Options {
  // Function and operation names a site registers itself.
  std::set<std::string> known_names;
  // Warnings count as errors.
  bool strict = false;
  // Takes the names of each document checked, for the findings across
  // documents; not owned, none when null.
  Folder* folder = nullptr;
};

// Runs the checks of the document's family on its tree (and, for a family
// whose reader is asked what it makes of the document, on `bytes`, the
// document's bytes) and adds their findings to `out`, which holds the
// schema's: a schema finding that a check says better (the same fault,
// with what the reader makes of it) is taken out.
void check_rules(const Document& doc, std::string_view bytes, const Options& options, std::vector<Finding>& out);

// `s` without the white space (space, tab, carriage return, newline)
// around it.
std::string trim(std::string_view s);

// `s` with its ASCII letters in upper case.
std::string upper(std::string s);

}  // namespace check

#endif  // QAL3_CHECK_RULES_H
