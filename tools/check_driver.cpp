#include "check_driver.h"

#include <algorithm>
#include <cstdio>

namespace check {

std::size_t Report::errors() const {
  return static_cast<std::size_t>(
      std::count_if(findings.begin(), findings.end(), [](const Finding& f) { return f.severity == Severity::kError; }));
}

std::size_t Report::warnings() const { return findings.size() - errors(); }

Report check_document(const std::string& file, const std::string& bytes, const std::string& schema_dir,
                      const Options& options) {
  Report report;
  Document doc(file, bytes);
  const bool readable = doc.read(schema_dir, report.findings);
  report.family = doc.family();
  if (readable) check_rules(doc, options, report.findings);
  std::stable_sort(report.findings.begin(), report.findings.end(), [](const Finding& a, const Finding& b) {
    return a.line != b.line ? a.line < b.line : a.column < b.column;
  });
  if (options.strict)
    for (Finding& f : report.findings) f.severity = Severity::kError;
  return report;
}

bool warn_dropped(const std::string& file, const std::string& bytes, bool strict, bool quiet) {
  const Report report = check_document(file, bytes, schema_directory(), Options());
  if (quiet && !strict) return false;
  std::fflush(stdout);
  for (Finding f : report.findings) {
    f.severity = strict ? Severity::kError : Severity::kWarning;
    std::fprintf(stderr, "%s\n", format_finding(file, f).c_str());
  }
  return strict && !report.findings.empty();
}

}  // namespace check
