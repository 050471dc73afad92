// The checking library over the input: the family by the root element,
// validation against the family's schema, the rules; every finding is
// formatted as the tool prints it, into a buffer too small as well.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fuzz_common.h"
#include "qal3_check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::unique_ptr<qal3_checker, void (*)(qal3_checker*)> checker(qal3_check_new(), qal3_check_free);
  if (!checker) return 0;
  const bool strict = size & 1;
  qal3_check_set_strict(checker.get(), strict);
  if (size & 2) {
    qal3_check_know(checker.get(), "MYFUNC");
    qal3_check_know(checker.get(), "MYOP");
  }
  const int errors = qal3_check_text(checker.get(), "input.xml", reinterpret_cast<const char*>(data), size);
  if (errors < 0) return 0;  // out of memory
  long long line = 0, column = 0;
  const size_t found = qal3_check_finding_count(checker.get());
  for (size_t i = 0; i < found; ++i) {
    const qal3_check_finding* f = qal3_check_finding_at(checker.get(), i);
    if (f->line < 0 || f->column < 0 || !*f->message || !*f->code || f->document != 0) std::abort();
    // In document order, and as errors when strict.
    if (f->line < line || (f->line == line && f->column < column)) std::abort();
    line = f->line;
    column = f->column;
    if (strict && f->severity != QAL3_CHECK_ERROR) std::abort();
    char small[8];
    if (qal3_check_format(f, small, sizeof small) < 8) std::abort();
  }
  if (static_cast<size_t>(errors) != qal3_check_count(checker.get(), QAL3_CHECK_ERROR) ||
      qal3_check_count(checker.get(), QAL3_CHECK_WARNING) + static_cast<size_t>(errors) != found)
    std::abort();
  return 0;
}
