// What is made from the command table for people: --help, the manual page
// qal3(1) and the bash completion script.
#ifndef QAL3_CLI_HELP_H
#define QAL3_CLI_HELP_H

#include <string>

#include "cli_commands.h"

namespace cli {

// The --help text of a command (ends with its exit statuses).
std::string help_text(const CommandInfo& command_info);
// The help of the whole tool, the manual page qal3(1) and the bash
// completion script, all made from commands().
std::string tool_help();
std::string man_page();
std::string bash_completion();

}  // namespace cli

#endif  // QAL3_CLI_HELP_H
