// The tool's hardened SAX2 reader (hardened_reader.h).
#include "hardened_reader.h"

#include <xercesc/parsers/SAX2XMLReaderImpl.hpp>
#include <xercesc/sax2/DeclHandler.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "bounded_parser.h"

namespace qal3 {
namespace xerces {

std::unique_ptr<xercesc::SAX2XMLReader> make_hardened_reader() {
  namespace xc = xercesc;
  // A SAX2 reader reports declarations to its scanner's DTD callbacks (where
  // entity sizes are bounded) only while a declaration, lexical or DTD
  // handler is installed: this one, which does nothing, stays installed.
  struct NoDeclarations final : xc::DeclHandler {
    void elementDecl(const XMLCh* const, const XMLCh* const) override {}
    void attributeDecl(const XMLCh* const, const XMLCh* const, const XMLCh* const, const XMLCh* const,
                       const XMLCh* const) override {}
    void internalEntityDecl(const XMLCh* const, const XMLCh* const) override {}
    void externalEntityDecl(const XMLCh* const, const XMLCh* const, const XMLCh* const) override {}
  };
  static NoDeclarations no_declarations;
  auto* bounded = new Bounded<xc::SAX2XMLReaderImpl>();
  std::unique_ptr<xc::SAX2XMLReader> reader(bounded);
  bounded->cap_text(true);
  reader->setFeature(xc::XMLUni::fgXercesLoadExternalDTD, false);
  reader->setFeature(xc::XMLUni::fgXercesDisableDefaultEntityResolution, true);
  reader->setProperty(xc::XMLUni::fgXercesSecurityManager, &security_manager());
  reader->setDeclarationHandler(&no_declarations);
  return reader;
}

}  // namespace xerces
}  // namespace qal3
