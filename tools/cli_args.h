// A command's command line: the exit statuses, the arguments parsed against
// the command's options, and the usage errors.
#ifndef QAL3_CLI_ARGS_H
#define QAL3_CLI_ARGS_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace cli {

struct CommandInfo;

// Exit status of every command.
enum Exit : int {
  kOk = 0,           // success, or "yes"
  kBadDocument = 1,  // a document could not be read or written, or "no"
  kUsage = 2         // wrong command line, or (chan select) an error
};

// The most a command reads of one input unless --max-input-size says
// otherwise: generous for real documents, and a stop for endless streams.
constexpr std::size_t kDefaultMaxInput = std::size_t{256} << 20;
// The --max-input-size value that lifts the limit.
constexpr char kUnlimitedInput[] = "unlimited";

// A parsed command line: the options in the order given, then the operands.
struct Args {
  std::vector<std::pair<std::string, std::string>> options;  // name, value
  std::vector<std::string> operands;
  bool quiet = false;
  bool json = false;
  std::size_t max_input = kDefaultMaxInput;  // --max-input-size

  bool has(const std::string& name) const;
  // The last value given for `name` ("" when not given).
  std::string value(const std::string& name) const;
};

// Parses argv (argv[0] the command's last word) with getopt_long against the
// options of `command_info`. Returns -1 to go on; otherwise the exit status: --help
// or --version printed (0), or a usage error reported (2).
int parse(const CommandInfo& command_info, int argc, char** argv, Args& args);

// Prints "qal3 <cmd>: <message>" and the pointer to --help on standard
// error; returns kUsage.
int usage_error(const std::string& cmd, const std::string& message);

// A usage error (kUsage returned) when standard input ("-") is among
// `inputs` more than once, for it can be read only once; -1 otherwise.
int stdin_once(const std::string& cmd, const std::vector<std::string>& inputs);

// Prints the version line.
void print_version();

}  // namespace cli

#endif  // QAL3_CLI_ARGS_H
