// qal3: check, print, convert and test the DAQ configuration documents.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli_common.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int, char**);
  const char* summary;
};

const Command kCommands[] = {
    {"evlist", cmd_evlist, "read and print event lists (root BMR)"},
    {"chan", cmd_chan, "print, convert, merge and query channel descriptions"},
    {"trigger", cmd_trigger, "list the trigger registry; print, convert and test trigger lists"},
    {"envdict", cmd_envdict, "print, convert and check environment index dictionaries"},
    {"gige", cmd_gige, "list the features of a GigE camera feature file"},
    {"check", cmd_check, "validate documents against their schemas and report mistakes"},
};

void print_help(FILE* out) {
  std::fputs(
      "Usage: qal3 <command> [options] [FILE...]\n"
      "       qal3 <command> --help\n"
      "\n"
      "Commands:\n",
      out);
  for (const Command& c : kCommands) std::fprintf(out, "  %-9s %s\n", c.name, c.summary);
  std::fputs(
      "\n"
      "A FILE of '-' reads the document from standard input.\n"
      "\n"
      "Exit status:\n"
      "  0  success\n"
      "  1  a document could not be read or written\n"
      "  2  usage error\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    print_help(stderr);
    return cli::kUsage;
  }
  const std::string first = argv[1];
  if (cli::is_help(first) || first == "help") {
    print_help(stdout);
    return cli::kOk;
  }
  if (first == "--version") {
    std::puts("qal3 1.0.0");
    return cli::kOk;
  }
  for (const Command& c : kCommands) {
    if (first == c.name) return c.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "qal3: unknown command '%s'\nTry 'qal3 --help'.\n", first.c_str());
  return cli::kUsage;
}
