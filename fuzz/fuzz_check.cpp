// The document checks of `qal3 check` over the input: the family by the
// root element, validation against the family's schema, the rules; every
// finding is formatted as the tool prints it. The schemas are the copies
// that the build puts in a "schema" folder next to this program.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "check_driver.h"
#include "fuzz_common.h"

namespace {

std::string schema_dir;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  schema_dir = fuzz::schemas_next_to_program();
  // Without the schemas every input would end at "schema missing".
  const std::string probe = schema_dir + "/triggers.xsd";
  if (access(probe.c_str(), R_OK) != 0) {
    std::fprintf(stderr, "fuzz_check: no schemas in %s\n", schema_dir.c_str());
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  check::Options options;
  options.strict = size & 1;
  if (size & 2) options.known_names = {"MYFUNC", "MYOP"};
  const check::Report report = check::check_document("input.xml", bytes, schema_dir, options);
  size_t errors = 0;
  int line = 0, column = 0;
  for (const check::Finding& f : report.findings) {
    if (f.line < 0 || f.column < 0 || f.message.empty()) std::abort();
    // In document order, and as errors when strict.
    if (f.line < line || (f.line == line && f.column < column)) std::abort();
    line = f.line;
    column = f.column;
    if (options.strict && f.severity != check::Severity::kError) std::abort();
    errors += f.severity == check::Severity::kError;
    (void)check::format_finding("input.xml", f);
  }
  if (errors != report.errors() || report.errors() + report.warnings() != report.findings.size()) std::abort();
  return 0;
}
