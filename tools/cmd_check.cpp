// qal3 check: validates configuration documents against their schemas and
// reports what the lenient readers would silently take differently.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "check_driver.h"
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
int parse_options(const cli::CommandInfo& command_info, int argc, char** argv, cli::Args& args, check::Options& check) {
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  check.strict = args.has("strict");
  for (const auto& opt : args.options)
    if (opt.first == "known" && !parse_name_list(opt.second, check.known_names))
      return cli::usage_error(command_info.name, "--known: empty name in '" + cli::one_line(opt.second) + "'");
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

// The files named by the operands, a folder standing for the documents
// below it; a folder that cannot be read is an error of the run.
std::vector<std::string> files_of(const std::vector<std::string>& operands, bool& folders, std::size_t& errors) {
  std::vector<std::string> files;
  for (const std::string& arg : operands) {
    if (arg == "-" || !check::is_folder(arg)) {
      files.push_back(arg);
      continue;
    }
    folders = true;
    std::vector<std::pair<std::string, std::string>> unreadable;
    for (std::string& f : check::documents_below(arg, unreadable)) files.push_back(std::move(f));
    for (const auto& u : unreadable) cli::file_error(u.first, u.second);
    errors += unreadable.size();
  }
  return files;
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

}  // namespace

int cmd_check(const cli::CommandInfo& command_info, int argc, char** argv) {
  cli::Args args;
  check::Options options;
  const int rc = parse_options(command_info, argc, argv, args, options);
  if (rc >= 0) return rc;

  const std::string schema_dir = check::schema_directory();
  bool folders = false;
  std::size_t errors = 0;
  std::size_t warnings = 0;
  const std::vector<std::string> paths = files_of(args.operands, folders, errors);
  bool clean = errors == 0;
  std::map<std::string, std::size_t> per_family;
  nlohmann::json files = nlohmann::json::array();
  for (const std::string& arg : paths) {
    cli::Input in;
    if (!cli::read_input(arg, args.max_input, in)) {
      if (args.json) files.push_back({{"file", in.name}, {"error", in.error}});
      ++errors;  // a file that cannot be read is an error of the run
      ++per_family["unread"];
      clean = false;
      continue;
    }
    const std::string& name = in.name;
    const check::Report report = check::check_document(name, in.text, schema_dir, options);
    const check::FamilyInfo* info = check::family_info(report.family);
    ++per_family[info ? info->name : "unknown"];
    errors += report.errors();
    warnings += report.warnings();
    if (!report.findings.empty()) clean = false;
    if (args.json) {
      files.push_back(report_json(name, report));
    } else if (!args.quiet) {
      std::string lines;
      for (const check::Finding& f : report.findings) lines += check::format_finding(name, f) + "\n";
      cli::put(lines);
    }
  }
  if (args.json && !args.quiet)
    cli::print_json({{"files", files}, {"families", per_family}, {"errors", errors}, {"warnings", warnings}});
  else if (folders && !args.quiet)
    cli::file_error(command_info.name, summary(paths.size(), per_family, errors, warnings));
  return clean ? cli::kOk : cli::kBadDocument;
}
