/// \file
/// Checking configuration documents: each against its family's XML Schema
/// (built into the library: no file is needed at run time) and against what
/// the family's reader would silently take differently (texts cut, values
/// out of range, repeated keys, limits an operation ignores, names no
/// registry knows), and the documents checked together against one another
/// (a trigger's channel that no channel description has, a property
/// described twice with different contents, ...).
///
/// A checker collects documents, given as text, as files or as the
/// documents below a folder, and their findings. It reads documents as
/// hardened as the readers do (nothing is fetched, the document limits
/// hold) and prints nothing: every finding is a record.
///
/// One checker is used by one thread at a time; several checkers may run
/// in several threads at once. Usable from C and C++; link libQAL3CHECK.
#ifndef QAL3_CHECK_H
#define QAL3_CHECK_H

#include <stddef.h>

#include "qal3_export.h"
#include "qal3_family.h"

#ifdef __cplusplus
extern "C" {
#endif

/// How grave a finding is. The values are stable.
typedef enum qal3_check_severity {
  QAL3_CHECK_WARNING = 0,  ///< the document is read, but not as written
  QAL3_CHECK_ERROR = 1     ///< the document is refused, or read with a part lost or wrong
} qal3_check_severity;

/// What became of a document given to a checker. The values are stable.
typedef enum qal3_check_state {
  QAL3_CHECK_CHECKED = 0,           ///< read and checked (its findings may include errors)
  QAL3_CHECK_UNREADABLE = 1,        ///< the file could not be read: the system's reason is in `reason`
  QAL3_CHECK_TOO_LARGE = 2,         ///< the file is larger than the checker's limit (qal3_check_set_max_bytes)
  QAL3_CHECK_SKIPPED = 3,           ///< found below a folder, with a root element of no family: not checked
  QAL3_CHECK_UNREADABLE_FOLDER = 4  ///< a folder below the one given could not be read: the reason is in `reason`
} qal3_check_state;

/// A document given to a checker. Its strings belong to the checker and
/// stay valid until it is freed.
typedef struct qal3_check_document {
  const char* name;        ///< as given (a path, or the name given with a text); never null
  qal3_family family;      ///< by its root element; QAL3_FAMILY_UNKNOWN when none
  qal3_check_state state;  ///< what became of it
  const char* root;        ///< its root element's name in UTF-8; "" when none was read
  const char* reason;      ///< why it could not be read (the system's reason, or the limit), else ""
} qal3_check_document;

/// One thing found. Its strings belong to the checker and stay valid until
/// it is freed.
typedef struct qal3_check_finding {
  size_t document;               ///< index of the document it is in (qal3_check_document_at)
  const char* file;              ///< that document's name; never null
  long long line;                ///< from 1; 0 when the finding has no position
  long long column;              ///< from 1, in characters; 0 when the finding has no position
  qal3_check_severity severity;  ///< QAL3_CHECK_ERROR for every finding of a strict checker
  /// The kind of finding, a stable static name. The file: "unreadable",
  /// "too-large", "resources" (memory ran out). The XML: "not-well-formed",
  /// "doctype", "dtd-default", "no-root", "unknown-root", "schema" (the
  /// family's XML Schema). What the reader takes differently: "cut",
  /// "out-of-range", "not-a-number", "float-range", "float-precision",
  /// "negative", "missing", "ignored", "not-read", "repeated",
  /// "repeated-key", "listed-twice", "block-name", "reader", "feature",
  /// "unknown-name". What a trigger does: "limit-unset", "limits-crossed",
  /// "mask-empty", "window", "diffsum-sign". Across the documents:
  /// "undescribed", "described-differently", "shared-daq-name".
  const char* code;
  const char* message;  ///< what was found and what the library does with it, in UTF-8
  int across;           ///< non-zero for a finding across the documents (it names the other place)
} qal3_check_finding;

/// A checker (opaque).
typedef struct qal3_checker qal3_checker;

/// A new checker with no documents, not strict, knowing the built-in and
/// registered trigger names only, reading files of up to 256 MiB. Null when
/// memory runs out. Free it with qal3_check_free.
QAL3_API qal3_checker* qal3_check_new(void);

/// Frees `checker` and all it holds; null is ignored.
QAL3_API void qal3_check_free(qal3_checker* checker);

/// With `strict` non-zero, every finding of the documents checked from then
/// on is an error. 0, or -1 for a null checker.
QAL3_API int qal3_check_set_strict(qal3_checker* checker, int strict);

/// The largest file (in bytes) that qal3_check_file and qal3_check_folder
/// read; a larger one is QAL3_CHECK_TOO_LARGE. 0, or -1 for a null checker
/// or a limit of 0.
QAL3_API int qal3_check_set_max_bytes(qal3_checker* checker, unsigned long long max_bytes);

/// Takes `name` (NUL-terminated, copied) as a trigger function or operation
/// name that the site registers itself, so that documents naming it are not
/// reported. 0, or -1 for a null checker or name or an empty name.
QAL3_API int qal3_check_know(qal3_checker* checker, const char* name);

/// Leaves out of qal3_check_folder the files that match `glob` (fnmatch(3),
/// no flags; copied) by their path below the folder or by their base name.
/// 0, or -1 for a null checker or glob.
QAL3_API int qal3_check_exclude(qal3_checker* checker, const char* glob);

/// Checks the `length` bytes at `text` (copied as needed; may hold NUL
/// bytes, as UTF-16 does) as the document named `name` (copied; null reads
/// as "<text>"). Returns the number of errors found in it, or -1 for a null
/// checker, a null text with a non-zero length, or memory run out.
QAL3_API int qal3_check_text(qal3_checker* checker, const char* name, const char* text, size_t length);

/// Reads and checks the file `path` (a document named by its path, whatever
/// its root element). Returns the number of errors found in it (1 when it
/// cannot be read or is too large), or -1 for a null checker or path, or
/// memory run out.
QAL3_API int qal3_check_file(qal3_checker* checker, const char* path);

/// Checks the documents below the folder `path`: the files whose names end
/// in ".xml" (in any case), in it and in the folders below it, sorted by
/// path, but for those qal3_check_exclude leaves out, the entries whose
/// names start with '.' and the folders reached through a symbolic link.
/// A file whose root element is no family's is QAL3_CHECK_SKIPPED. A
/// folder that cannot be read is a document of state QAL3_CHECK_UNREADABLE.
/// Returns the number of errors found below it, or -1 for a null checker
/// or path, a path that is not a folder, or memory run out.
QAL3_API int qal3_check_folder(qal3_checker* checker, const char* path);

/// The number of documents given to `checker` so far (0 for null).
QAL3_API size_t qal3_check_document_count(const qal3_checker* checker);

/// Document `index` (0-based, in the order given; a folder's in path
/// order); null for a null checker or an index out of range.
QAL3_API const qal3_check_document* qal3_check_document_at(const qal3_checker* checker, size_t index);

/// The number of findings so far (0 for null): each document's own, in the
/// order the documents were given and by position in each, then those
/// across the documents (a trigger's channel no description has, a name
/// described twice, ...), which name both places. A finding across the
/// documents is made once all are given: it is recounted after each new
/// document, and its position in the list may change.
QAL3_API size_t qal3_check_finding_count(const qal3_checker* checker);

/// Finding `index` (0-based); null for a null checker or an index out of
/// range. Valid until the next call that gives the checker a document.
QAL3_API const qal3_check_finding* qal3_check_finding_at(const qal3_checker* checker, size_t index);

/// The number of findings of `severity`, unreadable and too large documents
/// counted as errors; 0 for a null checker.
QAL3_API size_t qal3_check_count(const qal3_checker* checker, qal3_check_severity severity);

/// "FILE:LINE:COLUMN: error: message" (the position left out when it is
/// unknown, "warning" for a warning), on one line: control characters and
/// backslashes of the file name and message are escaped as C does. Written
/// into `out` (`size` bytes, NUL-terminated, cut at a whole character to
/// fit) unless `out` is null. Returns the length the whole line has
/// (without the NUL), or 0 for a null finding.
QAL3_API size_t qal3_check_format(const qal3_check_finding* finding, char* out, size_t size);

/// The file name of the XML Schema of `family` ("triggers.xsd", ...), a
/// static string, and its text in `*text` and `*length` (each unless null;
/// static, not NUL-terminated): the schema the checker validates against,
/// installed beside the tool for other validators. Null for
/// QAL3_FAMILY_UNKNOWN and any value that is no family.
QAL3_API const char* qal3_check_schema(qal3_family family, const char** text, size_t* length);

#ifdef __cplusplus
}
#endif

#endif  // QAL3_CHECK_H
