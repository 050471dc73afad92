// The parser plumbing shared by SAX_Memory_Parser and SAX_File_Parser: the
// hardened SAX parser, the start and the end of the scan.
#include "sax_pull_common.h"

#include <dlfcn.h>
#include <pthread.h>

#include <cstdio>
#include <memory>
#include <string>
#include <xercesc/sax/HandlerBase.hpp>

#include "messages.h"
#include "qal3_xml_platform.h"
#include "reading_scope.h"
#include "xerces_platform.h"

namespace qal3 {
namespace pull {

namespace {

constexpr const char* kParseError = "\nError during parsing memory stream:\n";

// "<intro>Exception message is:  \n<message>\n" on standard error; to a
// sink, one parser error: the message (or the intro's words without one).
void report_exception_text(const char* intro, const XMLCh* message) {
  try {
    const std::string text = qal3::xerces::transcoded(message);
    const std::string raw = std::string(intro) + "Exception message is:  \n" + text + "\n";
    std::string line = text;
    if (line.empty()) {
      line = intro;
      while (!line.empty() && (line.back() == '\n' || line.back() == ':')) line.pop_back();
      line.erase(0, line.find_first_not_of('\n'));
    }
    qal3::messages::send(qal3::messages::err, qal3::messages::parser_error, line.c_str(), line.size(),
                         qal3::messages::flush, raw.data(), raw.size());
  } catch (...) {
    // Out of memory while reporting: the failure itself is counted.
  }
}

// "scanFirst() failed": the document could not be started.
void report_no_start() {
  static const char kNoStart[] = "scanFirst() failed\n";
  qal3::messages::deliver(qal3::messages::err, qal3::messages::error, qal3::messages::flush, kNoStart,
                          sizeof kNoStart - 1);
}

}  // namespace

PullParser* make_parser() {
  // Over its own memory and stream list: what Xerces leaves behind when an
  // allocation fails inside it goes with the parser.
  auto parser = std::make_unique<PullParser>();
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

// Destroys a parser taken out of use and gives back its platform reference.
void destroy(PullParser* parser) {
  delete parser;
  qal3::xerces::release_platform();
}

// The parser each thread keeps between documents, under a thread key whose
// destructor destroys it when the thread ends. (A thread_local object would
// register its destructor with an allocation that ends the process when it
// fails.) The library stays loaded once the key is made, as the destructor
// is its code. Nothing is kept when no key can be made.
class KeptParsers {
 public:
  KeptParsers() {
    Dl_info self;
    made_ = dladdr(reinterpret_cast<void*>(&destroy), &self) != 0 && self.dli_fname &&
            dlopen(self.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE) != nullptr &&
            pthread_key_create(&key_, [](void* p) { destroy(static_cast<PullParser*>(p)); }) == 0;
  }

  // Hands over the calling thread's kept parser (the thread then keeps
  // none), or null when it keeps none.
  PullParser* take() const {
    if (!made_) return nullptr;
    auto* parser = static_cast<PullParser*>(pthread_getspecific(key_));
    if (parser) pthread_setspecific(key_, nullptr);
    return parser;
  }
  // Keeps `parser` for the calling thread if it keeps none.
  bool keep(PullParser* parser) const {
    return made_ && !pthread_getspecific(key_) && pthread_setspecific(key_, parser) == 0;
  }

 private:
  pthread_key_t key_{};
  bool made_ = false;
};

const KeptParsers& kept_parsers() {
  static const KeptParsers kept;
  return kept;
}

}  // namespace

void drop_kept_parser() {
  if (PullParser* parser = kept_parsers().take()) destroy(parser);
}

PullParser* take_parser(QAL3PullHandler& handler) {
  PullParser* parser = kept_parsers().take();
  if (!parser) {
    if (!qal3::xerces::initialize_platform()) {
      qal3::xerces::release_platform();
      return nullptr;
    }
    try {
      parser = make_parser();
    } catch (...) {
      // Out of memory while building: the parser owns nothing.
      qal3::xerces::release_platform();
      return nullptr;
    }
  }
  parser->setDocumentHandler(&handler);
  parser->setErrorHandler(&handler);
  return parser;
}

void give_back(PullParser* parser, bool clean) {
  if (!parser) return;
  // A document that declared XML 1.1 leaves its version in the scanner and
  // its reader manager, where a document without a declaration finds it.
  if (parser->take_handed_out() <= kKeptParserBytes && clean && parser->held_bytes() <= kKeptParserBytes &&
      parser->reads_xml_1_0()) {
    parser->setDocumentHandler(nullptr);
    parser->setErrorHandler(nullptr);
    if (kept_parsers().keep(parser)) return;
  }
  destroy(parser);
}

namespace {

// Runs first() (the parser's parseFirst) and reports how it went.
template <class First>
bool start_with(const xercesc::Locator* locator, First&& first, QAL3PullHandler& handler) {
  const auto failed = [&handler](const XMLCh* message) {
    handler.finishStep();
    report_exception_text(kParseError, message);
    return true;
  };
  bool started = false;
  try {
    started = first();
  } catch (const xercesc::XMLException& e) {
    return failed(e.getMessage());
  } catch (...) {
    return failed(nullptr);
  }
  handler.finishStep();
  if (!started) {
    report_no_start();
    return true;
  }
  qal3::messages::set_position(&handler, locator);
  return false;
}

// The position of the parser's scanner, when it is one of the library's.
const xercesc::Locator* locator_of(xercesc::SAXParser& parser) {
  auto* own = dynamic_cast<PullParser*>(&parser);
  return own ? own->locator() : nullptr;
}

}  // namespace

bool start(xercesc::SAXParser& parser, const xercesc::InputSource& source, xercesc::XMLPScanToken& token,
           QAL3PullHandler& handler) {
  qal3::messages::begin_reading(&handler, qal3_get_thread_memory_document(), nullptr);
  return start_with(
      locator_of(parser), [&] { return parser.parseFirst(source, token); }, handler);
}

bool start(xercesc::SAXParser& parser, const char* path, xercesc::XMLPScanToken& token, QAL3PullHandler& handler) {
  qal3::messages::begin_reading(&handler, path, nullptr);
  if (!path) {
    report_no_start();
    return true;
  }
  auto* own = dynamic_cast<PullParser*>(&parser);
  return start_with(
      locator_of(parser),
      [&] {
        if (!own) return parser.parseFirst(path, token);
        return qal3::xml::with_file_source(
            *own, path, [&](const xercesc::InputSource& source) { return parser.parseFirst(source, token); },
            [&] { return parser.parseFirst(path, token); });
      },
      handler);
}

bool next_failed(QAL3PullHandler& handler, const XMLCh* message) {
  report_exception_text(kParseError, message);
  handler.countError();
  return false;
}

void reset_scanner(xercesc::SAXParser& parser, xercesc::XMLPScanToken& token, QAL3PullHandler& handler) {
  qal3::messages::set_position(&handler, nullptr);  // the scanner has left the document
  try {
    parser.parseReset(token);
  } catch (...) {
    // The scanner is finished either way; its resources go with the parser.
  }
}

}  // namespace pull
}  // namespace qal3

void qal3_xml_drop_thread_parser(void) { qal3::pull::drop_kept_parser(); }
