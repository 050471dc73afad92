// The commands and options of qal3: one table that --help, the manual page,
// the bash completion and the dispatch all read.
#ifndef QAL3_CLI_COMMANDS_H
#define QAL3_CLI_COMMANDS_H

#include <string>
#include <vector>

namespace chan_docs {
struct Writing;
}

namespace cli {

// One option of the tool. A letter stands for the same option in every
// command; `arg` names the value (null: none).
struct OptionInfo {
  const char* name;
  char letter;  // 0: long form only
  const char* arg;
};

// The option called `name` in the one table (null when there is none).
const OptionInfo* find_option(const std::string& name);

// An option as one command uses it, with that command's help text and,
// for the completion, the values it takes (words separated by blanks).
struct OptionUse {
  const char* name;
  const char* help;
  const char* values = nullptr;
};

// The questions of chan select, in help order.
extern const char* const kSelectQuestions[6];

struct CommandInfo;

// A command's handler, given its entry: argv[0] is the command's last word;
// returns the exit status.
using Handler = int (*)(const CommandInfo& command_info, int argc, char** argv);

// Everything --help, the manual page and the completion say of a command,
// and the handler that runs it. Every command also takes --help, --quiet
// and --version.
struct CommandInfo {
  const char* name;      // "evlist", "chan print", ...
  const char* synopsis;  // after "qal3 <name> ", e.g. "[OPTION]... FILE..."
  const char* summary;   // one line
  std::string text;      // the description, paragraphs separated by "\n\n"
  std::vector<OptionUse> options;
  const char* exit_status;                      // lines "N  meaning"; null: the usual three
  Handler run;                                  // null for a group ("chan", "trigger")
  const chan_docs::Writing* writing = nullptr;  // what cmd_chan_write does for this command
};

// Every command, the groups ("chan", "trigger") included, in help order.
const std::vector<CommandInfo>& commands();

// The commands of a group ("chan print", ... for "chan").
std::vector<const CommandInfo*> members(const std::string& group);

}  // namespace cli

// The commands' handlers, one file each (cmd_<name>.cpp; cmd_chan_write in
// chan_documents.cpp), named in the command table (cli_commands.cpp).
int cmd_evlist(const cli::CommandInfo& command_info, int argc, char** argv);
int cmd_chan_print(const cli::CommandInfo& command_info, int argc, char** argv);
int cmd_edit(const cli::CommandInfo& command_info, int argc, char** argv);
int cmd_chan_write(const cli::CommandInfo& command_info, int argc, char** argv);
int cmd_chan_select(const cli::CommandInfo& command_info, int argc, char** argv);
int cmd_trigger_registry(const cli::CommandInfo& command_info, int argc, char** argv);
int cmd_trigger_print(const cli::CommandInfo& command_info, int argc, char** argv);
int cmd_trigger_convert(const cli::CommandInfo& command_info, int argc, char** argv);
int cmd_trigger_test(const cli::CommandInfo& command_info, int argc, char** argv);
int cmd_envdict(const cli::CommandInfo& command_info, int argc, char** argv);
int cmd_gige(const cli::CommandInfo& command_info, int argc, char** argv);
int cmd_check(const cli::CommandInfo& command_info, int argc, char** argv);
int cmd_diff(const cli::CommandInfo& command_info, int argc, char** argv);
int cmd_show(const cli::CommandInfo& command_info, int argc, char** argv);

#endif  // QAL3_CLI_COMMANDS_H
