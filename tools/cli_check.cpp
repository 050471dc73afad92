#include "cli_check.h"

#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>

#include "cli_output.h"

namespace cli {

Checker new_checker() {
  Checker c(qal3_check_new(), qal3_check_free);
  if (!c) throw std::bad_alloc();
  return c;
}

bool is_folder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

std::string finding_line(const qal3_check_finding& f) {
  std::string line(qal3_check_format(&f, nullptr, 0), '\0');
  qal3_check_format(&f, &line[0], line.size() + 1);
  return line;
}

bool warn_dropped(const std::string& file, const std::string& bytes, bool strict, bool quiet) {
  const Checker checker = new_checker();
  if (qal3_check_text(checker.get(), file.c_str(), bytes.data(), bytes.size()) < 0) throw std::bad_alloc();
  const std::size_t found = qal3_check_finding_count(checker.get());
  if (quiet && !strict) return false;
  flush_stdout();
  for (std::size_t i = 0; i < found; ++i) {
    qal3_check_finding f = *qal3_check_finding_at(checker.get(), i);
    f.severity = strict ? QAL3_CHECK_ERROR : QAL3_CHECK_WARNING;
    std::fprintf(stderr, "%s\n", finding_line(f).c_str());
  }
  return strict && found > 0;
}

}  // namespace cli
