// qal3 evlist: read and print event lists.
#include <cstdio>
#include <string>
#include <vector>

#include "cli_common.h"
#include "parse_ev_list.h"

namespace {

const char kHelp[] =
    "Usage: qal3 evlist [--quiet] FILE...\n"
    "\n"
    "Reads each event list (root element BMR), prints its entries and reports\n"
    "the result of each file. FILE '-' reads standard input.\n"
    "\n"
    "Options:\n"
    "  -q, --quiet  print only the result line of each file\n"
    "  -h, --help   show this help\n"
    "\n"
    "Exit status: 0 all files read, 1 a file could not be read, 2 usage error.\n";

}  // namespace

int cmd_evlist(int argc, char** argv) {
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
      return cli::usage_error("evlist", "unknown option '" + a + "'");
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) return cli::usage_error("evlist", "no event list given");

  int status = cli::kOk;
  for (const std::string& f : files) {
    cli::Input in;
    if (!cli::open_input(f, in)) {
      status = cli::kBadDocument;
      continue;
    }
    std::vector<qal3_ev_entry*> list;
    const int rc = in.from_stdin ? qal3_parse_ev_list_read(&in.text[0], &list)
                                 : qal3_parse_ev_list_readf(const_cast<char*>(f.c_str()), &list);
    if (!quiet) qal3_print_ev_list(&list);
    std::fflush(stdout);
    if (rc != 0) {
      cli::file_error(in.name, "event list not read (error sum " + std::to_string(rc) + ")");
      status = cli::kBadDocument;
    } else {
      std::printf("%s: %zu event entries read\n", in.name.c_str(), list.size());
    }
    qal3_clean_ev_list(&list);
  }
  return status;
}
