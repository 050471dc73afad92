// The parser plumbing shared by SAX_Memory_Parser and SAX_File_Parser: the
// hardened SAX parser, the start and the end of the scan.
#include "sax_pull_common.h"

#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>

#include <cstdio>
#include <memory>

#include "xerces_platform.h"

namespace qal3 {
namespace pull {

namespace {

void report_exception_text(const char* intro, const XMLCh* message) {
  std::fputs(intro, stderr);
  std::fputs("Exception message is:  \n", stderr);
  qal3::xerces::put_transcoded(message);
  std::fputs("\n", stderr);
  std::fflush(stderr);
}

}  // namespace

PullParser* make_parser(QAL3PullHandler& handler) {
  // Over its own memory and stream list: what Xerces leaves behind when an
  // allocation fails inside it goes with the parser.
  auto parser = std::make_unique<PullParser>();
  parser->setDocumentHandler(&handler);
  parser->setErrorHandler(&handler);
  // The parser hands declarations to its DTD callbacks, where entity sizes
  // are bounded, only while a DTD handler is installed: one that does
  // nothing (stateless, shared).
  static xercesc::HandlerBase no_dtd_events;
  parser->setDTDHandler(&no_dtd_events);
  parser->setValidationScheme(xercesc::SAXParser::Val_Auto);
  parser->setDoNamespaces(false);
  parser->setDoSchema(false);
  parser->setValidationSchemaFullChecking(false);
  qal3::xerces::harden(*parser);
  return parser.release();
}

namespace {

// Runs first() (the parser's parseFirst) and reports how it went.
template <class First>
bool start_with(First&& first, QAL3PullHandler& handler) {
  bool started = false;
  try {
    started = first();
  } catch (const xercesc::XMLException& e) {
    handler.finishStep();
    report_exception_text("\nError during parsing memory stream:\n", e.getMessage());
    return true;
  } catch (const xercesc::OutOfMemoryException&) {
    handler.finishStep();
    report_exception_text("\nError during parsing memory stream:\n", nullptr);
    return true;
  } catch (...) {
    handler.finishStep();
    report_exception_text("\nError during parsing memory stream:\n", nullptr);
    return true;
  }
  handler.finishStep();
  if (!started) {
    std::fputs("scanFirst() failed\n", stderr);
    std::fflush(stderr);
    return true;
  }
  return false;
}

}  // namespace

bool start(xercesc::SAXParser& parser, const xercesc::InputSource& source,
           xercesc::XMLPScanToken& token, QAL3PullHandler& handler) {
  return start_with([&] { return parser.parseFirst(source, token); }, handler);
}

bool start(xercesc::SAXParser& parser, const char* path, xercesc::XMLPScanToken& token,
           QAL3PullHandler& handler) {
  if (!path) {
    std::fputs("scanFirst() failed\n", stderr);
    std::fflush(stderr);
    return true;
  }
  auto* own = dynamic_cast<PullParser*>(&parser);
  return start_with(
      [&] {
        if (!own) return parser.parseFirst(path, token);
        return qal3::xml::with_file_source(
            *own, path, [&](const xercesc::InputSource& source) { return parser.parseFirst(source, token); },
            [&] { return parser.parseFirst(path, token); });
      },
      handler);
}

bool next_failed(QAL3PullHandler& handler, const XMLCh* message) {
  report_exception_text("\nError during parsing memory stream:\n", message);
  handler.countError();
  return false;
}

void reset_scanner(xercesc::SAXParser& parser, xercesc::XMLPScanToken& token) {
  try {
    parser.parseReset(token);
  } catch (...) {
    // The scanner is finished either way; its resources go with the parser.
  }
}

}  // namespace pull
}  // namespace qal3
