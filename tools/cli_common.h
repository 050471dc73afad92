// Shared pieces of the qal3 commands: exit statuses, the one option table
// and the command descriptions that --help, the manual page and the bash
// completion are all made from, documents given as a path or "-", output
// written whole or not at all, the libraries' messages relayed by name,
// and the helpers of the one-line and JSON forms.
#ifndef QAL3_CLI_COMMON_H
#define QAL3_CLI_COMMON_H

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "qal3_messages.h"

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

// An option as one command uses it, with that command's help text and,
// for the completion, the values it takes (words separated by blanks).
struct OptionUse {
  const char* name;
  const char* help;
  const char* values = nullptr;
};

// The questions of chan select, in help order.
extern const char* const kSelectQuestions[6];

// A command's handler: argv[0] is the command's last word; returns the
// exit status.
using Handler = int (*)(int argc, char** argv);

// Everything --help, the manual page and the completion say of a command,
// and the handler that runs it. Every command also takes --help, --quiet
// and --version.
struct CommandInfo {
  const char* name;       // "evlist", "chan print", ...
  const char* synopsis;   // after "qal3 <name> ", e.g. "[OPTION]... FILE..."
  const char* summary;    // one line
  std::string text;       // the description, paragraphs separated by "\n\n"
  std::vector<OptionUse> options;
  const char* exit_status;  // lines "N  meaning"; null: the usual three
  Handler run;              // null for a group ("chan", "trigger"): see run_command
};

// Every command, the groups ("chan", "trigger") included, in help order.
const std::vector<CommandInfo>& commands();
// The command called `name`; throws std::out_of_range when there is none.
const CommandInfo& command(const std::string& name);

// Runs `command_info` on its arguments (argv[0] its name's last word): its
// handler, or for a group the member named by argv[1] (with the group's
// help for -h, --help and help, and --version). Returns the exit status.
int run_command(const CommandInfo& command_info, int argc, char** argv);

// The --help text of a command (ends with its exit statuses).
std::string help_text(const CommandInfo& command_info);
// The help of the whole tool, the manual page qal3(1) and the bash
// completion script, all made from commands().
std::string tool_help();
std::string man_page();
std::string bash_completion();

// The most a command reads of one input unless --max-input-size says
// otherwise: generous for real documents, and a stop for endless streams.
constexpr std::size_t kDefaultMaxInput = std::size_t{256} << 20;

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

// Prints "qal3: <where>: <message>" on standard error.
void file_error(const std::string& where, const std::string& message);

// Prints the version line.
void print_version();

// ---------------------------------------------------------------------------
// Input.

// "SIZE" of --max-input-size: a number of bytes, optionally followed by K,
// M or G (1024, 1024^2, 1024^3). False when the text is no such size or the
// size does not fit this system.
bool parse_size(const std::string& text, std::size_t& out);
// A size as a person reads it: "256 MiB", "10 KiB", "1000 bytes".
std::string size_text(std::size_t bytes);

// A document named on the command line: a path, or "-" for standard input.
struct Input {
  std::string arg;   // as given
  std::string name;  // as shown in messages: the path, or "<stdin>"
  bool from_stdin = false;
  std::string text;   // the whole document, as read once
  std::string error;  // why it could not be read ("" when it was)
};

// Reads the whole of `arg` (a path or "-"), once, through one descriptor:
// files, pipes, FIFOs and terminals alike. More than `limit` bytes (a
// regular file larger than that, or a stream that goes past it) is refused
// as soon as it shows. False, with a message naming the file and the
// system's reason ("No such file or directory", "Is a directory") or the
// limit, when that fails.
bool read_input(const std::string& arg, std::size_t limit, Input& in);

// The name of the root element of an XML text, "" when none can be found;
// `at` (when not null) gets the offset of its '<'.
std::string root_element(const std::string& xml, std::size_t* at = nullptr);

// Prints "NAME:LINE:COLUMN: message" on standard error, the position being
// byte `offset` of the input's text.
void document_error(const Input& in, std::size_t offset, const std::string& message);

// The bytes of an input in an anonymous memory file (no file in any
// folder), sealed against change, for the readers that take a path: its
// path /proc/self/fd/N names exactly the bytes the tool read.
class MemoryDocument {
 public:
  MemoryDocument() = default;
  MemoryDocument(const MemoryDocument&) = delete;
  MemoryDocument& operator=(const MemoryDocument&) = delete;
  ~MemoryDocument();
  bool create(const Input& in);  // false (message printed) on failure
  char* path() { return &path_[0]; }

 private:
  int fd_ = -1;
  std::string path_;
};

// Runs a path reader, `file(path)`, on the bytes of `in` (a MemoryDocument)
// with the library's messages shown under the input's name. Empty when the
// memory file cannot be made (message printed).
template <class File>
auto read_as_file(const Input& in, File&& file) -> std::optional<decltype(file(std::declval<char*>()))>;

// Runs the memory reader, `memory(text)`, on the text of `in` with the
// library's messages shown under the input's name. The memory readers
// take NUL-terminated text, so a document holding a NUL byte (UTF-16, or no
// text at all) goes to the path reader `file` instead, which then reads the
// very same bytes. Empty when that cannot be done (message printed).
template <class Memory, class File>
auto read_document(Input& in, Memory&& memory, File&& file)
    -> std::optional<decltype(memory(std::declval<char*>()))>;

// Parses the document of `in` with read_document (both readers) or, in the
// second form, with the path reader `file` alone (read_as_file). A reader
// succeeds by returning 0 (or false); otherwise, or when the document could
// not be handed to it, "NAME: <what> not read" is printed and false
// returned.
template <class Memory, class File>
bool parse_input(Input& in, const char* what, Memory&& memory, File&& file);
template <class File>
bool parse_input(Input& in, const char* what, File&& file);

// ---------------------------------------------------------------------------
// Library messages.

// The libraries' lines come to the tool through their per-thread sink;
// the tool never redirects its standard output or error. While a
// MessageRelay lives (main makes one for the run), the calling thread's
// lines go:
// - listings: to standard output, as data, byte for byte and in order (a
//   failed write shows in the stream's error flag, as for all data);
// - the others: to standard error as "NAME:LINE:COLUMN: message" when they
//   carry a position, else "NAME: message", NAME being the document as the
//   user gave it (see MessageScope); parser warnings read "warning: ...";
//   a line about a document read that comes without a position (such as a
//   start that failed) gets the last one reported in it;
// - when the parser refuses a document that has a DOCTYPE, one note says
//   how such documents are read (their internal declarations are checked,
//   external ones are not read);
// - with quiet (-q), informational lines are dropped; errors and the
//   parser's reports stay.
class MessageRelay {
 public:
  MessageRelay();
  MessageRelay(const MessageRelay&) = delete;
  MessageRelay& operator=(const MessageRelay&) = delete;

  // The relay that takes the calling thread's lines, null when none.
  static MessageRelay* current();

  void set_quiet(bool quiet) { quiet_ = quiet; }

 private:
  friend class MessageScope;
  struct Scope {
    std::string name;
    std::string library_path;
    bool writing;                  // listings and informational lines are left out
    const std::string* text;       // the document read (null: none)
    long long line = 0;            // the last position reported in it
    long long column = 0;
    bool noted = false;            // the DOCTYPE note was given
  };
  static void take(const qal3_message* m, void* self);
  void relay(const qal3_message& m);
  void note_doctype(const qal3_message& m, Scope& scope) const;

  std::vector<Scope> scopes_;
  bool quiet_ = false;
  qal3::ThreadMessageSink guard_;
};

// While alive, the lines of the calling thread's relay (if any) are shown
// under `name`: those about no document, a document in memory or
// `library_path` (the path the tool handed the library, such as
// /proc/self/fd/N; also replaced by `name` within a line's text). Scopes
// nest. A scope that reads a document is made with its input.
class MessageScope {
 public:
  // What a scope shows besides errors and the parser's reports.
  enum Lines {
    kAll,      // listings and informational lines too (unless quiet)
    kWriting,  // a writer at work: its document is the data, and its own console lines
               // (stray listing lines, "file ... has been created") are left out
  };
  explicit MessageScope(std::string name, std::string library_path = "", Lines lines = kAll);
  // Reading `in` (handed to the library as `library_path`, or from memory).
  explicit MessageScope(const Input& in, std::string library_path = "");
  MessageScope(const MessageScope&) = delete;
  MessageScope& operator=(const MessageScope&) = delete;
  ~MessageScope();

 private:
  MessageRelay* relay_;
};

template <class File>
auto read_as_file(const Input& in, File&& file) -> std::optional<decltype(file(std::declval<char*>()))> {
  MemoryDocument doc;
  if (!doc.create(in)) return std::nullopt;
  const MessageScope scope(in, doc.path());
  return file(doc.path());
}

template <class Memory, class File>
auto read_document(Input& in, Memory&& memory, File&& file)
    -> std::optional<decltype(memory(std::declval<char*>()))> {
  if (in.text.find('\0') != std::string::npos) return read_as_file(in, file);
  const MessageScope scope(in);
  return memory(&in.text[0]);
}

namespace detail {
template <class Result>
bool parsed(const std::optional<Result>& rc, const Input& in, const char* what) {
  if (rc && !*rc) return true;
  file_error(in.name, std::string(what) + " not read");
  return false;
}
}  // namespace detail

template <class Memory, class File>
bool parse_input(Input& in, const char* what, Memory&& memory, File&& file) {
  return detail::parsed(read_document(in, memory, file), in, what);
}

template <class File>
bool parse_input(Input& in, const char* what, File&& file) {
  return detail::parsed(read_as_file(in, file), in, what);
}

// ---------------------------------------------------------------------------
// Output.

// The destination of a command's document: "-" (standard output) or a
// file, which is written whole or not at all: the data goes to a scratch
// file in the same folder (for standard output, an anonymous memory file)
// that replaces FILE only once everything has been written and closed. On
// any failure FILE stays as it was and the scratch file is removed; so it
// is when SIGINT, SIGTERM or SIGHUP ends the run (see
// remove_scratch_on_signals). The new file keeps the mode of the one it
// replaces, and its owner and group where the system allows (as root), and
// the folder is synced after the rename.
//
// A symbolic link at FILE is replaced by the new file (as `sed -i` does);
// with Links::follow the file the link leads to is replaced, in its own
// folder, and the link stays.
class Output {
 public:
  enum class Links { replace, follow };
  explicit Output(std::string target, Links links = Links::replace);
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output();

  // Creates the scratch file; false (message printed) on failure.
  bool open();
  // The scratch file for the library writers: /proc/self/fd/N of the
  // descriptor the tool made it with, so that the writer's own open reaches
  // that very file, whatever becomes of its name in the folder.
  char* writer_path() { return &writer_path_[0]; }
  // Appends to the scratch file; false (message printed) on failure.
  bool write(const std::string& data);
  // Puts the result in place (or on standard output); false (message
  // printed, nothing left behind) on failure.
  bool commit();
  // How the destination is shown in messages.
  const std::string& name() const { return name_; }

 private:
  void discard();
  bool place();
  std::string target_;
  Links links_;
  std::string name_;
  std::string destination_;  // the file replaced: FILE, or where its links lead
  int slot_ = -1;            // the scratch file's entry for the signal handler (-1: none)
  std::string writer_path_;
  int fd_ = -1;
  bool through_ = false;  // FILE is a device or FIFO: written to, never replaced
};

// Makes SIGINT, SIGTERM and SIGHUP remove the scratch files of the Outputs
// being written before they end the process as they would have; a signal
// that is ignored (nohup) stays ignored. Called once, at start.
void remove_scratch_on_signals();

// Runs the library writer `writer(path)` on the scratch file of the open
// `out` (its console lines left out, see MessageScope::kWriting), then puts
// the result in place. A writer succeeds by returning 0; otherwise
// "NAME: <what> not written" is printed and nothing is left behind.
// Returns kOk or kBadDocument.
template <class Writer>
int write_document(Output& out, const char* what, Writer&& writer) {
  int rc;
  {
    const MessageScope scope(out.name(), out.writer_path(), MessageScope::kWriting);
    rc = writer(out.writer_path());
  }
  if (rc != 0) {
    file_error(out.name(), std::string(what) + " not written");
    return kBadDocument;
  }
  return out.commit() ? kOk : kBadDocument;
}

// The way links at an output are treated, from --follow-symlinks.
Output::Links links_option(const Args& args);

// Standard output is written only by these three: the first failure of
// any prints the system's reason ("qal3: <stdout>: No space left on
// device"; a closed pipe quietly), and the stream's error flag stays set.

// Writes to standard output through stdio; false on failure.
bool put(const std::string& text);

// Flushes standard output (before a message on standard error, so that the
// two keep their order on a terminal).
void flush_stdout();

// Flushes standard output at the end of a run; a failed write, then or
// before, turns `status` into 1.
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

// The commands' handlers, one file each (cmd_<name>.cpp), named in the
// command table (cli_commands.cpp).
int cmd_evlist(int argc, char** argv);
int cmd_chan_print(int argc, char** argv);
int cmd_chan_convert(int argc, char** argv);
int cmd_chan_listing(int argc, char** argv);
int cmd_chan_names(int argc, char** argv);
int cmd_chan_merge(int argc, char** argv);
int cmd_chan_select(int argc, char** argv);
int cmd_trigger_registry(int argc, char** argv);
int cmd_trigger_print(int argc, char** argv);
int cmd_trigger_convert(int argc, char** argv);
int cmd_trigger_test(int argc, char** argv);
int cmd_envdict(int argc, char** argv);
int cmd_gige(int argc, char** argv);
int cmd_check(int argc, char** argv);

#endif  // QAL3_CLI_COMMON_H
