// Shared pieces of the qal3 commands: exit statuses, the one option table
// and the command descriptions that --help, the manual page and the bash
// completion are all made from, documents given as a path or "-", output
// written whole or not at all, library messages kept off standard output,
// and the helpers of the one-line and JSON forms.
#ifndef QAL3_CLI_COMMON_H
#define QAL3_CLI_COMMON_H

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace cli {

// Exit status of every command.
enum Exit : int {
  kOk = 0,           // success, or "yes"
  kBadDocument = 1,  // a document could not be read or written, or "no"
  kUsage = 2         // wrong command line, or (chan select) an error
};

// ---------------------------------------------------------------------------
// Options and command descriptions.

// One option of the tool. A letter stands for the same option in every
// command; `arg` names the value (null: none).
struct OptionInfo {
  const char* name;
  char letter;  // 0: long form only
  const char* arg;
};

// The option called `name` in the one table (null when there is none).
const OptionInfo* find_option(const std::string& name);

// An option as one command uses it, with that command's help text.
struct OptionUse {
  const char* name;
  const char* help;
};

// Everything --help, the manual page and the completion say of a command.
// Every command also takes --help, --quiet and --version.
struct CommandInfo {
  const char* name;       // "evlist", "chan print", ...
  const char* synopsis;   // after "qal3 <name> ", e.g. "[OPTION]... FILE..."
  const char* summary;    // one line
  std::string text;       // the description, paragraphs separated by "\n\n"
  std::vector<OptionUse> options;
  const char* exit_status;  // lines "N  meaning"; null: the usual three
};

// Every command, the groups ("chan", "trigger") included, in help order.
const std::vector<CommandInfo>& commands();
// The command called `name`; throws std::out_of_range when there is none.
const CommandInfo& command(const std::string& name);

// The --help text of a command (ends with its exit statuses).
std::string help_text(const CommandInfo& command_info);
// The help of the whole tool, the manual page qal3(1) and the bash
// completion script, all made from commands().
std::string tool_help();
std::string man_page();
std::string bash_completion();

// A parsed command line: the options in the order given, then the operands.
struct Args {
  std::vector<std::pair<std::string, std::string>> options;  // name, value
  std::vector<std::string> operands;
  bool quiet = false;
  bool json = false;

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

// Prints "qal3: <where>: <message>" on standard error.
void file_error(const std::string& where, const std::string& message);

// Prints the version line.
void print_version();

// ---------------------------------------------------------------------------
// Input.

// A document named on the command line: a path, or "-" for standard input.
struct Input {
  std::string arg;   // as given
  std::string name;  // as shown in messages: the path, or "<stdin>"
  bool from_stdin = false;
  std::string text;  // the whole document
};

// Reads the whole of `arg` (a path or "-"). False, with a message giving the
// system's reason ("No such file or directory", "Is a directory"), when
// that fails.
bool read_input(const std::string& arg, Input& in);

// Reads the whole of a path or "-" into `out`; false (errno set) on failure.
bool read_all(const std::string& path, std::string& out);

// The name of the root element of an XML text, "" when none can be found.
std::string root_element(const std::string& xml);

// A scratch copy of a text, for readers that take only a path; removed on
// destruction.
class ScratchFile {
 public:
  ScratchFile() = default;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile();
  bool create(const std::string& text);  // false (message printed) on failure
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// ---------------------------------------------------------------------------
// Library messages.

// While alive, what the libraries print on standard output or standard
// error is collected; on destruction it goes to standard error, XML errors
// as "NAME:LINE:COLUMN: message" with the document shown as `name` (the
// libraries call a memory document or a scratch copy by `system_id`).
// Bookkeeping lines of the writers ("file ... has been created") and blank
// lines are left out.
class LibraryMessages {
 public:
  LibraryMessages(std::string name, std::string system_id);
  LibraryMessages(const LibraryMessages&) = delete;
  LibraryMessages& operator=(const LibraryMessages&) = delete;
  ~LibraryMessages();
  // Ends the collection now (as the destructor does).
  void release();

 private:
  std::string name_;
  std::string system_id_;
  std::FILE* sink_ = nullptr;
  int saved_out_ = -1;
  int saved_err_ = -1;
};

// Rewrites the collected library text as described above (for tests too).
std::string relay_text(const std::string& text, const std::string& name, const std::string& system_id);

// The name the memory readers give their document.
extern const char kMemoryId[];

// ---------------------------------------------------------------------------
// Output.

// The destination of a command's document: "-" (standard output) or a
// file, which is written whole or not at all: the data goes to a scratch
// file in the same folder that replaces FILE only once everything has been
// written and closed. On any failure FILE stays as it was and the scratch
// file is removed.
class Output {
 public:
  explicit Output(std::string target);
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output();

  // Creates the scratch file; false (message printed) on failure.
  bool open();
  // The scratch file, for writers that take a path.
  const std::string& scratch_path() const { return scratch_; }
  // Appends to the scratch file; false (message printed) on failure.
  bool write(const std::string& data);
  // Puts the result in place (or on standard output); false (message
  // printed, nothing left behind) on failure.
  bool commit();
  // How the destination is shown in messages.
  const std::string& name() const { return name_; }

 private:
  void discard();
  std::string target_;
  std::string name_;
  std::string scratch_;
  int fd_ = -1;
};

// Writes to standard output through stdio; false (and the stream's error
// flag) on failure.
bool put(const std::string& text);

// Flushes standard output at the end of a run. A failed write prints a
// message and turns `status` into 1; a closed pipe ends quietly.
int finish_stdout(int status);

// ---------------------------------------------------------------------------
// Record forms.

// `text` on one line: backslash, newline, carriage return and tab shown as
// \\, \n, \r and \t.
std::string one_line(const std::string& text);

// A float as JSON number: its shortest decimal text (null for NaN and the
// infinities, as JSON has no such numbers).
nlohmann::json json_float(float v);

// A C string field of a record: the text up to its NUL or the field's end.
template <std::size_t N>
std::string field_text(const char (&field)[N]) {
  std::size_t n = 0;
  while (n < N && field[n] != '\0') ++n;
  return std::string(field, n);
}

// Prints one JSON document, pretty or compact, with a final newline.
void print_json(const nlohmann::json& doc);

}  // namespace cli

// The commands: argv[0] is the command's name.
int cmd_evlist(int argc, char** argv);
int cmd_chan(int argc, char** argv);
int cmd_trigger(int argc, char** argv);
int cmd_envdict(int argc, char** argv);
int cmd_gige(int argc, char** argv);
int cmd_check(int argc, char** argv);

#endif  // QAL3_CLI_COMMON_H
