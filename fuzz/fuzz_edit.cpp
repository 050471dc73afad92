// The record editor over the input: a first line "ACTION SELECTOR
// FIELD=VALUE..." (words separated by blanks), the document after it. An
// edit that is made must read back (the editor checks that itself) and
// leave every byte before its first change as it was.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "fuzz_common.h"
#include "qal3_family.h"
#include "record_edit.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t eol = input.find('\n');
  if (eol == std::string::npos) return 0;
  std::istringstream words(input.substr(0, eol));
  const std::string document = input.substr(eol + 1);
  std::string action;
  words >> action;
  qal3::edit::Request request;
  request.action = action == "add"    ? qal3::edit::Action::add
                   : action == "drop" ? qal3::edit::Action::drop
                                      : qal3::edit::Action::set;
  if (request.action != qal3::edit::Action::add) words >> request.selector;
  for (std::string w; words >> w;) request.assignments.push_back(w);
  request.all = size & 1;
  const int family = qal3_family_of_text(document.data(), document.size(), nullptr);
  const qal3::edit::Outcome out = qal3::edit::edit_document(family, "input.xml", document, request, size & 2);
  if (out.error.empty() == out.document.empty() && !document.empty()) std::abort();  // one or the other
  if (out.line < 0 || out.column < 0) std::abort();
  return 0;
}
