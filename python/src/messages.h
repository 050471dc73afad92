// The libraries' lines of one call, as data: while a MessageLog lives, the
// calling thread's lines go to it (the libraries' per-thread sink), never to
// the process's standard output or error, and other threads are untouched.
#ifndef QAL3_PY_MESSAGES_H
#define QAL3_PY_MESSAGES_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "common.h"
#include "qal3_messages.h"

namespace qal3py {

// One line the libraries emitted.
struct Message {
  int stream = QAL3_MESSAGE_STDERR;
  int kind = QAL3_MESSAGE_INFO;
  bool has_document = false;
  std::string document;
  long long line = 0;
  long long column = 0;
  std::string text;
};

class MessageLog {
 public:
  enum class Keep {
    all,       // every line
    problems,  // errors and parser reports only, each distinct line once
  };

  explicit MessageLog(Keep keep = Keep::all);
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;

  // The lines kept so far (the log keeps collecting until it is destroyed).
  const std::vector<Message>& lines() const { return lines_; }

  // Documents the library names `from` (a memory file standing in for a
  // string) are shown as `to`.
  void rename(const std::string& from, const std::string& to) { renames_[from] = to; }

  // Python qal3.Message records of the lines; documents read from memory
  // (none named) appear as `memory_name` when it is not None.
  py::list records(py::handle memory_name) const;

 private:
  static void take(const qal3_message* m, void* self);
  void add(const qal3_message& m);

  Keep keep_;
  std::vector<Message> lines_;
  std::map<std::string, std::string> renames_;
  qal3::ThreadMessageSink guard_;
};

// Raises qal3.Error (qal3.FileNotFound when `missing`): `what` with the
// library's result `code`, the messages and the source.
[[noreturn]] void raise_error(const std::string& what, int code, const py::list& messages, py::handle source,
                              bool missing = false);

// Passes each message of a successful call on as a qal3.Warning.
void warn_messages(const py::list& messages);

// A qal3.Warning of the module's own (kind "warning"): data that a call
// kept only in part. `document` names the document, or is None.
void warn(const std::string& text, py::handle document);

}  // namespace qal3py

#endif  // QAL3_PY_MESSAGES_H
