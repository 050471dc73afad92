// qal3 check: validates configuration documents against their schemas and
// reports what the lenient readers would silently take differently.
#include <fnmatch.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "check_driver.h"
#include "check_folder.h"
#include "cli_commands.h"
#include "cli_forms.h"
#include "cli_input.h"
#include "cli_output.h"

namespace {

// Adds the names of "NAME,NAME,..." (blanks around each left out) to `out`;
// false when a name is empty.
bool parse_name_list(const std::string& text, std::set<std::string>& out) {
  static const char kBlanks[] = " \t\r\n";
  for (std::size_t begin = 0;;) {
    const std::size_t comma = std::min(text.find(',', begin), text.size());
    const std::size_t b = text.find_first_not_of(kBlanks, begin);
    if (b >= comma) return false;
    out.insert(text.substr(b, text.find_last_not_of(kBlanks, comma - 1) - b + 1));
    if (comma == text.size()) return true;
    begin = comma + 1;
  }
}

// Returns -1 when the arguments are good, else the exit status.
int parse_options(const cli::CommandInfo& command_info, int argc, char** argv, cli::Args& args, check::Options& check,
                  std::vector<std::string>& excludes) {
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  check.strict = args.has("strict");
  for (const auto& opt : args.options) {
    if (opt.first == "known" && !parse_name_list(opt.second, check.known_names))
      return cli::usage_error(command_info.name, "--known: empty name in '" + cli::one_line(opt.second) + "'");
    if (opt.first == "exclude") excludes.push_back(opt.second);
  }
  if (args.operands.empty()) return cli::usage_error(command_info.name, "give at least one file");
  if (cli::stdin_once(command_info.name, args.operands) >= 0) return cli::kUsage;
  return -1;
}

nlohmann::json finding_json(const check::Finding& f) {
  nlohmann::json j = {{"severity", f.severity == check::Severity::kError ? "error" : "warning"},
                      {"message", f.message},
                      {"source", f.from_schema ? "schema" : "check"}};
  if (f.line > 0) {
    j["line"] = f.line;
    j["column"] = f.column;
  }
  return j;
}

nlohmann::json report_json(const std::string& name, const check::Report& report) {
  nlohmann::json entry = {{"file", name}, {"findings", nlohmann::json::array()}};
  if (const check::FamilyInfo* info = check::family_info(report.family)) {
    entry["family"] = info->name;
    entry["root"] = info->root;
  }
  for (const check::Finding& f : report.findings) entry["findings"].push_back(finding_json(f));
  return entry;
}

// A file to check: named on the command line, or found below a folder.
struct Target {
  std::string path;
  bool found = false;  // below a folder
};

// Whether the file `path`, found below `folder`, matches one of `globs`
// (fnmatch(3), no flags) by its path below the folder or by its base name.
bool excluded(const std::string& folder, const std::string& path, const std::vector<std::string>& globs) {
  std::string below = path.compare(0, folder.size(), folder) == 0 ? path.substr(folder.size()) : path;
  below.erase(0, below.find_first_not_of('/'));
  const std::string base = path.substr(path.rfind('/') + 1);
  for (const std::string& glob : globs)
    if (fnmatch(glob.c_str(), below.c_str(), 0) == 0 || fnmatch(glob.c_str(), base.c_str(), 0) == 0) return true;
  return false;
}

// The files named by the operands, a folder standing for the documents
// below it but those `excludes` leaves out; a folder that cannot be read is
// an error of the run.
std::vector<Target> files_of(const std::vector<std::string>& operands, const std::vector<std::string>& excludes,
                             bool& folders, std::size_t& errors) {
  std::vector<Target> files;
  for (const std::string& arg : operands) {
    if (arg == "-" || !check::is_folder(arg)) {
      files.push_back({arg, false});
      continue;
    }
    folders = true;
    std::vector<std::pair<std::string, std::string>> unreadable;
    for (std::string& f : check::documents_below(arg, unreadable))
      if (!excluded(arg, f, excludes)) files.push_back({std::move(f), true});
    for (const auto& u : unreadable) cli::file_error(u.first, u.second);
    errors += unreadable.size();
  }
  return files;
}

// The root element of a document found below a folder when it is no
// family's: such a file is passed over. "" for any other document, and for
// one without a root element (the check reports that).
std::string foreign_root(const cli::Input& in) {
  const cli::Root root = cli::root_of(in);
  return root.family == QAL3_FAMILY_UNKNOWN ? root.name : std::string();
}

// "N of WHAT", WHAT in the plural but for one.
std::string count(std::size_t n, const std::string& what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// "3 files (GigE feature file: 1, trigger list: 2), 1 error, 0 warnings".
std::string summary(std::size_t files, const std::map<std::string, std::size_t>& per_family, std::size_t errors,
                    std::size_t warnings) {
  std::string text = count(files, "file");
  const char* separator = " (";
  for (const auto& f : per_family) {
    text += separator + f.first + ": " + std::to_string(f.second);
    separator = ", ";
  }
  if (!per_family.empty()) text += ")";
  return text + ", " + count(errors, "error") + ", " + count(warnings, "warning");
}

// Adds the findings across the documents to the run's counts and reports
// them: after the files' own in text, in the entry of their file in JSON.
void folder_findings(const check::Folder& folder, const cli::Args& args, bool strict, nlohmann::json& files,
                     std::size_t& errors, std::size_t& warnings) {
  std::map<std::string, std::size_t> entry;
  for (std::size_t i = 0; i < files.size(); ++i) entry.emplace(files[i]["file"].get<std::string>(), i);
  std::string lines;
  for (auto& [file, f] : folder.findings()) {
    if (strict) f.severity = check::Severity::kError;
    ++(f.severity == check::Severity::kError ? errors : warnings);
    const auto it = entry.find(file);
    if (args.json && it != entry.end())
      files[it->second]["findings"].push_back(finding_json(f));
    else if (!args.json && !args.quiet)
      lines += check::format_finding(file, f) + "\n";
  }
  cli::put(lines);
}

}  // namespace

int cmd_check(const cli::CommandInfo& command_info, int argc, char** argv) {
  cli::Args args;
  check::Options options;
  std::vector<std::string> excludes;
  const int rc = parse_options(command_info, argc, argv, args, options, excludes);
  if (rc >= 0) return rc;
  check::Folder folder;
  options.folder = &folder;

  const std::string schema_dir = check::schema_directory();
  bool folders = false;
  std::size_t errors = 0;
  std::size_t warnings = 0;
  const std::vector<Target> targets = files_of(args.operands, excludes, folders, errors);
  std::size_t checked = 0;
  std::map<std::string, std::size_t> per_family;
  nlohmann::json files = nlohmann::json::array();
  nlohmann::json skipped = nlohmann::json::array();
  for (const Target& target : targets) {
    cli::Input in;
    if (!cli::read_input(target.path, args.max_input, in)) {
      if (args.json) files.push_back({{"file", in.name}, {"error", in.error}});
      ++checked;
      ++errors;  // a file that cannot be read is an error of the run
      ++per_family["unread"];
      continue;
    }
    const std::string& name = in.name;
    if (target.found) {
      const std::string root = foreign_root(in);
      if (!root.empty()) {  // another tool's XML file: counted nowhere
        if (args.json)
          skipped.push_back({{"file", name}, {"root", root}});
        else if (!args.quiet)
          cli::file_error(name, "skipped: root element '" + cli::one_line(root) + "' is no family's");
        continue;
      }
    }
    ++checked;
    const check::Report report = check::check_document(name, in.text, schema_dir, options);
    const check::FamilyInfo* info = check::family_info(report.family);
    ++per_family[info ? info->name : "unknown"];
    errors += report.errors();
    warnings += report.warnings();
    if (args.json) {
      files.push_back(report_json(name, report));
    } else if (!args.quiet) {
      std::string lines;
      for (const check::Finding& f : report.findings) lines += check::format_finding(name, f) + "\n";
      cli::put(lines);
    }
  }
  folder_findings(folder, args, options.strict, files, errors, warnings);
  if (args.json && !args.quiet) {
    nlohmann::json result = {{"files", files}, {"families", per_family}, {"errors", errors}, {"warnings", warnings}};
    if (!skipped.empty()) result["skipped"] = skipped;
    cli::print_json(result);
  } else if (folders && !args.quiet) {
    cli::file_error(command_info.name, summary(checked, per_family, errors, warnings));
  }
  // Warnings alone pass; --strict made them errors.
  return errors == 0 ? cli::kOk : cli::kBadDocument;
}
