// What the tool writes: data on standard output, its own messages on
// standard error, and documents written whole or not at all through scratch
// files that SIGINT, SIGTERM and SIGHUP remove.
#ifndef QAL3_CLI_OUTPUT_H
#define QAL3_CLI_OUTPUT_H

#include <string>

#include "cli_args.h"
#include "cli_messages.h"

namespace cli {

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

// Prints "qal3: <where>: <message>" on standard error.
void file_error(const std::string& where, const std::string& message);

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

}  // namespace cli

#endif  // QAL3_CLI_OUTPUT_H
