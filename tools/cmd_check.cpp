// qal3 check: validates configuration documents against their schemas and
// reports what the lenient readers would silently take differently.
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "check_rules.h"
#include "cli_common.h"

namespace {

const char kCmd[] = "check";

const char kHelp[] =
    "Usage: qal3 check [OPTION]... FILE...\n"
    "\n"
    "Checks each FILE, a configuration document of one of these families,\n"
    "found by its root element:\n"
    "  BMR                  event list\n"
    "  CHANDESCRIPTIONS     channel descriptions\n"
    "  DAQvariables         channel descriptions, DAQvariables format\n"
    "  ENVINDEXDICT         environment index dictionary\n"
    "  QAL3USERTRIGGERLIST  trigger list\n"
    "\n"
    "The document is validated against the family's XML Schema (installed in\n"
    "share/qal3/schema), then checked for what a schema cannot say: repeated\n"
    "properties, DAQ names and indexes, texts longer than their field, numbers\n"
    "the writers do not keep, event and data types out of range, function and\n"
    "operation names the trigger registry does not know. Each finding is a\n"
    "line 'FILE:LINE:COLUMN: error|warning: message' on standard output; a\n"
    "clean file gives no output. FILE '-' reads standard input.\n"
    "\n"
    "Options:\n"
    "      --json          print the findings as one JSON document\n"
    "      --known NAME,...  function or operation names that a site registers\n"
    "                      itself; they are not reported as unknown\n"
    "      --strict        report warnings as errors\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status:\n"
    "  0  every file is clean\n"
    "  1  a file has findings or cannot be read\n"
    "  2  usage error\n";

struct Args {
  bool json = false;
  check::Options options;
  std::vector<std::string> files;
};

enum Opt { kJson = 256, kKnown, kStrict };

// Returns -1 when the arguments are good, else the exit status.
int parse_args(int argc, char** argv, Args& args) {
  static const option kLong[] = {{"json", no_argument, nullptr, kJson},
                                 {"known", required_argument, nullptr, kKnown},
                                 {"strict", no_argument, nullptr, kStrict},
                                 {"help", no_argument, nullptr, 'h'},
                                 {nullptr, 0, nullptr, 0}};
  opterr = 0;
  optind = 0;
  for (;;) {
    const int c = getopt_long(argc, argv, "+:h", kLong, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'h': std::fputs(kHelp, stdout); return cli::kOk;
      case kJson: args.json = true; break;
      case kStrict: args.options.strict = true; break;
      case kKnown:
        if (!check::parse_name_list(optarg, args.options.known_names))
          return cli::usage_error(kCmd, "--known: empty name in '" + std::string(optarg) + "'");
        break;
      case ':': return cli::usage_error(kCmd, std::string("option '") + argv[optind - 1] + "' needs a value");
      default: return cli::usage_error(kCmd, std::string("unknown option '") + argv[optind - 1] + "'");
    }
  }
  for (int i = optind; i < argc; ++i) args.files.emplace_back(argv[i]);
  if (args.files.empty()) return cli::usage_error(kCmd, "give at least one file");
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

bool write_out(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

}  // namespace

int cmd_check(int argc, char** argv) {
  Args args;
  const int rc = parse_args(argc, argv, args);
  if (rc >= 0) return rc;

  const std::string schema_dir = check::schema_directory();
  bool clean = true;
  bool written = true;
  std::size_t errors = 0;
  std::size_t warnings = 0;
  nlohmann::json files = nlohmann::json::array();
  for (const std::string& path : args.files) {
    const std::string name = path == "-" ? "<stdin>" : path;
    std::string bytes;
    if (!cli::read_all(path, bytes)) {
      const std::string why = std::string("cannot read: ") + std::strerror(errno);
      cli::file_error(name, why);
      if (args.json) files.push_back({{"file", name}, {"error", why}});
      clean = false;
      continue;
    }
    const check::Report report = check::check_document(name, bytes, schema_dir, args.options);
    errors += report.errors();
    warnings += report.warnings();
    if (!report.findings.empty()) clean = false;
    if (args.json) {
      nlohmann::json entry = {{"file", name}, {"findings", nlohmann::json::array()}};
      if (const check::FamilyInfo* info = check::family_info(report.family)) {
        entry["family"] = info->name;
        entry["root"] = info->root;
      }
      for (const check::Finding& f : report.findings) entry["findings"].push_back(finding_json(f));
      files.push_back(entry);
    } else {
      for (const check::Finding& f : report.findings) written = write_out(check::format_finding(name, f) + "\n") && written;
    }
  }
  if (args.json) {
    const nlohmann::json doc = {{"files", files}, {"errors", errors}, {"warnings", warnings}};
    written = write_out(doc.dump(2) + "\n") && written;
  }
  if (std::fflush(stdout) != 0 || !written) {
    std::fprintf(stderr, "qal3: <stdout>: write failed\n");
    return cli::kBadDocument;
  }
  return clean ? cli::kOk : cli::kBadDocument;
}
