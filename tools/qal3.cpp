// qal3: check, print, convert and test the DAQ configuration documents.
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

#include "cli_common.h"

namespace {

int run(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(cli::tool_help().c_str(), stderr);
    return cli::kUsage;
  }
  const std::string first = argv[1];
  if (first == "-h" || first == "--help" || first == "help") return cli::put(cli::tool_help()), cli::kOk;
  if (first == "--version") return cli::print_version(), cli::kOk;
  if (first == "--man") return cli::put(cli::man_page()), cli::kOk;
  if (first == "--bash-completion") return cli::put(cli::bash_completion()), cli::kOk;
  for (const cli::CommandInfo& c : cli::commands())
    if (first == c.name && first.find(' ') == std::string::npos) return cli::run_command(c, argc - 1, argv + 1);
  std::fprintf(stderr, "qal3: unknown command '%s'\nTry 'qal3 --help'.\n", first.c_str());
  return cli::kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe ends the run quietly, as for any filter; a file size limit
  // makes the write fail (and the output be discarded) instead of killing.
  std::signal(SIGPIPE, SIG_DFL);
  std::signal(SIGXFSZ, SIG_IGN);
  cli::remove_scratch_on_signals();
  // The libraries' lines come through the tool (see MessageRelay).
  cli::MessageRelay relay;
  int status;
  try {
    status = run(argc, argv);
  } catch (const std::exception& e) {
    cli::flush_stdout();
    std::fprintf(stderr, "qal3: %s\n", e.what());
    status = cli::kBadDocument;
  }
  return cli::finish_stdout(status);
}
