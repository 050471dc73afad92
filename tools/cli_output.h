// What the tool writes: data on standard output, its own messages on
// standard error, and documents written whole or not at all.
#ifndef QAL3_CLI_OUTPUT_H
#define QAL3_CLI_OUTPUT_H

#include <string>

#include "cli_args.h"
#include "cli_messages.h"
#include "descriptors.h"
#include "file_replace.h"

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
// file. The writer's result is staged in an anonymous memory file and goes
// out only once complete, so that on any failure FILE stays as it was and
// nothing is left behind; a FILE is then put in place by
// qal3::io::replace_file (file_replace.h): a device or FIFO there (also at
// the end of a link) is written to; a regular file is replaced by a new
// one that keeps its owner and group (as far as allowed), ACL, mode (less
// set-id bits) and extended attributes, and has no name until complete; a
// file the user may not write is refused; a file with other hard links is
// replaced under this name only.
//
// A symbolic link at FILE is replaced by the new file (as `sed -i` does),
// which takes what the file the link led to has; the link is judged as the
// link (its folder writable, whatever the mode of its file). With
// Links::follow the file the link leads to is replaced, in its own folder,
// and the link stays.
class Output {
 public:
  using Links = qal3::io::Links;
  explicit Output(std::string target, Links links = Links::replace);
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Checks that FILE can be replaced (so that a command refuses before it
  // works) and makes the staging file; false (message printed) on failure.
  bool open();
  // The staging file for the library writers: /proc/self/fd/N of the
  // descriptor the tool made it with.
  char* writer_path() { return &writer_path_[0]; }
  // Appends to the staging file; false (message printed) on failure.
  bool write(const std::string& data);
  // Puts the result in place (or on standard output); false (message
  // printed, nothing left behind) on failure.
  bool commit();
  // How the destination is shown in messages.
  const std::string& name() const { return name_; }

 private:
  bool to_stdout() const { return target_.empty() || target_ == "-"; }
  std::string target_;
  Links links_;
  std::string name_;
  std::string writer_path_;
  qal3::io::Descriptor fd_;
};

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
