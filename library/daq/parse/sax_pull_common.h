// Internals shared by the two pull parsers and the reading loop
// (pull_reader.h): the hardened SAX parser set-up, the start and the pull
// step. Not installed. (The Xerces platform and the hardening shared with
// the GigE reader: xerces_platform.h.)
#ifndef QAL3_SAX_PULL_COMMON_H
#define QAL3_SAX_PULL_COMMON_H

#include <cstddef>
#include <cstdint>

#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/util/XMLException.hpp>

#include "SAX_File_Parser.h"
#include "SAX_Memory_Parser.h"
#include "bounded_parser.h"
#include "parser_memory.h"

namespace qal3 {
namespace pull {

// The SAX parser of the pull readers: the document limits enforced, over
// its own memory and stream list.
using PullParser = qal3::xml::ParserWithOwnMemory<qal3::xerces::Bounded<xercesc::SAXParser>>;

// A SAX parser configured for the pull readers (automatic validation, no
// namespaces or schema) that never loads external DTDs or entities and
// enforces the document limits (xerces_platform.h), without document or
// error handler. Throws only what Xerces throws on allocation.
PullParser* make_parser();

// A parser for one document with `handler` installed as document and error
// handler, holding one platform reference: the parser the calling thread
// kept from an earlier document (see give_back), or a new one. Null when
// the platform cannot be set up or memory runs out; no reference is held
// then. A read that begins while another is in progress on the same thread
// gets a new parser, as the busy one is not kept.
PullParser* take_parser(QAL3PullHandler& handler);

// Ends the use of a parser from take_parser (null: nothing). `clean`: its
// document was read to its end without a counted error. A clean parser
// that took at most kKeptParserBytes for the document, holds at most that
// much and reads its next document as a new parser would (no XML 1.1
// declaration seen) is kept, with its platform reference, for the
// thread's next document if the thread keeps none; any other is destroyed
// and its reference given back.
// Everything else a document leaves in the parser (entities, the DTD,
// names, limits' counts, errors, the handler) is reset when the next one
// starts. So each thread holds at most one idle parser of at most
// kKeptParserBytes (50 to 80 KiB after a usual document, also after one of
// megabytes) until it ends or calls drop_kept_parser.
void give_back(PullParser* parser, bool clean);
constexpr std::size_t kKeptParserBytes = 256 * 1024;

// Destroys the parser the calling thread keeps, if any.
void drop_kept_parser();

// parseFirst over `source` or the file `path`; prints the start messages.
// False on success, true on failure.
bool start(xercesc::SAXParser& parser, const xercesc::InputSource& source, xercesc::XMLPScanToken& token,
           QAL3PullHandler& handler);
bool start(xercesc::SAXParser& parser, const char* path, xercesc::XMLPScanToken& token, QAL3PullHandler& handler);

// Reports an exception that escaped parseNext, counts it as an error and
// ends the document. Returns false (the new gotMore).
bool next_failed(QAL3PullHandler& handler, const XMLCh* message);
// parseReset after the end of input; never throws. Lines emitted after it
// carry the document but no position.
void reset_scanner(xercesc::SAXParser& parser, xercesc::XMLPScanToken& token, QAL3PullHandler& handler);

// The handler state that the pull step reads and resets.
struct HandlerAccess {
  static void begin_step(QAL3PullHandler& h) {
    if (h.end_flag || h.value) {
      h.tag = nullptr;
      h.value = nullptr;
      h.vattr.clear();
      h.end_flag = false;
    }
  }
  static int errors(const QAL3PullHandler& h) { return h.error_count; }
  // The handler of pull parser `p`.
  static QAL3PullHandler& handler(SAX_Memory_Parser& p) { return *p.handler; }
  static QAL3PullHandler& handler(SAX_File_Parser& p) { return p.handler; }
  // p.parse_element(tag, value) of a pull parser built without failure,
  // inlined where the library's internal functions are at hand.
  template <class Parser>
  static int next_element(Parser& p, char** tag, char** value);
  static bool text_open(const QAL3PullHandler& h) { return h.fTextPending; }
  static const char* tag(const QAL3PullHandler& h) { return h.tag; }
  static const char* value(const QAL3PullHandler& h) { return h.value; }
  // QAL3PullHandler::flushText, which the pull step calls directly rather
  // than through the library's exported entry. Text gathered since the last
  // event other than characters becomes the element's value; blank text
  // drops the element instead. Narrowed text ends here, text kept in UTF-16
  // in flush_wide_text (pull_handler.cpp).
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
  // The rest of QAL3PullHandler::startElement once the pending text is
  // flushed and the element's name narrowed to `tag`.
  static void start_element(QAL3PullHandler& h, const char* tag, xercesc::AttributeList& attributes) {
    h.tag = tag;
    ++h.fElementCount;
    h.vattr.clear();
    const XMLSize_t n = attributes.getLength();
    h.fAttrCount += static_cast<unsigned int>(n);
    if (n != 0) h.storeAttributes(attributes, n);
  }

  // QAL3PullHandler::getAttr. Attribute names within one start tag are
  // unique: Xerces reports a repeated name as an error, after which no
  // attribute is handed out. So the search may begin after the last
  // attribute found (readers ask in document order) and still finds the
  // one record of that name.
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

// The handler of a pull parser over a document in memory: `Handlers` with
// each element name narrowed once per document. Its parser has namespaces
// off, so every start tag of one name hands the handler the text of that
// name's decl, which the scanner keeps for the whole document; the narrowed
// name is found again by the address of that text (a direct-mapped table,
// emptied when a document starts). A name longer than a slot holds, or not
// ASCII, is narrowed by `Handlers` at each start tag.
template <class Handlers>
class NameCachingHandler final : public Handlers {
 public:
  void startElement(const XMLCh* name, xercesc::AttributeList& attributes) override {
    this->finishStep();
    const char* narrowed = cached(name);
    if (!narrowed) {
      Handlers::startElement(name, attributes);
      return;
    }
    HandlerAccess::start_element(*this, narrowed, attributes);
  }

  void resetDocument() override {
    for (Slot& s : slots_) s.key = nullptr;
    Handlers::resetDocument();
  }

 private:
  static constexpr std::size_t kSlots = 32;
  static constexpr std::size_t kNameBytes = 32 - sizeof(const XMLCh*);
  struct Slot {
    const XMLCh* key = nullptr;  // the name's text, or null for an empty slot
    char name[kNameBytes];       // its narrowed form, NUL-terminated
  };

  // The narrowed `name` from its slot, or narrowed into it; null when it
  // does not fit or is not ASCII.
  const char* cached(const XMLCh* name) {
    if (!name) return nullptr;
    // Two slots a name may take, found from the bits of its address that
    // tell a pool's names apart: names that meet in one keep apart.
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(name);
    const std::size_t at = ((address >> 4) ^ (address >> 9)) % kSlots;
    Slot& first = slots_[at];
    if (first.key == name) return first.name;
    Slot& second = slots_[(at + 1) % kSlots];
    if (second.key == name) return second.name;
    Slot& s = first.key && !second.key ? second : first;
    s.key = nullptr;
    XMLCh high = 0;
    for (std::size_t i = 0; i < kNameBytes; ++i) {
      const XMLCh c = name[i];
      s.name[i] = static_cast<char>(c);
      if (c == 0) {
        if (high >= 0x80) return nullptr;
        s.key = name;
        return s.name;
      }
      high |= c;
    }
    return nullptr;
  }

  Slot slots_[kSlots];
};

// Advances the parser by one pull step: the handler then holds the step's
// name and text. 0, the error count when the document is to be abandoned,
// or -1 once it is exhausted. The text of an element is one value however
// the scanner splits it: the step reads on while it goes on. The parser is
// one of take_parser's.
inline int advance(xercesc::SAXParser& parser, xercesc::XMLPScanToken& token, bool& gotMore,
                   QAL3PullHandler& handler) {
  HandlerAccess::begin_step(handler);
  if (!gotMore) return -1;
  try {
    gotMore = parser.parseNext(token);
    while (gotMore && HandlerAccess::text_open(handler) && !HandlerAccess::errors(handler) &&
           static_cast<PullParser&>(parser).text_goes_on())
      gotMore = parser.parseNext(token);
  } catch (const xercesc::XMLException& e) {
    gotMore = next_failed(handler, e.getMessage());
  } catch (...) {
    gotMore = next_failed(handler, nullptr);
  }
  if (HandlerAccess::text_open(handler)) HandlerAccess::flush_text(handler);
  if (!gotMore) reset_scanner(parser, token, handler);
  return HandlerAccess::errors(handler);
}

// One pull step (see SAX_Memory_Parser::parse). Inline, so that each
// parser's parse() is the whole step.
inline int step(xercesc::SAXParser& parser, xercesc::XMLPScanToken& token, bool& gotMore, QAL3PullHandler& handler,
                char** tag, char** value) {
  if (tag) *tag = nullptr;
  if (value) *value = nullptr;
  if (const int rc = advance(parser, token, gotMore, handler)) return rc;
  if (tag) *tag = const_cast<char*>(HandlerAccess::tag(handler));
  if (value) *value = const_cast<char*>(HandlerAccess::value(handler));
  return 0;
}

// Pull steps until one names an element (see SAX_Memory_Parser::parse_element):
// the result of the last step, whose name and text only are handed out.
inline int step_to_element(xercesc::SAXParser& parser, xercesc::XMLPScanToken& token, bool& gotMore,
                           QAL3PullHandler& handler, char** tag, char** value) {
  int rc = 0;
  while ((rc = advance(parser, token, gotMore, handler)) == 0) {
    if (const char* name = HandlerAccess::tag(handler)) {
      *tag = const_cast<char*>(name);
      if (value) *value = const_cast<char*>(HandlerAccess::value(handler));
      return 0;
    }
  }
  *tag = nullptr;
  if (value) *value = nullptr;
  return rc;
}

template <class Parser>
int HandlerAccess::next_element(Parser& p, char** tag, char** value) {
  return step_to_element(*p.parser, p.token, p.gotMore, handler(p), tag, value);
}

// Attribute lookup (see SAX_Memory_Parser::get_attr).
inline int get_attr(const QAL3PullHandler& handler, char* name, char** value) {
  if (value) *value = nullptr;
  if (!name || HandlerAccess::errors(handler) != 0 || !value) return -1;
  const char* found = HandlerAccess::attr(handler, name);
  if (!found) return -1;
  *value = const_cast<char*>(found);
  return 0;
}

}  // namespace pull
}  // namespace qal3

#endif  // QAL3_SAX_PULL_COMMON_H
