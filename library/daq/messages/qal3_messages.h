/// \file
/// Messages of the QAL3 libraries (libQAL3XML, libQAL3USERTRIG) as data.
///
/// Every line the libraries emit (printer listings, readers' and writers'
/// messages, the parsers' error and warning reports, the trigger
/// evaluation's lines) takes one path. With no sink installed it is written
/// to standard output or standard error as the line's default bytes (its
/// stream, its flush). A caller may install a sink that receives each line
/// as a record instead, and may keep, reformat or drop it; the sink then
/// writes nothing unless it chooses to.
///
/// Two scopes:
/// - the process-wide sink (qal3_set_message_sink): a set-up step, like
///   registering trigger functions; for servers that route the libraries'
///   messages into their own log;
/// - a thread's own sink (qal3_set_thread_message_sink, or the C++ guard
///   qal3::ThreadMessageSink): installed and removed by the calling thread,
///   it receives that thread's lines and takes precedence over the
///   process-wide sink; for tools and bindings.
///
/// Usable from C and C++.
#ifndef QAL3_MESSAGES_H
#define QAL3_MESSAGES_H

#include <stddef.h>

#include "qal3_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/// Where a line goes when no sink takes it.
enum qal3_message_stream {
  QAL3_MESSAGE_STDOUT = 1,  ///< standard output
  QAL3_MESSAGE_STDERR = 2   ///< standard error
};

/// What a line is.
enum qal3_message_kind {
  QAL3_MESSAGE_LISTING = 0,         ///< a printer's listing of records
  QAL3_MESSAGE_INFO = 1,            ///< an informational line (e.g.\ a writer's "file has been created")
  QAL3_MESSAGE_ERROR = 2,           ///< a failure reported by a reader, writer or the evaluation
  QAL3_MESSAGE_PARSER_WARNING = 3,  ///< the XML parser's warning
  QAL3_MESSAGE_PARSER_ERROR = 4,    ///< the XML parser's error
  QAL3_MESSAGE_PARSER_FATAL = 5,    ///< the XML parser's fatal error: the document ends there
  QAL3_MESSAGE_READER_NOTE = 6      ///< what a reader did to the document (a text cut to its field, an
                                    ///< unknown name read as the default, a record dropped or merged, a
                                    ///< field the records do not keep), at the parser's position; sinks
                                    ///< only: its default_text is empty, so nothing is written without one
};

/// One line. Every pointer stays valid only during the sink's call: copy
/// what you keep.
typedef struct qal3_message {
  int stream;                ///< a qal3_message_stream
  int kind;                  ///< a qal3_message_kind
  const char* text;          ///< the line without its newline, NUL-terminated, never null;
                             ///< for parser reports the parser's message alone
  size_t length;             ///< strlen(text)
  const char* document;      ///< the document being read, named as the caller gave the
                             ///< path; null when the line concerns no file (documents read
                             ///< from memory included, unless the calling thread named
                             ///< them: qal3_set_thread_memory_document)
  long long line;            ///< position in `document` (1-based), 0 when none is known
  long long column;          ///< column of that position (1-based), 0 when none is known
  const char* default_text;  ///< the exact bytes written when no sink is installed
  size_t default_length;     ///< (may hold a leading blank line, or lack the final newline)
  int flush;                 ///< non-zero: the stream is flushed after default_text
} qal3_message;

/// A sink: receives one whole line per call, in the thread that emitted it.
/// `user_data` is the pointer given when the sink was installed. A sink must
/// not throw (C++) and should not call back into the libraries' readers.
typedef void (*qal3_message_sink)(const qal3_message* message, void* user_data);

/// Installs `sink` (with `user_data`) for the whole process; null restores
/// the default output. A set-up step: do it before other threads use the
/// libraries, or while none does, never alongside. The sink may then be
/// called from every thread that uses the libraries, at the same time:
/// it must be safe for that.
QAL3_API void qal3_set_message_sink(qal3_message_sink sink, void* user_data);

/// The process-wide sink and its user data (null and null when none). Either
/// out-pointer may be null.
QAL3_API void qal3_get_message_sink(qal3_message_sink* sink, void** user_data);

/// Installs `sink` (with `user_data`) for the calling thread only, in place
/// of the thread's previous one; null removes it (the process-wide sink, or
/// the default output, applies again). Other threads are not affected. A
/// thread must remove its sink before `user_data` goes away.
QAL3_API void qal3_set_thread_message_sink(qal3_message_sink sink, void* user_data);

/// The calling thread's own sink and its user data (null and null when
/// none). Either out-pointer may be null.
QAL3_API void qal3_get_thread_message_sink(qal3_message_sink* sink, void** user_data);

/// Sends `message` down the libraries' path, as the libraries do with their
/// own lines: to the calling thread's sink, else the process-wide sink, else
/// the default output (qal3_message_write_default). While a parser of the
/// calling thread reads a document, a message without a document gets that
/// document's name and the parser's current position. Null is ignored.
QAL3_API void qal3_message_emit(const qal3_message* message);

/// Writes `message` as the default output does: its default_text (or, when
/// that is null, its text and a newline) to its stream, flushed when its
/// `flush` is set. For sinks that keep some lines as they are. Returns 0,
/// or -1 when `message` is null or the write failed.
QAL3_API int qal3_message_write_default(const qal3_message* message);

/// Names the documents the calling thread reads from memory, for their
/// messages: `name` (not copied: it must stay alive and unchanged while it is
/// set) stands where a file's path stands, in the records' `document` and in
/// the default text of the parser's reports ("... at (file <name>, line ...").
/// Null or empty removes the name: the records then carry no document, and
/// the default texts keep the memory buffer's own id. Other threads are not
/// affected; files read meanwhile keep their paths. A memory parser takes the
/// name in force when it is built and when it starts (a reader does both).
QAL3_API void qal3_set_thread_memory_document(const char* name);

/// The calling thread's name for documents in memory, or null when none.
QAL3_API const char* qal3_get_thread_memory_document(void);

#ifdef __cplusplus
}  // extern "C"

namespace qal3 {

/// Installs a sink for the calling thread for the guard's lifetime and puts
/// the thread's previous sink back when it ends. Create and destroy it in the
/// same thread; guards nest.
class ThreadMessageSink {
 public:
  /// `sink` with `user_data` (both may be null: the thread then has no sink
  /// of its own while the guard lives).
  ThreadMessageSink(qal3_message_sink sink, void* user_data) {
    qal3_get_thread_message_sink(&previous_, &previous_data_);
    qal3_set_thread_message_sink(sink, user_data);
  }
  /// Any callable `f(const qal3_message&)`, not owned: it must outlive the
  /// guard and must not throw.
  template <class F>
  explicit ThreadMessageSink(F& f)
      : ThreadMessageSink([](const qal3_message* m, void* u) { (*static_cast<F*>(u))(*m); }, static_cast<void*>(&f)) {}
  ~ThreadMessageSink() { qal3_set_thread_message_sink(previous_, previous_data_); }
  ThreadMessageSink(const ThreadMessageSink&) = delete;
  ThreadMessageSink& operator=(const ThreadMessageSink&) = delete;

 private:
  qal3_message_sink previous_ = nullptr;
  void* previous_data_ = nullptr;
};

/// Names the calling thread's documents in memory for the guard's lifetime
/// (qal3_set_thread_memory_document) and puts the previous name back when it
/// ends. Create and destroy it in the same thread; guards nest.
class ThreadMemoryDocument {
 public:
  /// `name` (null or empty: none) must outlive the guard.
  explicit ThreadMemoryDocument(const char* name) : previous_(qal3_get_thread_memory_document()) {
    qal3_set_thread_memory_document(name);
  }
  /// Puts the previous name back.
  ~ThreadMemoryDocument() { qal3_set_thread_memory_document(previous_); }
  /// Not copyable.
  ThreadMemoryDocument(const ThreadMemoryDocument&) = delete;
  /// Not copyable.
  ThreadMemoryDocument& operator=(const ThreadMemoryDocument&) = delete;

 private:
  const char* previous_;
};

}  // namespace qal3
#endif  // __cplusplus

#endif  // QAL3_MESSAGES_H
