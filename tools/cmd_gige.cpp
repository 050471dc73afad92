// qal3 gige: list the features of GigE camera feature files.
#include <cstdio>
#include <string>
#include <vector>

#include "cli_common.h"
#include "qal3_gige_descr.h"

namespace {

const char kHelp[] =
    "Usage: qal3 gige [--quiet] FILE...\n"
    "\n"
    "Reads each camera feature file and lists its named features, one line\n"
    "each: position, name, alternative name (when the file renames it), type,\n"
    "tooltip and description. Type numbers: 0 Undefined, 1 Integer, 2 Float,\n"
    "3 Enumeration, 4 Boolean, 5 StringReg, 6 Command, 7 IntReg, 8 Int64.\n"
    "FILE must be a path; external entities and DTDs are never loaded.\n"
    "\n"
    "Options:\n"
    "  -q, --quiet  print only the result line of each file\n"
    "  -h, --help   show this help\n"
    "\n"
    "Exit status: 0 all files read, 1 a file could not be read, 2 usage error.\n";

// The features of one file, destroyed on exit.
struct Features {
  std::vector<QAL3GigEFeature*> list;
  Features() = default;
  Features(const Features&) = delete;
  Features& operator=(const Features&) = delete;
  ~Features() { qal3_clean_gige_descr(&list); }
};

int list_file(const std::string& file, bool quiet) {
  Features features;
  if (qal3_fill_gige_descr(const_cast<char*>(file.c_str()), &features.list)) {
    cli::file_error(file, "feature file not read");
    return cli::kBadDocument;
  }
  if (!quiet) qal3_dump_gige_descr(&features.list);
  std::size_t unnamed = 0;
  for (const QAL3GigEFeature* f : features.list)
    if (f->name.empty()) ++unnamed;
  std::printf("%s: %zu features", file.c_str(), features.list.size());
  if (unnamed) std::printf(" (%zu without a name)", unnamed);
  std::printf("\n");
  return cli::kOk;
}

}  // namespace

int cmd_gige(int argc, char** argv) {
  bool quiet = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (cli::is_help(a)) {
      std::fputs(kHelp, stdout);
      return cli::kOk;
    }
    if (a == "-q" || a == "--quiet") {
      quiet = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return cli::usage_error("gige", "unknown option '" + a + "'");
    } else if (a == "-") {
      return cli::usage_error("gige", "FILE must be a path, not standard input");
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) return cli::usage_error("gige", "no feature file given");

  int status = cli::kOk;
  for (const std::string& f : files)
    if (list_file(f, quiet) != cli::kOk) status = cli::kBadDocument;
  return status;
}
