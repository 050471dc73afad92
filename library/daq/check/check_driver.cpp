#include "check_driver.h"

#include <fnmatch.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "check_folder.h"

namespace check {

std::size_t Report::errors() const {
  return static_cast<std::size_t>(
      std::count_if(findings.begin(), findings.end(), [](const Finding& f) { return f.severity == Severity::kError; }));
}

std::size_t Report::warnings() const { return findings.size() - errors(); }

Report check_document(const std::string& file, std::string_view bytes, const Options& options) {
  Report report;
  Document doc(file, bytes);
  const bool readable = doc.read(report.findings);
  report.family = doc.family();
  if (readable) check_rules(doc, bytes, options, report.findings);
  if (readable && options.folder) options.folder->add(file, doc);
  std::stable_sort(report.findings.begin(), report.findings.end(), [](const Finding& a, const Finding& b) {
    return a.line != b.line ? a.line < b.line : a.column < b.column;
  });
  if (options.strict)
    for (Finding& f : report.findings) f.severity = Severity::kError;
  return report;
}

bool is_folder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

namespace {

namespace fs = std::filesystem;

bool is_xml_name(const std::string& name) {
  static const char kXml[] = ".xml";
  const std::size_t n = sizeof kXml - 1;
  if (name.size() <= n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) != kXml[i]) return false;
  return true;
}

void walk(const fs::path& folder, std::vector<std::string>& found,
          std::vector<std::pair<std::string, std::string>>& unreadable) {
  std::error_code ec;
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
  if (ec) unreadable.emplace_back(folder.string(), ec.message());
  for (const fs::directory_entry& e : entries) {
    const std::string name = e.path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code s;
    if (e.is_symlink(s) ? false : e.is_directory(s))
      walk(e.path(), found, unreadable);  // as deep as the file system nests folders
    else if (is_xml_name(name) && e.is_regular_file(s))
      found.push_back(e.path().string());
  }
}

}  // namespace

std::vector<std::string> documents_below(const std::string& folder,
                                         std::vector<std::pair<std::string, std::string>>& unreadable) {
  std::vector<std::string> found;
  walk(folder, found, unreadable);
  std::sort(found.begin(), found.end());
  return found;
}

bool excluded(const std::string& folder, const std::string& path, const std::vector<std::string>& globs) {
  std::string below = path.compare(0, folder.size(), folder) == 0 ? path.substr(folder.size()) : path;
  below.erase(0, below.find_first_not_of('/'));
  const std::string base = path.substr(path.rfind('/') + 1);
  for (const std::string& glob : globs)
    if (fnmatch(glob.c_str(), below.c_str(), 0) == 0 || fnmatch(glob.c_str(), base.c_str(), 0) == 0) return true;
  return false;
}

}  // namespace check
