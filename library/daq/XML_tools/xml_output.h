// The one output sink of the writers: a finished document goes to a file, a
// descriptor and/or a string, written completely (short writes and EINTR are
// continued) and every failure reported in the writer's own words.
// Not installed.
#ifndef QAL3_XML_OUTPUT_H
#define QAL3_XML_OUTPUT_H

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "messages.h"

namespace qal3 {
namespace output {

// Writes all `len` bytes to `fd`. False on a real error (errno set).
inline bool write_all(int fd, const char* data, std::size_t len) {
  while (len > 0) {
    const ssize_t n = ::write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

inline bool write_all(int fd, const std::string& text) {
  return write_all(fd, text.data(), text.size());
}

// An output file opened for writing ("w"), closed on destruction. Writes
// are checked when the file is closed: ok() is false once anything failed.
class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { close(); }

  // Opens `name` for writing; false when that fails (errno set).
  bool open(const char* name) {
    file_ = std::fopen(name, "w");
    failed_ = false;
    return file_ != nullptr;
  }
  bool is_open() const { return file_ != nullptr; }
  FILE* get() const { return file_; }

  // Writes the whole text.
  void put(const std::string& text) {
    if (file_ && !text.empty() && std::fwrite(text.data(), 1, text.size(), file_) != text.size())
      failed_ = true;
  }
  // Formatted output, checked like put().
  __attribute__((format(printf, 2, 3))) void printf(const char* format, ...) {
    if (!file_) return;
    std::va_list args;
    va_start(args, format);
    if (std::vfprintf(file_, format, args) < 0) failed_ = true;
    va_end(args);
  }

  // Flushes and closes; false when any write, the flush or the close failed.
  bool close() {
    if (!file_) return !failed_;
    if (std::ferror(file_)) failed_ = true;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
  }

 private:
  FILE* file_ = nullptr;
  bool failed_ = false;
};

// The texts a writer reports its destination with, on standard output. Each
// family keeps its own; `writer` names it ("dump_chan_desr()").
struct Messages {
  const char* writer;
  bool announces_file;       // "<writer>  file: '<name>' has been created/closed"
  const char* write_failed;  // the line for a failed write
  const char* close_failed;  // the line for a failed close, "%s" the file name;
                             // null: write_failed
};

// Where a writer's output goes: a named file, a descriptor, a string, or
// (none of these) the console. Opening, delivery and closing report every
// failure with the writer's messages.
class Destination {
 public:
  Destination(const char* file_name, int fd, std::string* text, const Messages& messages)
      : name_(file_name && *file_name ? file_name : nullptr), fd_(fd), text_(text),
        messages_(messages) {}

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

  bool named() const { return name_ != nullptr; }
  bool has_descriptor() const { return fd_ != -1; }
  std::string* text() const { return text_; }
  // No file, no descriptor, no string: the writer prints on the console.
  bool console() const { return !name_ && fd_ == -1 && !text_; }
  File& file() { return file_; }

  // Writes `doc` to the descriptor, if any. False when that fails: the
  // failure has been reported.
  bool to_descriptor(const std::string& doc) {
    if (fd_ == -1 || write_all(fd_, doc)) return true;
    say(messages_.write_failed);
    return false;
  }

  // Closes the file, if any. False when a write, the flush or the close
  // failed: the failure has been reported.
  bool close() {
    if (!name_) return true;
    if (!file_.close()) {
      if (messages_.close_failed) {
        messages::deliver(messages::out, messages::error, messages::flush, format_name(messages_.close_failed));
      } else {
        say(messages_.write_failed);
      }
      return false;
    }
    announce("closed");
    return true;
  }

  // Reports a failed write (of any destination) with the writer's line.
  void report_write_failure() const { say(messages_.write_failed); }

 private:
  static void say(const char* line) {
    messages::deliver(messages::out, messages::error, messages::flush, line, std::strlen(line));
  }

  // perror(what) for the error number `err`: "<what>: <reason>" on
  // standard error.
  static void report_errno(const char* what, int err) {
    char buf[256];
    const char* reason = strerror_r(err, buf, sizeof buf);
    messages::print(messages::err, messages::error, messages::keep, "%s: %s\n", what, reason);
  }

  // The close-failure line: `format` with the file's name for its "%s".
  std::string format_name(const char* format) const {
    const std::string f = format;
    const std::size_t at = f.find("%s");
    if (at == std::string::npos) return f;
    return f.substr(0, at) + name_ + f.substr(at + 2);
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

}  // namespace output
}  // namespace qal3

#endif  // QAL3_XML_OUTPUT_H
