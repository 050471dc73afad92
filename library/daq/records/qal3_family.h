/// \file
/// The family of a configuration document (event list, channel
/// descriptions, environment index dictionary, GigE feature file, trigger
/// list), named by its root element as the family's reader takes it.
///
/// A document is read by the readers' own parser, as hardened and bounded
/// as they are (no external DTD or entity is loaded, the document limits
/// hold), in any encoding the readers take (UTF-8, UTF-16 with a byte order
/// mark or with an XML declaration, ...), over its XML declaration, DOCTYPE
/// (internal subset included), comments and processing instructions, and
/// only as far as the root element's start tag: what follows is neither
/// read nor judged. Nothing is printed or sent to a message sink.
///
/// qal3_replace_file puts a document's bytes at a path whole, as the C++
/// face's writers do.
///
/// Calls may run in several threads at once. Usable from C and C++.
#ifndef QAL3_FAMILY_H
#define QAL3_FAMILY_H

#include <stddef.h>

#include "qal3_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/// A document family. The values are stable.
typedef enum qal3_family {
  QAL3_FAMILY_UNKNOWN = 0,            ///< no root element could be read, or a root of no family
  QAL3_FAMILY_EVENT_LIST = 1,         ///< event list (parse_ev_list.h)
  QAL3_FAMILY_CHAN_DESCRIPTIONS = 2,  ///< channel descriptions (parse_chan_descr.h)
  QAL3_FAMILY_DAQ_VARIABLES = 3,      ///< channel descriptions, DAQvariables format (parse_chan_descr.h)
  QAL3_FAMILY_ENV_DICT = 4,           ///< environment index dictionary, either layout
  QAL3_FAMILY_GIGE = 5,               ///< GigE camera feature file (qal3_gige_descr.h)
  QAL3_FAMILY_TRIGGER_LIST = 6        ///< trigger list (user_case_trigger.h)
} qal3_family;

/// Bytes of qal3_root_element::name, its terminating NUL included.
#define QAL3_ROOT_NAME_SIZE 256

/// The root element of a document, as far as it was read.
typedef struct qal3_root_element {
  /// The root's name in UTF-8, NUL-terminated, cut at a whole character
  /// to fit; "" when no root element was read.
  char name[QAL3_ROOT_NAME_SIZE];
  /// Line (from 1) of the end of the root's start tag, just past its '>',
  /// as the readers' messages count lines; 0 when no root element was read.
  long long line;
  /// Column (from 1, in characters) of that end on its line; 0 when no root
  /// element was read.
  long long column;
} qal3_root_element;

/// The family of the document in the file `path` (a local file; a URL other
/// than file: is never fetched). `root` (null for none) receives the root
/// element, also when it names no family. QAL3_FAMILY_UNKNOWN for a null
/// path, a file that cannot be read, a document that is not XML, empty or
/// ends before its root's start tag, or a root element of no family.
QAL3_API qal3_family qal3_family_of_file(const char* path, qal3_root_element* root);

/// As qal3_family_of_file for the `length` bytes at `text` (which may hold
/// NUL bytes, as UTF-16 does; null reads as no bytes), which are not copied
/// and are only read during the call.
QAL3_API qal3_family qal3_family_of_text(const char* text, size_t length, qal3_root_element* root);

/// The family whose documents have the root element `name` (NUL-terminated,
/// UTF-8, compared exactly); QAL3_FAMILY_UNKNOWN for null or any other name.
QAL3_API qal3_family qal3_family_of_root(const char* name);

/// The root element of the documents of `family`, a static string; null for
/// QAL3_FAMILY_UNKNOWN and for a value that is no family.
QAL3_API const char* qal3_family_root(qal3_family family);

/// The family's name in words ("event list", "channel descriptions", "DAQ
/// variables", "environment index dictionary", "GigE feature file",
/// "trigger list"), a static string; null for QAL3_FAMILY_UNKNOWN and for a
/// value that is no family.
QAL3_API const char* qal3_family_name(qal3_family family);

/// Puts the `size` bytes at `data` at `path` whole or not at all, as the
/// tool's -o and the Python writers do: a new file in the folder of `path`
/// takes the bytes and is renamed over it, with the owner, group, access
/// control list, mode (less the set-user-ID and set-group-ID bits) and
/// extended attributes of the file it replaces; a symbolic link at `path`
/// is replaced, not followed; other names of a file with several hard links
/// keep the old bytes. A device or FIFO at `path` is written in place. 0
/// when done; otherwise an error number (EINVAL for a null or empty `path`,
/// or null `data` with a non-zero `size`), the file at `path` is left as it
/// was, and `reason` (null for none) receives why, one NUL-terminated line
/// cut to `reason_size` bytes. Prints nothing; `data` is only read.
QAL3_API int qal3_replace_file(const char* path, const char* data, size_t size, char* reason, size_t reason_size);

#ifdef __cplusplus
}
#endif

#endif  // QAL3_FAMILY_H
