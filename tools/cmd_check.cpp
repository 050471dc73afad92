// qal3 check: validates configuration documents against their schemas and
// reports what the lenient readers would silently take differently.
#include <algorithm>
#include <map>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli_check.h"
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

// Sets `checker` up from the arguments: -1 when they are good, else the
// exit status.
int parse_options(const cli::CommandInfo& command_info, int argc, char** argv, cli::Args& args, qal3_checker* checker) {
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  qal3_check_set_strict(checker, args.has("strict"));
  qal3_check_set_max_bytes(checker, args.max_input);
  for (const auto& opt : args.options) {
    std::set<std::string> names;
    if (opt.first == "known" && !parse_name_list(opt.second, names))
      return cli::usage_error(command_info.name, "--known: empty name in '" + cli::one_line(opt.second) + "'");
    for (const std::string& name : names) qal3_check_know(checker, name.c_str());
    if (opt.first == "exclude") qal3_check_exclude(checker, opt.second.c_str());
  }
  if (args.operands.empty()) return cli::usage_error(command_info.name, "give at least one file");
  if (cli::stdin_once(command_info.name, args.operands) >= 0) return cli::kUsage;
  return -1;
}

nlohmann::json finding_json(const qal3_check_finding& f) {
  nlohmann::json j = {{"severity", f.severity == QAL3_CHECK_ERROR ? "error" : "warning"},
                      {"message", f.message},
                      {"code", f.code},
                      {"source", std::string(f.code) == "schema" ? "schema" : "check"}};
  if (f.line > 0) {
    j["line"] = f.line;
    j["column"] = f.column;
  }
  return j;
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

// What the checker found, as the tool shows it.
class Run {
 public:
  Run(const qal3_checker* checker, const cli::Args& args) : checker_(checker), args_(args) {}

  // Standard input, read by the tool: its reading failed.
  void unread_stdin(const cli::Input& in) {
    ++checked_;
    ++errors_;
    ++per_family_["unread"];
    if (args_.json) stdin_failure_ = {{"file", in.name}, {"error", in.error}};
  }

  // Reports the documents given so far, each with its own findings, then
  // the findings across them; returns the exit status.
  int report(bool folders, const std::string& command) {
    const std::size_t documents = qal3_check_document_count(checker_);
    std::vector<std::vector<const qal3_check_finding*>> own(documents);
    std::vector<const qal3_check_finding*> across;
    for (std::size_t i = 0, n = qal3_check_finding_count(checker_); i < n; ++i) {
      const qal3_check_finding* f = qal3_check_finding_at(checker_, i);
      (f->across ? across : own[f->document]).push_back(f);
    }
    std::vector<std::size_t> entry(documents, kNone);
    if (!stdin_failure_.is_null()) files_.push_back(stdin_failure_);
    for (std::size_t d = 0; d < documents; ++d) document(*qal3_check_document_at(checker_, d), own[d], entry[d]);
    std::string lines;
    for (const qal3_check_finding* f : across)
      if (args_.json && entry[f->document] != kNone)
        files_[entry[f->document]]["findings"].push_back(finding_json(*f));
      else if (!args_.json && !args_.quiet)
        lines += cli::finding_line(*f) + "\n";
    cli::put(lines);
    errors_ += qal3_check_count(checker_, QAL3_CHECK_ERROR);
    const std::size_t warnings = qal3_check_count(checker_, QAL3_CHECK_WARNING);
    if (args_.json && !args_.quiet) {
      nlohmann::json result = {
          {"files", files_}, {"families", per_family_}, {"errors", errors_}, {"warnings", warnings}};
      if (!skipped_.empty()) result["skipped"] = skipped_;
      cli::print_json(result);
    } else if (folders && !args_.quiet) {
      cli::file_error(command, summary(checked_, per_family_, errors_, warnings));
    }
    // Warnings alone pass; --strict made them errors.
    return errors_ == 0 ? cli::kOk : cli::kBadDocument;
  }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  void document(const qal3_check_document& d, const std::vector<const qal3_check_finding*>& findings,
                std::size_t& entry) {
    switch (d.state) {
      case QAL3_CHECK_UNREADABLE_FOLDER:
        cli::file_error(d.name, d.reason);
        return;
      case QAL3_CHECK_SKIPPED:  // another tool's XML file: counted nowhere
        if (args_.json)
          skipped_.push_back({{"file", d.name}, {"root", d.root}});
        else if (!args_.quiet)
          cli::file_error(d.name, "skipped: root element '" + cli::one_line(d.root) + "' is no family's");
        return;
      case QAL3_CHECK_UNREADABLE:
      case QAL3_CHECK_TOO_LARGE: {
        const std::string why = d.state == QAL3_CHECK_TOO_LARGE ? cli::too_large(args_.max_input) : d.reason;
        cli::file_error(d.name, why);
        if (args_.json) files_.push_back({{"file", d.name}, {"error", why}});
        ++checked_;
        ++per_family_["unread"];
        return;
      }
      case QAL3_CHECK_CHECKED:
        break;
    }
    ++checked_;
    const char* family = qal3_family_name(d.family);
    ++per_family_[family ? family : "unknown"];
    if (args_.json) {
      nlohmann::json e = {{"file", d.name}, {"findings", nlohmann::json::array()}};
      if (family) {
        e["family"] = family;
        e["root"] = qal3_family_root(d.family);
      }
      for (const qal3_check_finding* f : findings) e["findings"].push_back(finding_json(*f));
      entry = files_.size();
      files_.push_back(std::move(e));
    } else if (!args_.quiet) {
      std::string lines;
      for (const qal3_check_finding* f : findings) lines += cli::finding_line(*f) + "\n";
      cli::put(lines);
    }
  }

  const qal3_checker* checker_;
  const cli::Args& args_;
  std::size_t checked_ = 0;
  std::size_t errors_ = 0;
  std::map<std::string, std::size_t> per_family_;
  nlohmann::json files_ = nlohmann::json::array();
  nlohmann::json skipped_ = nlohmann::json::array();
  nlohmann::json stdin_failure_;
};

}  // namespace

int cmd_check(const cli::CommandInfo& command_info, int argc, char** argv) {
  cli::Args args;
  const cli::Checker checker = cli::new_checker();
  const int rc = parse_options(command_info, argc, argv, args, checker.get());
  if (rc >= 0) return rc;
  Run run(checker.get(), args);
  bool folders = false;
  for (const std::string& arg : args.operands) {
    int found = 0;
    if (arg == "-") {
      cli::Input in;
      if (cli::read_input(arg, args.max_input, in))
        found = qal3_check_text(checker.get(), in.name.c_str(), in.text.data(), in.text.size());
      else
        run.unread_stdin(in);
    } else if (cli::is_folder(arg)) {
      folders = true;
      found = qal3_check_folder(checker.get(), arg.c_str());
    } else {
      found = qal3_check_file(checker.get(), arg.c_str());
    }
    if (found < 0) throw std::bad_alloc();
  }
  return run.report(folders, command_info.name);
}
