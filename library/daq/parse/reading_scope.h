// The document a pull parser or the GigE reader of the calling thread is
// reading, for the message path: lines emitted meanwhile without a position
// of their own get the document's name (as the caller gave it) and the
// parser's current position. Internal to libQAL3XML. Not installed.
#ifndef QAL3_READING_SCOPE_H
#define QAL3_READING_SCOPE_H

#include <xercesc/util/XercesDefs.hpp>

XERCES_CPP_NAMESPACE_BEGIN
class Locator;
XERCES_CPP_NAMESPACE_END

namespace qal3 {
namespace messages {

// `owner` (a parser's handler) starts reading `document` (null: a document
// in memory); `locator` (may be null) gives the position while it reads.
// The reading goes on top of the thread's others until `owner` ends it: a
// read begun inside a message sink leaves the outer document's name (and
// the text a sink was given for it) as they are. Without memory for it,
// `owner`'s lines go unnamed.
void begin_reading(const void* owner, const char* document, const xercesc::Locator* locator);

// The position of `owner`'s scan: `locator` while the scanner is inside the
// document (from a successful start to the end of input), null otherwise.
void set_position(const void* owner, const xercesc::Locator* locator);

// `owner` is done: the reading under it is the thread's current one again.
void end_reading(const void* owner);

// True when `owner` is reading on this thread; *document is then its name
// (null for a document in memory).
bool reading(const void* owner, const char** document);

}  // namespace messages
}  // namespace qal3

#endif  // QAL3_READING_SCOPE_H
