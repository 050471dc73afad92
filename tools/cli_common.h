// Shared pieces of the qal3 subcommands: exit codes, documents given as a
// path or "-" (standard input), option helpers.
#ifndef QAL3_CLI_COMMON_H
#define QAL3_CLI_COMMON_H

#include <string>
#include <vector>

namespace cli {

// Exit status of every subcommand.
enum Exit : int {
  kOk = 0,        // success
  kBadDocument = 1,  // a document could not be read or written
  kUsage = 2      // wrong command line
};

// A document named on the command line: a path, or "-" for standard input
// (read whole into memory, so readers use their memory twin).
struct Input {
  std::string name;  // as given ("-" shown as "<stdin>")
  bool from_stdin = false;
  std::string text;  // the document when from_stdin
};

// Prepares `arg` as an input; false (message printed) when stdin cannot be read.
bool open_input(const std::string& arg, Input& in);

// Prints "qal3 <cmd>: <message>" on standard error and returns kUsage.
int usage_error(const char* cmd, const std::string& message);

// Prints "qal3: <file>: <message>" on standard error.
void file_error(const std::string& file, const std::string& message);

// True for "-h" and "--help".
bool is_help(const std::string& arg);

// Reads the whole of a file or standard input ("-"); false on failure.
bool read_all(const std::string& path, std::string& out);

}  // namespace cli

// The subcommands: argv[0] is the subcommand's name.
int cmd_evlist(int argc, char** argv);
int cmd_chan(int argc, char** argv);
int cmd_trigger(int argc, char** argv);
int cmd_envdict(int argc, char** argv);
int cmd_gige(int argc, char** argv);
int cmd_check(int argc, char** argv);

#endif  // QAL3_CLI_COMMON_H
