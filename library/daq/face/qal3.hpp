/// \file
/// The C++ face of the QAL3 libraries, for C++17 programs: record lists that
/// own their records, readers and writers over std::string_view, results
/// that carry the library's code and the lines the call emitted, trigger
/// evaluation, replay and registration, and the checker (qal3::check; it
/// needs libQAL3CHECK linked). Header only, over the functions of the other
/// public headers: what a reader accepts, what a writer writes and what a
/// code means are theirs, as documented there.
///
/// Errors are values: every call returns a Status or a Result, whose code is
/// the C-style function's and whose messages are that call's lines (with
/// their document and position), so that a program built without exceptions
/// can log each one. Where exceptions are enabled, value_or_throw() and
/// throw_if_failed() turn a failure into a qal3::Error.
///
/// While a call runs, the calling thread's lines go to the call's result
/// instead of the thread's or the process's sink (the thread's sink is put
/// back when the call returns). Calls may run in several threads at once,
/// each thread with lists of its own, as the C-style functions may.
#ifndef QAL3_HPP
#define QAL3_HPP

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>
#ifdef __cpp_exceptions
#include <stdexcept>
#endif

#include "event.h"
#include "event_util.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "qal3_check.h"
#include "qal3_families.hpp"
#include "qal3_family.h"
#include "qal3_gige_descr.h"
#include "qal3_messages.h"
#include "qal3_replay.h"
#include "qal3_version.h"
#include "user_case_trigger.h"

/// The C++ face of the QAL3 libraries.
namespace qal3 {

/// One line a call emitted: its qal3_message record, copied.
struct Message {
  int stream = QAL3_MESSAGE_STDOUT;  ///< a qal3_message_stream
  int kind = QAL3_MESSAGE_INFO;      ///< a qal3_message_kind
  std::string text;                  ///< the line without its newline
  std::string document;              ///< the document being read, as the caller named it; empty when none
  long long line = 0;                ///< 1-based line in the document, 0 when unknown
  long long column = 0;              ///< 1-based column of that line, 0 when unknown

  /// "document:line:column: text", each unknown part left out with its colon.
  std::string located() const {
    std::string out = document;
    for (const long long n : {line, column}) {
      if (n <= 0) continue;
      if (!out.empty()) out += ':';
      out += std::to_string(n);
    }
    return out.empty() ? text : out + ": " + text;
  }

  /// True for a reader's, writer's or the evaluation's error and for the
  /// parser's errors and fatal errors.
  bool is_error() const noexcept {
    return kind == QAL3_MESSAGE_ERROR || kind == QAL3_MESSAGE_PARSER_ERROR || kind == QAL3_MESSAGE_PARSER_FATAL;
  }
};

/// How a call of the C-style API ended: its code and the lines it emitted.
class Status {
 public:
  /// A status of `code` with `messages`.
  Status(int code, std::vector<Message> messages) noexcept : code_(code), messages_(std::move(messages)) {}

  /// The C-style function's result (a failure flag as 1), 0 for success.
  int code() const noexcept { return code_; }

  /// The lines the call emitted, in order.
  const std::vector<Message>& messages() const noexcept { return messages_; }

  /// True when the call succeeded (code 0).
  explicit operator bool() const noexcept { return code_ == 0; }

  /// The first message that is_error(), or null when none is.
  const Message* first_error() const noexcept {
    for (const Message& m : messages_)
      if (m.is_error()) return &m;
    return nullptr;
  }

#ifdef __cpp_exceptions
  /// Throws a qal3::Error of this status when the call failed.
  void throw_if_failed() const;
#endif

 private:
  int code_;
  std::vector<Message> messages_;
};

#ifdef __cpp_exceptions
/// A failed call as an exception: its code and its messages. what() is the
/// first error message located(), else "QAL3 call failed with code N".
class Error : public std::runtime_error {
 public:
  /// The failure `status`, copied.
  explicit Error(const Status& status) : std::runtime_error(describe(status)), status_(status) {}

  /// The C-style function's result.
  int code() const noexcept { return status_.code(); }

  /// The lines the call emitted.
  const std::vector<Message>& messages() const noexcept { return status_.messages(); }

 private:
  static std::string describe(const Status& s) {
    const Message* e = s.first_error();
    return e ? e->located() : "QAL3 call failed with code " + std::to_string(s.code());
  }
  Status status_;
};

inline void Status::throw_if_failed() const {
  if (code_ != 0) throw Error(*this);
}
#endif

/// A Status with the call's value, which is there also after a failure
/// (a reader's list then holds the records read before it).
template <class T>
class Result : public Status {
 public:
  /// The call's `status` with its `value`.
  Result(Status status, T value) : Status(std::move(status)), value_(std::move(value)) {}

  /// The value, whatever the code.
  T& value() & noexcept { return value_; }
  /// The value, whatever the code.
  const T& value() const& noexcept { return value_; }
  /// The value, moved out, whatever the code: a value, so that a loop over
  /// a temporary Result's value owns what it walks.
  T value() && noexcept(std::is_nothrow_move_constructible<T>::value) { return std::move(value_); }

#ifdef __cpp_exceptions
  /// The value; throws a qal3::Error when the call failed.
  T& value_or_throw() & {
    throw_if_failed();
    return value_;
  }
  /// The value, moved out; throws a qal3::Error when the call failed.
  T value_or_throw() && {
    throw_if_failed();
    return std::move(value_);
  }
#endif

 private:
  T value_;
};

/// Helpers of the face, not for direct use.
namespace detail {

/// Collects the calling thread's lines while it lives (a thread sink),
/// putting the thread's previous sink back when it ends.
class Collector {
 public:
  /// Starts collecting.
  Collector() : guard_(&Collector::keep, this) {}
  /// Not copyable.
  Collector(const Collector&) = delete;
  /// Not copyable.
  Collector& operator=(const Collector&) = delete;

  /// The lines collected so far, handed over.
  std::vector<Message> take() noexcept { return std::move(messages_); }

 private:
  static void keep(const qal3_message* m, void* self) noexcept {
#ifdef __cpp_exceptions
    try {
#endif
      Message copy;
      copy.stream = m->stream;
      copy.kind = m->kind;
      copy.text.assign(m->text, m->length);
      if (m->document) copy.document = m->document;
      copy.line = m->line;
      copy.column = m->column;
      static_cast<Collector*>(self)->messages_.push_back(std::move(copy));
#ifdef __cpp_exceptions
    } catch (...) {
      // Out of memory: the line is lost, the call goes on.
    }
#endif
  }
  std::vector<Message> messages_;
  ThreadMessageSink guard_;
};

/// Throws std::bad_alloc, or aborts in a program built without exceptions.
[[noreturn]] inline void out_of_memory() {
#ifdef __cpp_exceptions
  throw std::bad_alloc();
#else
  std::abort();
#endif
}

/// Runs `call` (returning the C-style code) with the thread's lines collected.
template <class Call>
Status collect(Call&& call) {
  Collector lines;
  const int code = call();
  return Status(code, lines.take());
}

/// Runs `call(value)` (returning the C-style code) with the thread's lines
/// collected; the result holds `value` as the call left it.
template <class T, class Call>
Result<T> collect(T value, Call&& call) {
  Status s = collect([&] { return call(value); });
  return Result<T>(std::move(s), std::move(value));
}

/// A text as the C-style functions take it: NUL-terminated, writable.
class CText {
 public:
  /// A copy of `text`.
  explicit CText(std::string_view text) : text_(text) {}
  /// The copy (bytes from a NUL on are not seen by a C-style function).
  char* get() noexcept { return &text_[0]; }
  /// Whether the text holds a NUL character, where a C-style function
  /// would see it end.
  bool cut() const noexcept { return text_.find('\0') != std::string::npos; }

 private:
  std::string text_;
};

/// Emits `line` as an error line on the error stream and returns 1, the code
/// of a reader or writer that could not start.
inline int error_line(const std::string& line) {
  qal3_message m{};
  m.stream = QAL3_MESSAGE_STDERR;
  m.kind = QAL3_MESSAGE_ERROR;
  m.text = line.c_str();
  m.length = line.size();
  qal3_message_emit(&m);
  return 1;
}

/// Emits the error line "<what> holds a NUL character" (a call refused
/// rather than reading its text cut short) and returns 1.
inline int refuse_cut(const char* what) { return error_line(std::string(what) + " holds a NUL character"); }

/// Puts `document` at `path` with qal3_replace_file: 0, or 1 with the
/// error line "<path>: <reason>".
inline int replace_file(const char* path, const std::string& document) {
  char reason[1024];
  if (qal3_replace_file(path, document.data(), document.size(), reason, sizeof reason) == 0) return 0;
  return error_line(std::string(path) + ": " + reason);
}

}  // namespace detail

/// A list of a family's records that owns them: released by the family's
/// own function when the list ends; movable, not copyable. `R` is the
/// record type (see the aliases below).
template <class R>
class List {
 public:
  using Records = std::vector<R*>;  ///< the C-style list held

  /// An empty list.
  List() = default;
  /// Releases the records with the family's function.
  ~List() { Family<R>::release(records_); }
  /// Takes `other`'s records, leaving it empty.
  List(List&& other) noexcept : records_(std::move(other.records_)) { other.records_.clear(); }
  /// Releases this list's records and takes `other`'s, leaving it empty.
  List& operator=(List&& other) noexcept {
    if (this != &other) {
      Family<R>::release(records_);
      records_.swap(other.records_);
    }
    return *this;
  }
  /// Not copyable: the records have one owner.
  List(const List&) = delete;
  /// Not copyable: the records have one owner.
  List& operator=(const List&) = delete;

  /// Number of records.
  std::size_t size() const noexcept { return records_.size(); }
  /// True when the list holds no record.
  bool empty() const noexcept { return records_.empty(); }
  /// Record `i` (0 .. size() - 1), still owned by the list.
  R* operator[](std::size_t i) const noexcept { return records_[i]; }
  /// The first record pointer.
  typename Records::const_iterator begin() const noexcept { return records_.begin(); }
  /// Past the last record pointer.
  typename Records::const_iterator end() const noexcept { return records_.end(); }

  /// The list for C-style calls; records put into it belong to the list and
  /// must be allocated as the family's readers allocate them.
  Records& records() noexcept { return records_; }
  /// The list for C-style calls that only read it.
  const Records& records() const noexcept { return records_; }
  /// Hands every record over to the caller, who releases them as the
  /// family's header says; the list is left empty.
  Records release() noexcept {
    Records out;
    out.swap(records_);
    return out;
  }

  /// Reads the document in the file at `path` with the family's file
  /// reader; `options` go to it after the list (see Family). The code is
  /// the reader's; a path holding a NUL character is refused with code 1.
  template <class... Options>
  static Result<List> read_file(std::string_view path, Options... options) {
    detail::CText file(path);
    return detail::collect(List(), [&](List& l) {
      return file.cut() ? detail::refuse_cut("the path") : Family<R>::read_file(file.get(), &l.records_, options...);
    });
  }

  /// Reads the document `text` (all `text.size()` bytes; one holding a NUL
  /// character is refused with code 1 and a line saying so) from
  /// memory with the family's memory reader; its messages name it `name`
  /// (empty: no name, qal3_set_thread_memory_document); `options` go to the
  /// reader after the list. Not for GigE features, which are read from files.
  template <class... Options>
  static Result<List> parse(std::string_view text, std::string_view name = {}, Options... options) {
    detail::CText document(text);
    const std::string named(name);
    const ThreadMemoryDocument naming(named.c_str());
    return detail::collect(List(), [&](List& l) {
      return document.cut() ? detail::refuse_cut("the document")
                            : Family<R>::read_text(document.get(), &l.records_, options...);
    });
  }

  /// Writes the family's XML document (as text() makes it; `options` go to
  /// the family's writer, see Family) to the file at `path`, which it
  /// replaces whole as qal3_replace_file does: on failure the file is left
  /// as it was. An empty path names no file: the writer then prints the
  /// document, which arrives in messages(). The code is the writer's when
  /// the document cannot be made; 1, with an error line "<path>: <reason>",
  /// when the file cannot be replaced; a path holding a NUL character is
  /// refused with code 1, and nothing is written.
  template <class... Options>
  Status write_file(std::string_view path, Options... options) const {
    detail::CText file(path);
    return detail::collect([&] {
      if (file.cut()) return detail::refuse_cut("the path");
      if (path.empty()) return Family<R>::write(records_, file.get(), nullptr, options...);
      std::string document;
      const int code = Family<R>::write(records_, nullptr, &document, options...);
      return code != 0 ? code : detail::replace_file(file.get(), document);
    });
  }

  /// The family's XML document of the list, as write_file writes it.
  template <class... Options>
  Result<std::string> text(Options... options) const {
    return detail::collect(std::string(),
                           [&](std::string& out) { return Family<R>::write(records_, nullptr, &out, options...); });
  }

 private:
  Records records_;
};

/// Channel descriptions (chan_descr_2010 records).
using ChannelDescriptions = List<chan_descr_2010>;
/// An event list (qal3_ev_entry records).
using EventList = List<qal3_ev_entry>;
/// An environment index dictionary, old layout.
using EnvDictionary = List<qal3_env_index_dictionary_entry>;
/// An environment index dictionary, 2010 layout.
using EnvDictionary2010 = List<qal3_env_index_dictionary_entry_2010>;
/// A trigger list (qal3_user_case_trigger records).
using Triggers = List<qal3_user_case_trigger>;
/// The features of a GigE camera feature file.
using GigEFeatures = List<QAL3GigEFeature>;

/// A document's family and root element, as qal3_family.h finds them.
struct DocumentFamily {
  /// The family; QAL3_FAMILY_UNKNOWN when no root element was read or the
  /// root names no family.
  qal3_family family = QAL3_FAMILY_UNKNOWN;
  /// The root element's name in UTF-8; empty when none was read.
  std::string root;
  /// Line and column (from 1) just past the root's start tag; 0 when no
  /// root element was read.
  long long line = 0;
  /// See line.
  long long column = 0;
};

/// Helpers of the face, not for direct use.
namespace detail {
/// The DocumentFamily of a family code and a root element; code 0 when
/// the family is known, else 1.
inline int family_found(qal3_family family, const qal3_root_element& root, DocumentFamily& out) {
  out.family = family;
  out.root = root.name;
  out.line = root.line;
  out.column = root.column;
  return family == QAL3_FAMILY_UNKNOWN ? 1 : 0;
}
}  // namespace detail

/// The family of the document in the file at `path` (qal3_family_of_file).
/// Code 0 when the root element names a family, 1 when not (the root, when
/// one was read, is still given); a path holding a NUL character is refused
/// with code 1 and a line saying so.
inline Result<DocumentFamily> family_of(std::string_view path) {
  detail::CText file(path);
  return detail::collect(DocumentFamily(), [&](DocumentFamily& out) {
    if (file.cut()) return detail::refuse_cut("the path");
    qal3_root_element root;
    return detail::family_found(qal3_family_of_file(file.get(), &root), root, out);
  });
}

/// The family of the document `text`, all its bytes (NUL bytes included,
/// as UTF-16 holds them), as family_of gives it (qal3_family_of_text).
inline Result<DocumentFamily> family_of_text(std::string_view text) {
  return detail::collect(DocumentFamily(), [&](DocumentFamily& out) {
    qal3_root_element root;
    return detail::family_found(qal3_family_of_text(text.data(), text.size(), &root), root, out);
  });
}

/// How grave a finding of the checker is (qal3_check_severity).
enum class Severity : int {
  warning = QAL3_CHECK_WARNING,  ///< the document is read, but not as written
  error = QAL3_CHECK_ERROR,      ///< the document is refused, or read with a part lost or wrong
};

/// One thing the checker found (qal3_check_finding), copied.
struct Finding {
  std::string document;                 ///< the document's name, as given or found
  long long line = 0;                   ///< from 1; 0 when the finding has no position
  long long column = 0;                 ///< from 1, in characters; 0 when the finding has no position
  Severity severity = Severity::error;  ///< how grave
  std::string code;                     ///< the kind of finding (qal3_check_finding::code)
  std::string message;                  ///< what was found and what the library does with it
  bool across = false;                  ///< a finding across the documents, naming the other place

  /// The line `qal3 check` prints: "FILE:LINE:COLUMN: error: message".
  std::string located() const {
    qal3_check_finding f{};
    f.file = document.c_str();
    f.line = line;
    f.column = column;
    f.severity = static_cast<qal3_check_severity>(severity);
    f.message = message.c_str();
    std::string out(qal3_check_format(&f, nullptr, 0), '\0');
    qal3_check_format(&f, &out[0], out.size() + 1);
    return out;
  }
};

/// A document the checker was given (qal3_check_document), copied.
struct CheckedDocument {
  std::string name;                             ///< as given, or the path found below a folder
  qal3_family family = QAL3_FAMILY_UNKNOWN;     ///< by its root element
  qal3_check_state state = QAL3_CHECK_CHECKED;  ///< what became of it
  std::string root;                             ///< its root element's name; empty when none was read
  std::string reason;                           ///< why it could not be read; empty otherwise
};

/// What to check documents with.
struct CheckOptions {
  bool strict = false;               ///< every finding is an error
  std::vector<std::string> known;    ///< trigger function and operation names the site registers itself
  std::vector<std::string> exclude;  ///< globs of files to leave out of a folder (qal3_check_exclude)
  unsigned long long max_bytes = 0;  ///< the largest file read; 0 for the library's default
};

/// The documents checked together and their findings: each document's own,
/// in the order given, then those across the documents.
struct CheckReport {
  std::vector<CheckedDocument> documents;  ///< in the order given (a folder's by path)
  std::vector<Finding> findings;           ///< the documents' own, then those across them

  /// The findings of `severity`.
  std::size_t count(Severity severity) const noexcept {
    std::size_t n = 0;
    for (const Finding& f : findings) n += f.severity == severity;
    return n;
  }
  /// True when nothing was found that is an error: what a program asks
  /// before it takes a configuration.
  bool passes() const noexcept { return count(Severity::error) == 0; }
};

/// A checker (qal3_check.h) over any number of documents given as text,
/// files and folders. Movable, not copyable; one thread at a time. Link
/// libQAL3CHECK (QAL3::QAL3CHECK).
class Checker {
 public:
  /// A checker set up with `options`. Throws std::bad_alloc (or aborts,
  /// without exceptions) when memory runs out.
  explicit Checker(const CheckOptions& options = CheckOptions()) : checker_(qal3_check_new()) {
    if (!checker_) detail::out_of_memory();
    qal3_check_set_strict(checker_.get(), options.strict);
    if (options.max_bytes) qal3_check_set_max_bytes(checker_.get(), options.max_bytes);
    for (const std::string& name : options.known) qal3_check_know(checker_.get(), name.c_str());
    for (const std::string& glob : options.exclude) qal3_check_exclude(checker_.get(), glob.c_str());
  }

  /// Checks `text`, all its bytes, as the document `name`. Returns the
  /// errors found in it; -1 when memory runs out.
  int text(std::string_view text, const std::string& name = "<text>") {
    return qal3_check_text(checker_.get(), name.c_str(), text.data(), text.size());
  }

  /// Checks the file or the documents below the folder at `path`. Returns
  /// the errors found; -1 for a path holding a NUL character, or when
  /// memory runs out.
  int path(const std::string& path) {
    if (path.find('\0') != std::string::npos) return -1;
    const int found = qal3_check_folder(checker_.get(), path.c_str());
    return found >= 0 ? found : qal3_check_file(checker_.get(), path.c_str());
  }

  /// What has been found so far, copied.
  CheckReport report() const {
    CheckReport r;
    for (std::size_t i = 0, n = qal3_check_document_count(checker_.get()); i < n; ++i) {
      const qal3_check_document& d = *qal3_check_document_at(checker_.get(), i);
      r.documents.push_back({d.name, d.family, d.state, d.root, d.reason});
    }
    for (std::size_t i = 0, n = qal3_check_finding_count(checker_.get()); i < n; ++i) {
      const qal3_check_finding& f = *qal3_check_finding_at(checker_.get(), i);
      r.findings.push_back(
          {f.file, f.line, f.column, static_cast<Severity>(f.severity), f.code, f.message, f.across != 0});
    }
    return r;
  }

 private:
  struct Free {
    void operator()(qal3_checker* c) const noexcept { qal3_check_free(c); }
  };
  std::unique_ptr<qal3_checker, Free> checker_;
};

/// Checks the file or the documents below the folder at `path`, as
/// `qal3 check PATH` does.
inline CheckReport check(const std::string& path, const CheckOptions& options = CheckOptions()) {
  Checker c(options);
  c.path(path);
  return c.report();
}

/// Checks the document `text` held in memory, named `name` in the findings:
/// what a server asks of a new configuration before it takes it.
inline CheckReport check_text(std::string_view text, const std::string& name = "<text>",
                              const CheckOptions& options = CheckOptions()) {
  Checker c(options);
  c.text(text, name);
  return c.report();
}

/// What one trigger did in one event (qal3_replay_outcome).
enum class Outcome : signed char {
  not_fired = QAL3_REPLAY_NOT_FIRED,      ///< a value; the operation said no
  fires = QAL3_REPLAY_FIRES,              ///< a value; the operation said yes
  first_event = QAL3_REPLAY_FIRST_EVENT,  ///< a DIFF function's first event: no value to judge
  no_result = QAL3_REPLAY_NO_RESULT,      ///< the function gave no value
  no_data = QAL3_REPLAY_NO_DATA,          ///< no data for the trigger's channel or subchannel
  invalid = QAL3_REPLAY_INVALID  ///< a function or operation slot outside the registry's tables (user_case_trigger.h)
};

/// What the evaluation of a trigger on a block said.
struct Evaluation {
  /// The outcome.
  Outcome outcome = Outcome::no_result;
  /// The trigger fires.
  bool fires = false;
  /// The first event of a DIFF function (one that differs from the
  /// previous event's value): it keeps its base value and has no result.
  bool first_event = false;
  /// The function's value in this event; none when the function gave none
  /// (it failed, or the channel lacks what it reads) and on a first event.
  std::optional<float> result;
};

/// Evaluates `trigger` on the channel data `block` as a replay does
/// (qal3_replay_evaluate): a DIFF function's base value (fprevresult) is
/// kept from event to event, and the trigger's fresult holds the value
/// only when there is one. Code -1 when the trigger cannot be evaluated (a
/// function or operation slot outside the registry's tables), else 0.
inline Result<Evaluation> evaluate(qal3_serv_block_subhead_2010& block, qal3_user_case_trigger& trigger) {
  return detail::collect(Evaluation(), [&](Evaluation& e) {
    float value = 0.0f;
    e.outcome = static_cast<Outcome>(qal3_replay_evaluate(&block, &trigger, &value));
    e.fires = e.outcome == Outcome::fires;
    e.first_event = e.outcome == Outcome::first_event;
    if (e.outcome == Outcome::fires || e.outcome == Outcome::not_fired) e.result = value;
    return e.outcome == Outcome::invalid ? -1 : 0;
  });
}

/// A spectrum entry of a replay's data: `samples` floats per event on the
/// axis start + i * inc, event e's row at data + e * stride (the data stay
/// the caller's). `channel` null: for every trigger of a channel no other
/// entry names.
inline qal3_replay_data spectrum_data(const char* channel, int subchannel, float start, float inc, std::size_t samples,
                                      const float* data, std::size_t stride) {
  return qal3_replay_data{channel, subchannel, QAL3_REPLAY_SPECTRUM, start, inc, samples, data, stride};
}

/// A name/value entry of a replay's data: event e's value at data[e * stride].
inline qal3_replay_data value_data(const char* channel, int subchannel, const float* data, std::size_t stride = 1) {
  return qal3_replay_data{channel, subchannel, QAL3_REPLAY_VALUE, 0.0f, 0.0f, 1, data, stride};
}

/// A slow-control entry of a replay's data: channel `channel`'s update
/// value, event e's at data[e * stride].
inline qal3_replay_data slow_data(const char* channel, const float* data, std::size_t stride = 1) {
  return qal3_replay_data{channel, 0, QAL3_REPLAY_SLOW, 0.0f, 0.0f, 1, data, stride};
}

/// The answers of a replay run: an outcome and a value (NaN where the
/// function gave none) per event and trigger.
struct ReplayTable {
  /// The number of triggers (the row length).
  std::size_t triggers = 0;
  /// outcomes[e * triggers + k]: trigger k in event e.
  std::vector<Outcome> outcomes;
  /// values[e * triggers + k]: trigger k's value in event e, NaN when none.
  std::vector<float> values;
  /// The number of events.
  std::size_t events() const noexcept { return triggers ? outcomes.size() / triggers : 0; }
  /// Trigger k's outcome in event e.
  Outcome outcome(std::size_t e, std::size_t k) const { return outcomes[e * triggers + k]; }
  /// Trigger k's value in event e; none when it has none.
  std::optional<float> value(std::size_t e, std::size_t k) const {
    const Outcome o = outcome(e, k);
    return o == Outcome::fires || o == Outcome::not_fired ? std::optional<float>(values[e * triggers + k])
                                                          : std::nullopt;
  }
};

/// A trigger list replayed over events (qal3_replay.h): each trigger reads
/// its own channel and subchannel, and DIFF functions go on from run to
/// run. Owns its qal3_replay; movable, not copyable. One thread at a time.
class Replay {
 public:
  /// An empty replay (no triggers).
  Replay() = default;

  /// A replay of the records of `triggers` (copied). Code 1 when a record
  /// is null or memory is short; the replay is then empty.
  static Result<Replay> of(const std::vector<qal3_user_case_trigger*>& triggers) {
    return detail::collect(Replay(), [&](Replay& r) {
      r.replay_.reset(qal3_replay_new(triggers.data(), triggers.size()));
      return r.replay_ || triggers.empty() ? 0 : 1;
    });
  }

  /// The number of triggers.
  std::size_t size() const noexcept { return qal3_replay_size(replay_.get()); }

  /// Replays the triggers over `events` events of `data` (built with
  /// spectrum_data, value_data, slow_data). The code is
  /// qal3_replay_run's: -1, with the reason in messages(), when the data
  /// cannot be replayed.
  Result<ReplayTable> run(const std::vector<qal3_replay_data>& data, std::size_t events) {
    return detail::collect(ReplayTable(), [&](ReplayTable& t) {
      t.triggers = size();
      t.outcomes.resize(events * t.triggers);
      t.values.resize(events * t.triggers);
      static_assert(sizeof(Outcome) == sizeof(signed char), "outcomes are stored as the C call writes them");
      return qal3_replay_run(replay_.get(), data.data(), data.size(), events,
                             reinterpret_cast<signed char*>(t.outcomes.data()), t.values.data());
    });
  }

  /// Whether trigger `k` finds its data in `data`.
  bool finds(std::size_t k, const std::vector<qal3_replay_data>& data) const {
    return qal3_replay_finds(replay_.get(), k, data.data(), data.size()) == 1;
  }

  /// Trigger `k`'s previous value (what a DIFF function compares the next
  /// event with); none when it has none.
  std::optional<float> previous(std::size_t k) const {
    float v = 0.0f;
    return qal3_replay_get_previous(replay_.get(), k, &v) == 1 ? std::optional<float>(v) : std::nullopt;
  }

  /// Sets (or, with none, forgets) trigger `k`'s previous value; false when
  /// `k` is out of range or memory is short.
  bool set_previous(std::size_t k, std::optional<float> value) {
    return qal3_replay_set_previous(replay_.get(), k, value ? &*value : nullptr) == 0;
  }

  /// Forgets every previous value.
  void reset() noexcept { qal3_replay_reset(replay_.get()); }

  /// The replay's own record of trigger `k` (read only), or null.
  const qal3_user_case_trigger* trigger(std::size_t k) const noexcept { return qal3_replay_trigger(replay_.get(), k); }

 private:
  struct Free {
    void operator()(qal3_replay* r) const noexcept { qal3_replay_free(r); }
  };
  std::unique_ptr<qal3_replay, Free> replay_;
};

/// Registers a site's own trigger function in the lowest free slot
/// (qal3_add_user_function); what the function receives and must do (its
/// result in a malloc'd fresult, false when it holds one) is pt2Fun's
/// contract in user_case_trigger.h, and examples/cpp/site_function.cpp
/// shows one. `name` and `help` are kept, not copied: they must stay alive
/// while registered. A set-up step (see user_case_trigger.h). The value is
/// the slot; code -1 when no slot is free.
inline Result<int> add_user_function(pt2Fun function, const char* name, const char* help) {
  return detail::collect(-1, [&](int& slot) {
    slot = qal3_add_user_function(function, const_cast<char*>(name), const_cast<char*>(help));
    return slot < 0 ? -1 : 0;
  });
}

/// Registers a site's own trigger operation in the lowest free slot
/// (qal3_add_user_operation), as add_user_function does.
inline Result<int> add_user_operation(pt2Op operation, const char* name, const char* help) {
  return detail::collect(-1, [&](int& slot) {
    slot = qal3_add_user_operation(operation, const_cast<char*>(name), const_cast<char*>(help));
    return slot < 0 ? -1 : 0;
  });
}

}  // namespace qal3

#endif  // QAL3_HPP
