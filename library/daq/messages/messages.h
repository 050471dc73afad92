// The one path of every line the libraries emit (see qal3_messages.h for
// the records and the sinks): the helpers the print sites use. Internal to
// libQAL3XML and libQAL3USERTRIG, built on the public functions only, so
// that both libraries share the sinks kept in libQAL3XML. Not installed.
#ifndef QAL3_MESSAGES_INTERNAL_H
#define QAL3_MESSAGES_INTERNAL_H

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "qal3_messages.h"

namespace qal3 {
namespace messages {

enum Stream : int { out = QAL3_MESSAGE_STDOUT, err = QAL3_MESSAGE_STDERR };

enum Kind : int {
  listing = QAL3_MESSAGE_LISTING,
  info = QAL3_MESSAGE_INFO,
  error = QAL3_MESSAGE_ERROR,
  parser_warning = QAL3_MESSAGE_PARSER_WARNING,
  parser_error = QAL3_MESSAGE_PARSER_ERROR,
  parser_fatal = QAL3_MESSAGE_PARSER_FATAL,
  reader_note = QAL3_MESSAGE_READER_NOTE
};

enum Flush : bool { keep = false, flush = true };

// A position in a document; empty fields are unknown.
struct Position {
  const char* document = nullptr;
  long long line = 0;
  long long column = 0;
};

inline std::FILE* file_of(Stream s) { return s == out ? stdout : stderr; }

// True when a sink (the thread's or the process's) takes the calling
// thread's lines; false when they go to the default output.
inline bool sink_in_force() {
  qal3_message_sink s = nullptr;
  qal3_get_thread_message_sink(&s, nullptr);
  if (s) return true;
  qal3_get_message_sink(&s, nullptr);
  return s != nullptr;
}

// The default output of `n` bytes: one write to the stream, then its flush
// when asked.
inline void write_default(Stream s, const char* bytes, std::size_t n, Flush f) {
  std::FILE* file = file_of(s);
  if (n) std::fwrite(bytes, 1, n, file);
  if (f) std::fflush(file);
}

// One record: `text` (NUL-terminated, no newline) whose default bytes are
// `raw` (`raw_n` bytes; null: the text and a newline).
inline void send(Stream s, Kind k, const char* text, std::size_t n, Flush f, const char* raw = nullptr,
                 std::size_t raw_n = 0, const Position& at = Position()) {
  qal3_message m;
  m.stream = s;
  m.kind = k;
  m.text = text ? text : "";
  m.length = text ? n : 0;
  m.document = at.document;
  m.line = at.line;
  m.column = at.column;
  m.default_text = raw;
  m.default_length = raw ? raw_n : 0;
  m.flush = f ? 1 : 0;
  qal3_message_emit(&m);
}

// Delivers the bytes `bytes` (as one printf call would have written them)
// as whole lines: by default written as they are; to a sink, one record per
// line, with leading and trailing blank lines (and a blank tail without a
// newline) folded into the default bytes of their neighbour. Listings keep
// their empty lines as records.
inline void deliver(Stream s, Kind k, Flush f, const char* bytes, std::size_t n, const Position& at = Position()) {
  if (!sink_in_force()) {
    write_default(s, bytes, n, f);
    return;
  }
  const auto blank = [](const char* b, const char* e) {
    for (; b < e; ++b)
      if (*b != ' ' && *b != '\t' && *b != '\n') return false;
    return true;
  };
  const char* const end = bytes + n;
  const char* pending = bytes;  // start of the default bytes of the next record
  const char* p = bytes;
  std::string text;
  while (p < end) {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const char* stop = nl ? nl : end;
    const char* next = nl ? nl + 1 : end;
    const bool last = next >= end || (k != listing && blank(next, end));
    if (k == listing || !blank(p, stop)) {
      const char* raw_end = last ? end : next;
      text.assign(p, stop);
      send(s, k, text.c_str(), text.size(), last ? f : keep, pending, static_cast<std::size_t>(raw_end - pending), at);
      pending = raw_end;
    }
    if (last) break;
    p = next;
  }
  if (pending < end && f) {
    // Only blank bytes were left: nothing for a sink, but the flush stays.
    std::fflush(file_of(s));
  }
}

inline void deliver(Stream s, Kind k, Flush f, const std::string& bytes, const Position& at = Position()) {
  deliver(s, k, f, bytes.data(), bytes.size(), at);
}

// printf into a string.
inline std::string vformat(const char* fmt, std::va_list args) {
  char small[256];
  std::va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(small, sizeof small, fmt, args);
  std::string out;
  if (n < 0) {
    va_end(again);
    return out;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    out.assign(small, static_cast<std::size_t>(n));
  } else {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(&out[0], out.size(), fmt, again);
    out.resize(static_cast<std::size_t>(n));
  }
  va_end(again);
  return out;
}

// What printf(fmt, ...) wrote, on stream `s`, as lines of kind `k`.
__attribute__((format(printf, 4, 5))) inline void print(Stream s, Kind k, Flush f, const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  const std::string text = vformat(fmt, args);
  va_end(args);
  deliver(s, k, f, text);
}

// What printf(fmt, ...) wrote, as listing lines on standard output.
__attribute__((format(printf, 1, 2))) inline void list(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  const std::string text = vformat(fmt, args);
  va_end(args);
  deliver(out, listing, keep, text);
}

// What puts(text) wrote, as one line of kind `k` on stream `s`.
inline void put_line(Stream s, Kind k, Flush f, const char* text) { send(s, k, text, std::strlen(text), f); }

// A line of a reader's or writer's own (an invalid argument, a failed write):
// `line` as it stands, an error on standard output, flushed.
inline void say(const char* line) { deliver(out, error, flush, line, std::strlen(line)); }

// A reader's note of what it did to the document (printf(fmt, ...) without
// its newline): a record of kind reader_note for a sink, at the parser's
// position; with no sink in force nothing is formatted or written. For the
// rare paths of the readers only (it is kept out of line).
__attribute__((format(printf, 1, 2), noinline, cold)) inline void note(const char* fmt, ...) {
  if (!sink_in_force()) return;
  std::string text;
  std::va_list args;
  va_start(args, fmt);
  try {
    text = vformat(fmt, args);
  } catch (...) {
    text.clear();  // out of memory: the note is lost, the read goes on
  }
  va_end(args);
  if (!text.empty()) send(err, reader_note, text.c_str(), text.size(), keep, "", 0);
}

// Flushes the stream when its lines go to the default output, for a flush
// that follows lines written by earlier calls.
inline void flush_default(Stream s) {
  if (!sink_in_force()) std::fflush(file_of(s));
}

}  // namespace messages
}  // namespace qal3

#endif  // QAL3_MESSAGES_INTERNAL_H
