// The document limits (document_limits.h) enforced inside a Xerces parser
// (SAXParser, XercesDOMParser or SAX2XMLReaderImpl), as the scanner reports
// each declaration and element, so that a document past a limit costs no
// more than the part read up to it. Internal to libQAL3XML.
#ifndef QAL3_BOUNDED_PARSER_H
#define QAL3_BOUNDED_PARSER_H

#include <string>
#include <type_traits>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLErrorCodes.hpp>
#include <xercesc/framework/XMLValidator.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/AbstractDOMParser.hpp>
#include <xercesc/parsers/SAX2XMLReaderImpl.hpp>
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

// The position of the scanner behind a SAX2 reader, which offers no way to
// its scanner but through its validator (whose accessor is protected).
struct ScannerOfValidator : xercesc::XMLValidator {
  static const xercesc::Locator* locator(const xercesc::XMLValidator* validator) {
    if (!validator) return nullptr;
    const xercesc::XMLScanner* (xercesc::XMLValidator::*scanner)() const = &ScannerOfValidator::getScanner;
    const xercesc::XMLScanner* s = (validator->*scanner)();
    return s ? s->getLocator() : nullptr;
  }
};

// `Base` with the limits enforced. When a limit is passed, the parser's
// error handler receives a fatal error whose message names the limit, and
// the scan ends as after any fatal error. Element text is capped only when
// cap_text is set (the pull readers cap text themselves and read on).
template <class Base>
class Bounded : public Base {
 public:
  using Base::Base;

  void cap_text(bool on) { cap_text_ = on; }

  void entityDecl(const xercesc::DTDEntityDecl& decl, const bool is_pe, const bool ignored) override {
    if (!decl.isExternal() && decl.getValueLen() > limits::kMaxEntityUnits)
      refuse(widen("entity '") + decl.getName() + widen("' is longer than the limit of ") +
             number(limits::kMaxEntityUnits) + widen(" characters"));
    Base::entityDecl(decl, is_pe, ignored);
  }

  void startElement(const xercesc::XMLElementDecl& decl, const unsigned int uri, const XMLCh* const prefix,
                    const xercesc::RefVectorOf<xercesc::XMLAttr>& attrs, const XMLSize_t count, const bool empty,
                    const bool root) override {
    if (depth_ >= limits::kMaxDepth)
      refuse(widen("elements nested deeper than the limit of ") + number(limits::kMaxDepth) + widen(" levels"));
    for (XMLSize_t i = 0; i < count; ++i) {
      const xercesc::XMLAttr* a = attrs.elementAt(i);
      if (xercesc::XMLString::stringLen(a->getValue()) > limits::kMaxAttributeUnits)
        refuse(widen("value of attribute '") + a->getQName() + widen("' longer than the limit of ") +
               number(limits::kMaxAttributeUnits) + widen(" characters"));
    }
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

  void docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdata) override {
    if (cap_text_) {
      text_ += length;
      if (text_ > limits::kMaxTextUnits)
        refuse(widen("element text longer than the limit of ") + number(limits::kMaxTextUnits) + widen(" characters"));
    }
    Base::docCharacters(chars, length, cdata);
  }

  void resetDocument() override {
    depth_ = 0;
    text_ = 0;
    Base::resetDocument();
  }

 private:
  static XString number(XMLSize_t n) { return widen(std::to_string(n).c_str()); }

  const xercesc::Locator* where() const {
    if constexpr (std::is_base_of<xercesc::SAXParser, Base>::value)
      return this->getScanner().getLocator();
    else if constexpr (std::is_base_of<xercesc::AbstractDOMParser, Base>::value)
      return this->getScanner()->getLocator();
    else
      return ScannerOfValidator::locator(this->getValidator());
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

  XMLSize_t depth_ = 0;
  XMLSize_t text_ = 0;
  bool cap_text_ = false;
};

}  // namespace xerces
}  // namespace qal3

#endif  // QAL3_BOUNDED_PARSER_H
