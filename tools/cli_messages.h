// The libraries' messages relayed by the tool: listings as data on standard
// output, the other lines on standard error under the document's name.
#ifndef QAL3_CLI_MESSAGES_H
#define QAL3_CLI_MESSAGES_H

#include <string>
#include <vector>

#include "qal3_messages.h"

namespace cli {

// The libraries' lines come to the tool through their per-thread sink;
// the tool never redirects its standard output or error. While a
// MessageRelay lives (main makes one for the run), the calling thread's
// lines go:
// - listings: to standard output, as data, byte for byte and in order (a
//   failed write shows in the stream's error flag, as for all data);
// - the others: to standard error as "NAME:LINE:COLUMN: message" when they
//   carry a position, else "NAME: message", NAME being the document as the
//   user gave it (see MessageScope); parser warnings and the readers'
//   notes (what a reader did to the document) read "warning: ...";
//   a line about a document read that comes without a position (such as a
//   start that failed) gets the last one reported in it;
// - when the parser refuses a document that has a DOCTYPE, one note says
//   how such documents are read (their internal declarations are checked,
//   external ones are not read);
// - with quiet (-q), informational lines and the readers' notes are
//   dropped; errors and the parser's reports stay.
class MessageRelay {
 public:
  MessageRelay();
  MessageRelay(const MessageRelay&) = delete;
  MessageRelay& operator=(const MessageRelay&) = delete;

  // The relay that takes the calling thread's lines, null when none.
  static MessageRelay* current();

  void set_quiet(bool quiet) { quiet_ = quiet; }
  // Whether the readers' notes are shown (they are unless quiet): off where
  // a command has reported check's findings for its documents, which say
  // the same of every text cut and record dropped.
  void set_notes(bool shown) { notes_ = shown; }

 private:
  friend class MessageScope;
  struct Scope {
    std::string name;
    std::string library_path;
    bool writing;             // listings and informational lines are left out
    const std::string* text;  // the document read (null: none)
    long long line = 0;       // the last position reported in it
    long long column = 0;
    bool noted = false;  // the DOCTYPE note was given
  };
  static void take(const qal3_message* m, void* self);
  void relay(const qal3_message& m);
  void note_doctype(const qal3_message& m, Scope& scope) const;

  std::vector<Scope> scopes_;
  bool quiet_ = false;
  bool notes_ = true;
  qal3::ThreadMessageSink guard_;
};

// The readers' notes are left out for the rest of the run (see
// MessageRelay::set_notes): for a command that has reported check's
// findings for its documents.
void reader_notes_said();

// While alive, the lines of the calling thread's relay (if any) are shown
// under `name`: those about no document, a document in memory or
// `library_path` (the path the tool handed the library, such as
// /proc/self/fd/N; also replaced by `name` within a line's text). Scopes
// nest. A scope that reads a document is made with its text.
class MessageScope {
 public:
  // What a scope shows besides errors and the parser's reports.
  enum Lines {
    kAll,      // listings and informational lines too (unless quiet)
    kWriting,  // a writer at work: its document is the data, and its own console lines
               // (stray listing lines, "file ... has been created") are left out
  };
  explicit MessageScope(std::string name, std::string library_path = "", Lines lines = kAll);
  // Reading the document `text` (handed to the library as `library_path`,
  // or from memory with "").
  MessageScope(std::string name, std::string library_path, const std::string* text);
  MessageScope(const MessageScope&) = delete;
  MessageScope& operator=(const MessageScope&) = delete;
  ~MessageScope();

 private:
  MessageRelay* relay_;
};

}  // namespace cli

#endif  // QAL3_CLI_MESSAGES_H
