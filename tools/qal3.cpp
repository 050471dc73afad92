// qal3: check, print, convert and test the DAQ configuration documents.
#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "cli_args.h"
#include "cli_commands.h"
#include "cli_forms.h"
#include "cli_help.h"
#include "cli_messages.h"
#include "cli_output.h"

namespace {

using cli::CommandInfo;

// What a group calls its members in messages: the first word of its
// synopsis ("COMMAND ...", "ACTION ...") in lower case.
std::string member_word(const CommandInfo& group) {
  std::string word(group.synopsis, std::strcspn(group.synopsis, " "));
  std::transform(word.begin(), word.end(), word.begin(), [](unsigned char ch) { return std::tolower(ch); });
  return word;
}

// Answers the first word of the tool's or a group's arguments: none shows
// `help` on standard error, a request for help or the version is answered.
// -1 to go on with the word.
int answered(int argc, char** argv, const std::string& help) {
  if (argc < 2) return std::fputs(help.c_str(), stderr), cli::kUsage;
  const std::string word = argv[1];
  if (word == "-h" || word == "--help" || word == "help") return cli::put(help), cli::kOk;
  if (word == "--version") return cli::print_version(), cli::kOk;
  return -1;
}

// Runs `command_info` on its arguments (argv[0] its name's last word): its
// handler, or for a group the member named by argv[1] (with the group's
// help for -h, --help and help, and --version). Returns the exit status.
int run_command(const CommandInfo& command_info, int argc, char** argv) {
  if (command_info.run) {
    // A command may have members too ("envdict set"): its first word names one.
    if (argc >= 2)
      for (const CommandInfo* member : cli::members(command_info.name))
        if (std::string(command_info.name) + " " + argv[1] == member->name)
          return run_command(*member, argc - 1, argv + 1);
    return command_info.run(command_info, argc, argv);
  }
  const int status = answered(argc, argv, cli::help_text(command_info));
  if (status >= 0) return status;
  const std::string word = argv[1];
  const std::string name = std::string(command_info.name) + " " + word;
  for (const CommandInfo* member : cli::members(command_info.name))
    if (name == member->name) return run_command(*member, argc - 1, argv + 1);
  return cli::usage_error(command_info.name, "unknown " + member_word(command_info) + " '" + word + "'");
}

int run(int argc, char** argv) {
  const int status = answered(argc, argv, cli::tool_help());
  if (status >= 0) return status;
  const std::string first = argv[1];
  if (first == "--man") return cli::put(cli::man_page()), cli::kOk;
  if (first == "--bash-completion") return cli::put(cli::bash_completion()), cli::kOk;
  for (const CommandInfo& c : cli::commands())
    if (first == c.name && first.find(' ') == std::string::npos) return run_command(c, argc - 1, argv + 1);
  std::fprintf(stderr, "qal3: unknown command '%s'\nTry 'qal3 --help'.\n", cli::one_line(first).c_str());
  return cli::kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe ends the run quietly, as for any filter; a file size limit
  // makes the write fail (and the output be discarded) instead of killing.
  std::signal(SIGPIPE, SIG_DFL);
  std::signal(SIGXFSZ, SIG_IGN);
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
