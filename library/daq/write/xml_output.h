// The one output sink of the writers: a finished document goes to a file and
// a descriptor, written completely (short writes and EINTR are continued),
// and into the caller's string as the writer's call says (left, assigned or
// appended to); every failure is reported in the writer's own words.
// Not installed.
#ifndef QAL3_XML_OUTPUT_H
#define QAL3_XML_OUTPUT_H

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "attr_tags_functions.h"
#include "boundary.h"
#include "descriptors.h"
#include "messages.h"
#include "record_fields.h"

namespace qal3 {
namespace output {

// An output file opened for writing ("w"), closed on destruction. Writes
// are checked when the file is closed; error() keeps the reason of the
// first failure.
class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { close(); }

  // Opens `name` for writing; false when that fails (errno set).
  bool open(const char* name) {
    file_ = std::fopen(name, "w");
    error_ = 0;
    return file_ != nullptr;
  }
  FILE* get() const { return file_; }

  // Writes the whole text.
  void put(const std::string& text) {
    if (file_ && !text.empty() && std::fwrite(text.data(), 1, text.size(), file_) != text.size()) fail();
  }
  // Formatted output, checked like put().
  __attribute__((format(printf, 2, 3))) void printf(const char* format, ...) {
    if (!file_) return;
    std::va_list args;
    va_start(args, format);
    if (std::vfprintf(file_, format, args) < 0) fail();
    va_end(args);
  }

  // Flushes and closes; false when any write, the flush or the close failed.
  bool close() {
    if (!file_) return error_ == 0;
    if (std::ferror(file_)) fail();
    if (std::fclose(file_) != 0) fail();
    file_ = nullptr;
    return error_ == 0;
  }
  // The error number of the first failure (EIO when the system gave
  // none); 0 when nothing failed.
  int error() const { return error_; }

 private:
  void fail() {
    if (error_ == 0) error_ = errno ? errno : EIO;
  }
  FILE* file_ = nullptr;
  int error_ = 0;
};

// Appends one element of text: "<tag>text</tag>" and a line feed, the text
// escaped.
inline void text_element(std::string& out, const char* tag, const char* text) {
  START_TAG(out, tag);
  xml_escape(out, text);
  END_TAGN(out, tag);
}

// The texts a writer reports its destination with, on standard output. Each
// family keeps its own; `writer` names it ("dump_chan_desr()").
struct Messages {
  const char* writer;
  bool announces_file;       // "<writer>  file: '<name>' has been created/closed"
  const char* write_failed;  // the line for a failed write
  const char* close_failed;  // the line for a failed close, "%s" the file name;
                             // null: write_failed
};

// What a delivery does with the caller's string.
enum class Text { leave, assign, append };

// Where a writer's output goes: a named file, a descriptor, a string, or
// (none of these) the console. Opening, delivery and closing report every
// failure with the writer's messages, each followed by the system's reason
// on standard error, as perror prints it ("fopen: ...", "write: ...").
class Destination {
 public:
  Destination(const char* file_name, int fd, std::string* text, const Messages& messages)
      : name_(file_name && *file_name ? file_name : nullptr), fd_(fd), text_(text), messages_(messages) {}

  // Opens the named file, if any, runs `body` (false when a delivery failed,
  // reported) and closes the file. 0 when all of it succeeded, 1 when the
  // file did not open, 2 when a write or the close failed. An exception
  // leaving `body` reports a failed write and gives 2.
  template <class Body>
  int write(Body&& body) noexcept {
    return qal3::guarded(
        2,
        [&] {
          if (!open()) return 1;
          if (!body()) return 2;
          return close() ? 0 : 2;
        },
        [this] { messages::say(messages_.write_failed); });
  }

  bool named() const { return name_ != nullptr; }
  // No file, no descriptor, no string: the writer prints on the console.
  bool console() const { return !name_ && fd_ == -1 && !text_; }
  File& file() { return file_; }

  // Writes `doc` to the file and the descriptor, if any, and puts it into
  // the string as `text` says. False when the descriptor write failed: the
  // failure has been reported.
  bool deliver(const std::string& doc, Text text) {
    file_.put(doc);
    if (fd_ != -1 && !io::write_all(fd_, doc.data(), doc.size())) {
      const int err = errno;
      messages::say(messages_.write_failed);
      report_errno("write", err);
      return false;
    }
    to_string(doc, text);
    return true;
  }

  // As deliver(); on the console `doc` is printed as a listing.
  bool deliver_or_list(const std::string& doc, Text text) {
    if (!console()) return deliver(doc, text);
    messages::deliver(messages::out, messages::listing, messages::flush, doc);
    return true;
  }

  // Puts `doc` into the string, if any, as `text` says.
  void to_string(const std::string& doc, Text text) const {
    if (!text_ || text == Text::leave) return;
    if (text == Text::assign)
      *text_ = doc;
    else
      *text_ += doc;
  }

 private:
  // Opens the named file, if any. False when that fails: the failure has
  // been reported (the writer's line, then perror("fopen")).
  bool open() {
    if (!name_) return true;
    if (!file_.open(name_)) {
      const int err = errno;
      messages::print(messages::out, messages::error, messages::flush, "%s failed to open file: '%s'\n",
                      messages_.writer, name_);
      report_errno("fopen", err);
      return false;
    }
    announce("created");
    return true;
  }

  // Closes the file, if any. False when a write, the flush or the close
  // failed: the failure has been reported.
  bool close() {
    if (!name_) return true;
    if (!file_.close()) {
      if (messages_.close_failed) {
        messages::print(messages::out, messages::error, messages::flush, messages_.close_failed, name_);
      } else {
        messages::say(messages_.write_failed);
      }
      report_errno("write", file_.error());
      return false;
    }
    announce("closed");
    return true;
  }

  // perror(what) for the error number `err`: "<what>: <reason>" on
  // standard error.
  static void report_errno(const char* what, int err) {
    char buf[256];
    const char* reason = strerror_r(err, buf, sizeof buf);
    messages::print(messages::err, messages::error, messages::keep, "%s: %s\n", what, reason);
  }

  void announce(const char* what) const {
    if (!messages_.announces_file) return;
    messages::print(messages::out, messages::info, messages::flush, "%s  file: '%s' has been %s\n", messages_.writer,
                    name_, what);
  }

  const char* name_;
  int fd_;
  std::string* text_;
  Messages messages_;
  File file_;
};

// Writes the records of type R that `read(&list)` takes from a document
// (nonzero: it does not read) with `write(&list)`, and releases them. 3
// after the line `failed` when the document does not read.
template <class R, class Read, class Write>
int rewrite(Read&& read, const char* failed, Write&& write) {
  records::OwnedList<R> owned;
  if (read(&owned.items)) {
    messages::say(failed);
    return 3;
  }
  return write(&owned.items);
}

}  // namespace output
}  // namespace qal3

#endif  // QAL3_XML_OUTPUT_H
