// The document limits (document_limits.h) enforced inside a Xerces parser
// (SAXParser or SAX2XMLReaderImpl), as the scanner reports
// each declaration and element, so that a document past a limit costs no
// more than the part read up to it. Internal to libQAL3XML.
#ifndef QAL3_BOUNDED_PARSER_H
#define QAL3_BOUNDED_PARSER_H

#include <array>
#include <string>
#include <type_traits>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/framework/XMLErrorCodes.hpp>
#include <xercesc/framework/XMLValidator.hpp>
#include <xercesc/internal/EndOfEntityException.hpp>
#include <xercesc/internal/ReaderMgr.hpp>
#include <xercesc/internal/XMLReader.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/RefVectorOf.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/DTD/DTDEntityDecl.hpp>

#include "xerces_platform.h"

namespace qal3 {
namespace xerces {

using XString = std::basic_string<XMLCh>;

// `ascii` widened to Xerces text.
inline XString widen(const char* ascii) {
  XString s;
  while (*ascii) s.push_back(static_cast<XMLCh>(static_cast<unsigned char>(*ascii++)));
  return s;
}

// The scanner behind a SAX2 reader, which offers no way to it but through
// its validator (whose accessor is protected).
struct ScannerOfValidator : xercesc::XMLValidator {
  static const xercesc::XMLScanner* scanner(const xercesc::XMLValidator* validator) {
    if (!validator) return nullptr;
    const xercesc::XMLScanner* (xercesc::XMLValidator::*get)() const = &ScannerOfValidator::getScanner;
    return (validator->*get)();
  }
};

// The entity expansions a scanner has made in the document it reads (a
// protected count, kept by Xerces for its own limit).
struct ExpansionsOfScanner : xercesc::XMLScanner {
  static XMLSize_t count(const xercesc::XMLScanner& scanner) {
    const XMLSize_t xercesc::XMLScanner::*expansions = &ExpansionsOfScanner::fEntityExpansionCount;
    return scanner.*expansions;
  }
};

// `Base` with the limits enforced. When a limit is passed, the parser's
// error handler receives a fatal error whose message names the limit, and
// the scan ends as after any fatal error. Element text is capped only when
// cap_text is set (the pull readers cap text themselves and read on).
//
// What the DTD adds to a document has one budget, kMaxAddedUnits: each
// entity expansion counts as the most text it may add (kMaxEntityUnits), and
// each attribute value an element takes from a declared default counts as
// its length. A document then makes its reader do at most a fixed multiple
// of its size plus that budget.
template <class Base>
class Bounded : public Base {
 public:
  using Base::Base;

  void cap_text(bool on) { cap_text_ = on; }

  // False once a document declared an XML version other than 1.0: the
  // scanner keeps it for the documents after, even for one that declares
  // none, so such a parser is not to be used again.
  bool reads_xml_1_0() const {
    const xercesc::XMLScanner* s = scanner();
    return !other_version_ && s && s->getXMLVersion() == xercesc::XMLReader::XMLV1_0;
  }

  void XMLDecl(const XMLCh* const version, const XMLCh* const encoding, const XMLCh* const standalone,
               const XMLCh* const actual_encoding) override {
    static const XMLCh kVersion10[] = {xercesc::chDigit_1, xercesc::chPeriod, xercesc::chDigit_0, 0};
    if (version && *version && !xercesc::XMLString::equals(version, kVersion10)) other_version_ = true;
    Base::XMLDecl(version, encoding, standalone, actual_encoding);
  }

  void entityDecl(const xercesc::DTDEntityDecl& decl, const bool is_pe, const bool ignored) override {
    if (!decl.isExternal() && decl.getValueLen() > limits::kMaxEntityUnits)
      refuse("entity '", decl.getName(), "' is longer than the limit of ", limits::kMaxEntityUnits, " characters");
    Base::entityDecl(decl, is_pe, ignored);
  }

  // A start tag without attributes, within the depth limit and of a name
  // already checked in the document needs only the charge.
  void startElement(const xercesc::XMLElementDecl& decl, const unsigned int uri, const XMLCh* const prefix,
                    const xercesc::RefVectorOf<xercesc::XMLAttr>& attrs, const XMLSize_t count, const bool empty,
                    const bool root) override {
    if (count != 0 || depth_ >= limits::kMaxDepth || !named(decl))
      check_start(decl, attrs, count);
    else
      charge(0);
    text_ = 0;
    if (!empty) ++depth_;
    Base::startElement(decl, uri, prefix, attrs, count, empty, root);
  }

  void endElement(const xercesc::XMLElementDecl& decl, const unsigned int uri, const bool root,
                  const XMLCh* const prefix) override {
    if (depth_ > 0) --depth_;
    text_ = 0;
    Base::endElement(decl, uri, root, prefix);
  }

  void startEntityReference(const xercesc::XMLEntityDecl& decl) override {
    charge(0);
    Base::startEntityReference(decl);
  }

  void docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdata) override {
    if (cap_text_) {
      text_ += length;
      if (text_ > limits::kMaxTextUnits)
        refuse("element text longer than the limit of ", nullptr, "", limits::kMaxTextUnits, " characters");
    }
    Base::docCharacters(chars, length, cdata);
  }

  // The scanner stops at a NUL character as at the end of its input: a
  // document whose input goes on is refused rather than cut short.
  void endDocument() override {
    const xercesc::XMLScanner* s = scanner();
    const xercesc::XMLReader* r = s ? s->getReaderMgr()->getCurrentReader() : nullptr;
    if (r && r->charsLeftInBuffer() != 0)
      refuse(widen("a NUL character after the root element ends the document before its input ends"));
    Base::endDocument();
  }

  // True when the element text that the scanner stopped in goes on: what
  // follows is not an element's start or end tag but a comment, a
  // processing instruction, a CDATA section, an entity reference or the
  // rest of the text around the end of an entity. The entities read to
  // their end are ended as the scanner ends them, with the same event.
  // `blank`: the text so far is blank, and a start tag rather than an end
  // tag is likely next (the answer is the same; only the peeks differ).
  bool text_goes_on(bool blank) {
    const xercesc::XMLScanner* s = scanner();
    if (!s) return false;
    // The scanner's own reader manager, reachable only as const.
    auto& readers = const_cast<xercesc::ReaderMgr&>(*s->getReaderMgr());
    // The usual case: the current reader holds the next character, peeked
    // at inline; without one, the manager's peek (which may end entities).
    XMLCh next = 0;
    xercesc::XMLReader* current = readers.getCurrentReader();
    if (current && current->charsLeftInBuffer() != 0) {
      current->peekNextChar(next);
    } else {
      for (;;) {
        try {
          next = readers.peekNextChar();
          break;
        } catch (const xercesc::EndOfEntityException& end) {
          this->endEntityReference(end.getEntity());
        }
      }
    }
    if (next != xercesc::chOpenAngle) return next != 0;
    static const XMLCh kEndTag[] = {xercesc::chOpenAngle, xercesc::chForwardSlash, 0};
    static const XMLCh kMarkup[] = {xercesc::chOpenAngle, xercesc::chBang, 0};
    static const XMLCh kInstruction[] = {xercesc::chOpenAngle, xercesc::chQuestion, 0};
    if (!blank && readers.peekString(kEndTag)) return false;
    return readers.peekString(kMarkup) || readers.peekString(kInstruction);
  }

  // A message of the parser's quotes names and values as the document has
  // them, before the limits above see them: one longer than kMaxMessageUnits
  // is cut there, and ends in "...".
  void error(const unsigned int code, const XMLCh* const domain, const xercesc::XMLErrorReporter::ErrTypes type,
             const XMLCh* const text, const XMLCh* const system_id, const XMLCh* const public_id, const XMLFileLoc line,
             const XMLFileLoc column) override {
    if (!text || xercesc::XMLString::stringLen(text) <= limits::kMaxMessageUnits) {
      Base::error(code, domain, type, text, system_id, public_id, line, column);
      return;
    }
    const XString cut = XString(text, limits::kMaxMessageUnits) + widen("...");
    Base::error(code, domain, type, cut.c_str(), system_id, public_id, line, column);
  }

  void resetDocument() override {
    depth_ = 0;
    text_ = 0;
    defaults_ = 0;
    named_.fill(nullptr);
    Base::resetDocument();
  }

  // The scanner resets its expansion count after resetDocument, when it
  // has a security manager; the count it holds when the document starts is
  // the base of this document's expansions either way.
  void startDocument() override {
    const xercesc::XMLScanner* s = scanner();
    expansions_ = s ? ExpansionsOfScanner::count(*s) : 0;
    Base::startDocument();
  }

 private:
  static XString number(XMLSize_t n) { return widen(std::to_string(n).c_str()); }

  const xercesc::XMLScanner* scanner() const {
    if constexpr (std::is_base_of<xercesc::SAXParser, Base>::value)
      return &this->getScanner();
    else
      return ScannerOfValidator::scanner(this->getValidator());
  }

  const xercesc::Locator* where() const {
    const xercesc::XMLScanner* s = scanner();
    return s ? s->getLocator() : nullptr;
  }

  // The checks of a start tag that has attributes, is nested deep or has a
  // name not yet checked in this document, and the charge for what the DTD
  // added to it (out of line: most start tags need none of it).
  __attribute__((noinline)) void check_start(const xercesc::XMLElementDecl& decl,
                                             const xercesc::RefVectorOf<xercesc::XMLAttr>& attrs,
                                             const XMLSize_t count) {
    if (depth_ >= limits::kMaxDepth)
      refuse("elements nested deeper than the limit of ", nullptr, "", limits::kMaxDepth, " levels");
    if (!named(decl)) {
      note_named(decl);
      check_name(decl.getFullName(), "element");
      // The scanner numbers the names it keeps for undeclared elements from 1.
      if (!decl.isDeclared() && decl.getId() > limits::kMaxUndeclaredNames)
        refuse("more distinct undeclared element names than the limit of ", nullptr, "", limits::kMaxUndeclaredNames,
               "");
    }
    XMLSize_t defaulted = 0;
    for (XMLSize_t i = 0; i < count; ++i) {
      const xercesc::XMLAttr* a = attrs.elementAt(i);
      check_name(a->getQName(), "attribute");
      const XMLSize_t length = units(a->getValue());
      if (length > limits::kMaxAttributeUnits)
        refuse("value of attribute '", a->getQName(), "' longer than the limit of ", limits::kMaxAttributeUnits,
               " characters");
      if (!a->getSpecified()) defaulted += length;
    }
    charge(defaulted);
  }

  // Whether `decl`'s name has passed the checks above in this document. The
  // scanner keeps one decl per name for the whole document, numbered within
  // its pool; the first numbers are kept with the decl they were seen on
  // (note_named, before the checks: a failed check ends the scan), so a decl
  // of another pool with the same number is checked anew.
  bool named(const xercesc::XMLElementDecl& decl) const {
    const XMLSize_t id = decl.getId();
    return id < named_.size() && named_[id] == &decl;
  }
  void note_named(const xercesc::XMLElementDecl& decl) {
    const XMLSize_t id = decl.getId();
    if (id < named_.size()) named_[id] = &decl;
  }

  // The units of NUL-terminated `text`, 0 for none (names and values are
  // short: a loop here costs less than a call).
  static XMLSize_t units(const XMLCh* text) {
    XMLSize_t n = 0;
    while (text && text[n] != 0) ++n;
    return n;
  }

  // `kind`'s name `name` within kMaxNameUnits.
  void check_name(const XMLCh* name, const char* kind) {
    if (name && units(name) > limits::kMaxNameUnits)
      refuse(kind, nullptr, " name longer than the limit of ", limits::kMaxNameUnits, " characters");
  }

  // Adds `units` of default attribute values to what the DTD added, and
  // holds the sum with the expansions made so far to the budget.
  void charge(XMLSize_t units) {
    const xercesc::XMLScanner* s = scanner();
    const XMLSize_t count = s ? ExpansionsOfScanner::count(*s) : 0;
    const XMLSize_t expanded = count >= expansions_ ? count - expansions_ : count;
    defaults_ += units;
    if (defaults_ > limits::kMaxAddedUnits || expanded > (limits::kMaxAddedUnits - defaults_) / limits::kMaxEntityUnits)
      refuse("entities and default attribute values add more text than the limit of ", nullptr, "",
             limits::kMaxAddedUnits, " characters");
  }

  // Reports `message` as a fatal error at the scanner's position and ends
  // the scan the way Xerces ends it after a fatal error.
  [[noreturn]] void refuse(const XString& message) {
    const xercesc::Locator* at = where();
    this->error(xercesc::XMLErrs::EntityExpansionLimitExceeded, xercesc::XMLUni::fgXMLErrDomain,
                xercesc::XMLErrorReporter::ErrType_Fatal, message.c_str(),
                at && at->getSystemId() ? at->getSystemId() : xercesc::XMLUni::fgZeroLenString,
                at && at->getPublicId() ? at->getPublicId() : xercesc::XMLUni::fgZeroLenString,
                at ? at->getLineNumber() : 0, at ? at->getColumnNumber() : 0);
    throw xercesc::XMLErrs::EntityExpansionLimitExceeded;
  }

  // refuse() with the message "<head><name><middle><limit><tail>" (no name
  // when null), made out of line: the checks that may refuse stay small.
  [[noreturn]] __attribute__((noinline, cold)) void refuse(const char* head, const XMLCh* name, const char* middle,
                                                           XMLSize_t limit, const char* tail) {
    XString message = widen(head);
    if (name) message += name;
    refuse(message + widen(middle) + number(limit) + widen(tail));
  }

  XMLSize_t depth_ = 0;
  XMLSize_t text_ = 0;
  XMLSize_t defaults_ = 0;    // units of default attribute values taken
  XMLSize_t expansions_ = 0;  // the scanner's expansion count when the document began
  bool cap_text_ = false;
  bool other_version_ = false;
  // By decl number, the decls whose names have passed the checks; numbers
  // within the undeclared-name limit only.
  std::array<const xercesc::XMLElementDecl*, 64> named_{};
  static_assert(64 <= limits::kMaxUndeclaredNames, "a noted decl is within the undeclared-name limit");
};

}  // namespace xerces
}  // namespace qal3

#endif  // QAL3_BOUNDED_PARSER_H
