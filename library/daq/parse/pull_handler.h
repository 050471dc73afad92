// The part of QAL3PullHandler's behaviour that the pull step runs inline;
// the rest of the handler is in pull_handler.cpp. Not installed.
#ifndef QAL3_PULL_HANDLER_H
#define QAL3_PULL_HANDLER_H

#include <cstddef>

#include "SAX_File_Parser.h"
#include "SAX_Memory_Parser.h"

namespace qal3 {
namespace pull {

// The handler of a pull parser over a document in memory, which narrows
// each element name once per document. Owned by the caller; throws
// std::bad_alloc.
MemParseHandlers* make_memory_handler();

// The handler's state as the pull step reads and resets it (the friend of
// the handler and of the two parsers).
struct HandlerAccess {
  // The start of a step: the name, text and attributes of the last step go
  // once it brought text or an end tag.
  static void begin_step(QAL3PullHandler& h) {
    if (h.end_flag || h.value) {
      h.tag = nullptr;
      h.value = nullptr;
      h.vattr.clear();
      h.end_flag = false;
    }
  }
  static int errors(const QAL3PullHandler& h) { return h.error_count; }
  static bool text_open(const QAL3PullHandler& h) { return h.fTextPending; }
  static bool text_blank(const QAL3PullHandler& h) { return !h.fTextNonBlank && !h.fTextWide; }
  static const char* tag(const QAL3PullHandler& h) { return h.tag; }
  static const char* value(const QAL3PullHandler& h) { return h.value; }
  // The handler of pull parser `p`.
  static QAL3PullHandler& handler(SAX_Memory_Parser& p) { return *p.handler; }
  static QAL3PullHandler& handler(SAX_File_Parser& p) { return p.handler; }
  // p.parse_element(tag, value) of a pull parser built without failure,
  // inlined where the library's internal functions are at hand
  // (sax_pull_common.h).
  template <class Parser>
  static int next_element(Parser& p, char** tag, char** value);

  // The end of the text gathered since the last event other than
  // characters: it becomes the element's value; blank text drops the
  // element instead. Narrowed text ends here, text kept in UTF-16 in
  // flush_wide_text.
  static void flush_text(QAL3PullHandler& h) {
    if (!h.fTextPending) return;
    if (h.fTextTooLong) report_too_long(h);
    if (h.fTextWide) {
      flush_wide_text(h);
      return;
    }
    if (h.fTextNonBlank) {
      h.fValueBuf[h.fNarrowLen] = '\0';  // characters() made room for it
      h.value = h.fValueBuf.data();
    } else {
      h.value = nullptr;
      h.tag = nullptr;
    }
    h.fNarrowLen = h.fTextUnits = 0;
    h.fTextPending = h.fTextTooLong = h.fTextNonBlank = false;
  }
  // The message of a text past the limit, counted as an error of `h`.
  static void report_too_long(QAL3PullHandler& h);
  static void flush_wide_text(QAL3PullHandler& h);
  // The start of element `tag` (narrowed) once the pending text is flushed.
  static void start_element(QAL3PullHandler& h, const char* tag, xercesc::AttributeList& attributes);

  // Attribute `name` of the last start tag, or null. Attribute names within
  // one start tag are unique: Xerces reports a repeated name as an error,
  // after which no attribute is handed out. So the search may begin after
  // the last attribute found (readers ask in document order) and still
  // finds the one record of that name.
  static const char* attr(const QAL3PullHandler& h, const char* name) {
    if (!name) return nullptr;
    const std::size_t n = h.vattr.size();
    std::size_t i = h.fAttrHint < n ? h.fAttrHint : 0;
    for (std::size_t k = 0; k < n; ++k) {
      const ::attr& a = *h.vattr[i];
      if (a.name && same_name(a.name, name)) {
        h.fAttrHint = i + 1;
        return a.value;
      }
      if (++i == n) i = 0;
    }
    return nullptr;
  }

 private:
  // strcmp(a, b) == 0 for the short names of attributes, without a call.
  static bool same_name(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
      ++a;
      ++b;
    }
    return *a == *b;
  }
};

}  // namespace pull
}  // namespace qal3

#endif  // QAL3_PULL_HANDLER_H
