// The pull handler and the parser plumbing shared by SAX_Memory_Parser and
// SAX_File_Parser.
#include "sax_pull_common.h"

#include "SAX_File_Parser.h"

#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PanicHandler.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

using xercesc::XMLString;

namespace {

// Texts longer than this (in UTF-16 units) end the document as an error:
// no reader keeps more, and only entity amplification produces such text.
constexpr std::size_t kMaxTextUnits = 1u << 20;

// Entity expansions allowed per document. The formats read here use no
// entities; the bound stops nested-entity documents early.
constexpr XMLSize_t kEntityExpansionLimit = 1000;

xercesc::SecurityManager& security_manager() {
  static xercesc::SecurityManager manager;
  static const bool configured = (manager.setEntityExpansionLimit(kEntityExpansionLimit), true);
  (void)configured;
  return manager;
}

// Converts NUL-terminated Xerces text to the local code page into `out`.
// ASCII text (the usual case) is narrowed directly, which gives the same
// bytes as XMLString::transcode without an allocation; anything else goes
// through XMLString::transcode. False when the text cannot be converted.
bool transcode_into(const XMLCh* text, std::string& out) {
  if (!text) {
    out.clear();
    return false;
  }
  std::size_t n = 0;
  XMLCh high = 0;
  for (; text[n]; ++n) high |= text[n];
  if (high < 0x80) {
    out.resize(n);
    char* dst = &out[0];
    for (std::size_t i = 0; i < n; ++i) dst[i] = static_cast<char>(text[i]);
    return true;
  }
  char* converted = XMLString::transcode(text);
  if (!converted) {
    out.clear();
    return false;
  }
  out.assign(converted);
  XMLString::release(&converted);
  return true;
}

// Points `handle` at `buf` when `text` converts, else sets it null.
void set_string(const char*& handle, std::string& buf, const XMLCh* text) {
  handle = transcode_into(text, buf) ? buf.c_str() : nullptr;
}

// Writes a transcoded Xerces text to standard error (nothing for null).
void put_transcoded(const XMLCh* text) {
  if (!text) return;
  char* s = XMLString::transcode(text);
  if (s) {
    std::fputs(s, stderr);
    XMLString::release(&s);
  }
}

void report_exception_text(const char* intro, const XMLCh* message) {
  std::fputs(intro, stderr);
  std::fputs("Exception message is:  \n", stderr);
  put_transcoded(message);
  std::fputs("\n", stderr);
  std::fflush(stderr);
}

// True when the text holds only spaces, newlines and tabs (or nothing).
// Calls `report`, which prints, and swallows what printing may throw.
void report_quietly(void (*report)(const XMLCh*), const XMLCh* message) {
  if (!report) return;
  try {
    report(message);
  } catch (...) {
  }
}

bool all_blank(const std::vector<XMLCh>& text) {
  for (XMLCh c : text) {
    if (c != u' ' && c != u'\n' && c != u'\t') return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// QAL3PullHandler

QAL3PullHandler::QAL3PullHandler() = default;

QAL3PullHandler::~QAL3PullHandler() { releaseAll(); }

MemParseHandlers::~MemParseHandlers() = default;

FileParseHandlers::~FileParseHandlers() = default;

void FileParseHandlers::resetErrors() { fSawErrors = false; }

void QAL3PullHandler::getTagValue(const char** t, const char** v) const {
  if (t) *t = tag;
  if (v) *v = value;
}

int QAL3PullHandler::getErrorCount() const { return error_count; }

const char* QAL3PullHandler::getAttr(char* name) const {
  if (!name) return nullptr;
  for (const attr* a : vattr) {
    if (a->name && std::strcmp(a->name, name) == 0) return a->value;
  }
  return nullptr;
}

void QAL3PullHandler::releaseAttributes() { vattr.clear(); }

void QAL3PullHandler::releaseAll() {
  releaseAttributes();
  value = nullptr;
  tag = nullptr;
  fText.clear();
  fTextPending = false;
  fTextTooLong = false;
}

void QAL3PullHandler::reset_end_tag_flag() {
  if (end_flag || value) {
    tag = nullptr;
    value = nullptr;
    releaseAttributes();
    end_flag = false;
  }
}

void QAL3PullHandler::resetTagValue() {
  tag = nullptr;
  value = nullptr;
}

void QAL3PullHandler::resetTag() { tag = nullptr; }

void QAL3PullHandler::resetValue() { value = nullptr; }

void QAL3PullHandler::countError() { ++error_count; }

// Text gathered since the last event other than characters becomes the
// element's value; text made only of blanks drops the element instead.
void QAL3PullHandler::flushText() {
  if (!fTextPending) return;
  fTextPending = false;
  if (fTextTooLong) {
    fTextTooLong = false;
    std::fputs("\nError: element text longer than 1048576 characters\n", stderr);
    std::fflush(stderr);
    ++error_count;
  }
  if (all_blank(fText)) {
    fText.clear();
    value = nullptr;
    tag = nullptr;
    return;
  }
  fText.push_back(0);
  set_string(value, fValueBuf, fText.data());
  fText.clear();
  if (!value) tag = nullptr;
}

void QAL3PullHandler::finishStep() { flushText(); }

void QAL3PullHandler::characters(const XMLCh* chars, XMLSize_t length) {
  fCharacterCount += static_cast<unsigned int>(length);
  if (!tag && !fTextPending) return;
  fTextPending = true;
  if (fText.size() + length > kMaxTextUnits) {
    fTextTooLong = true;
    return;
  }
  fText.insert(fText.end(), chars, chars + length);
}

void QAL3PullHandler::endElement(const XMLCh*) {
  flushText();
  end_flag = true;
}

void QAL3PullHandler::ignorableWhitespace(const XMLCh*, XMLSize_t length) {
  fSpaceCount += static_cast<unsigned int>(length);
}

void QAL3PullHandler::resetDocument() {
  fElementCount = fAttrCount = fCharacterCount = fSpaceCount = 0;
  error_count = 0;
  value = nullptr;
  tag = nullptr;
  fText.clear();
  fTextPending = false;
  fTextTooLong = false;
}

void QAL3PullHandler::startElement(const XMLCh* name, xercesc::AttributeList& attributes) {
  flushText();
  set_string(tag, fTagBuf, name);
  ++fElementCount;
  const XMLSize_t n = attributes.getLength();
  fAttrCount += static_cast<unsigned int>(n);
  releaseAttributes();
  if (fAttrPool.size() < n) fAttrPool.resize(n);
  for (XMLSize_t i = 0; i < n; ++i) {
    AttrSlot& slot = fAttrPool[i];
    set_string(slot.record.name, slot.name, attributes.getName(i));
    set_string(slot.record.type, slot.type, attributes.getType(i));
    set_string(slot.record.value, slot.value, attributes.getValue(i));
    vattr.push_back(&slot.record);
  }
}

void QAL3PullHandler::report(const char* prefix, const xercesc::SAXParseException& exc) {
  std::fputs(prefix, stderr);
  put_transcoded(exc.getSystemId());
  std::fprintf(stderr, ", line %llu, char %llu): ",
               static_cast<unsigned long long>(exc.getLineNumber()),
               static_cast<unsigned long long>(exc.getColumnNumber()));
  put_transcoded(exc.getMessage());
  std::fputs("\n", stderr);
  std::fflush(stderr);
  ++error_count;
}

void QAL3PullHandler::error(const xercesc::SAXParseException& exc) {
  report("\nError at (file ", exc);
}

void QAL3PullHandler::fatalError(const xercesc::SAXParseException& exc) {
  report("\nFatal Error at (file ", exc);
}

void QAL3PullHandler::warning(const xercesc::SAXParseException& exc) {
  report("\nWarning at (file ", exc);
}

// ---------------------------------------------------------------------------
// Parser plumbing

namespace qal3 {
namespace pull {

namespace {

// Set once the first Initialize of the process failed half-way.
std::atomic<bool> g_platform_unusable{false};

// Xerces' default panic handler ends the process (when memory runs out
// while the platform is set up, for one). This one throws instead, so that
// the call that met the panic fails.
class ThrowingPanicHandler final : public xercesc::PanicHandler {
 public:
  void panic(const PanicReasons reason) override { throw reason; }
};

ThrowingPanicHandler g_panic_handler;

void report_initialization(const XMLCh* message) {
  std::fputs("Error during initialization! Message:\n", stderr);
  put_transcoded(message);
  std::fputs("\n", stderr);
  std::fflush(stderr);
}

}  // namespace

bool initialize_platform(void (*report)(const XMLCh* message)) {
  if (!g_platform_unusable.load()) {
    try {
      // The panic handler counts only if this is the process's first
      // Initialize; an application that set Xerces up keeps its own.
      xercesc::XMLPlatformUtils::Initialize(xercesc::XMLUni::fgXercescDefaultLocale, nullptr, &g_panic_handler);
      // The library keeps one platform reference of its own for the rest of
      // the process, so that reading one small document after another does
      // not tear Xerces down and set it up again each time.
      static const bool held = (xercesc::XMLPlatformUtils::Initialize(), true);
      (void)held;
      return true;
    } catch (const xercesc::XMLException& e) {
      g_platform_unusable = true;
      report_quietly(report, e.getMessage());
    } catch (...) {
      g_platform_unusable = true;
      report_quietly(report, nullptr);
    }
    // The failed Initialize has counted itself, so Xerces takes the
    // half-built platform for ready from now on, and Terminate would crash
    // tearing it down. Hold it for good: the caller's Terminate only counts.
    xercesc::XMLPlatformUtils::Initialize();
    return false;
  }
  xercesc::XMLPlatformUtils::Initialize();  // only counts: the platform is held
  report_quietly(report, nullptr);
  return false;
}

bool initialize_platform() { return initialize_platform(report_initialization); }

qal3::xml::ParserWithOwnMemory<xercesc::SAXParser>* make_parser(QAL3PullHandler& handler) {
  // Over its own memory and stream list: what Xerces leaves behind when an
  // allocation fails inside it goes with the parser.
  auto parser = std::make_unique<qal3::xml::ParserWithOwnMemory<xercesc::SAXParser>>();
  parser->setDocumentHandler(&handler);
  parser->setErrorHandler(&handler);
  parser->setValidationScheme(xercesc::SAXParser::Val_Auto);
  parser->setDoNamespaces(false);
  parser->setDoSchema(false);
  parser->setValidationSchemaFullChecking(false);
  // Untrusted documents: nothing is fetched from files or the network, and
  // entity expansion is bounded.
  parser->setDisableDefaultEntityResolution(true);
  parser->setLoadExternalDTD(false);
  parser->setSecurityManager(&security_manager());
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
  auto* own = dynamic_cast<qal3::xml::ParserWithOwnMemory<xercesc::SAXParser>*>(&parser);
  return start_with(
      [&] {
        if (!own) return parser.parseFirst(path, token);
        return qal3::xml::with_file_source(
            *own, path, [&](const xercesc::InputSource& source) { return parser.parseFirst(source, token); },
            [&] { return parser.parseFirst(path, token); });
      },
      handler);
}

int step(xercesc::SAXParser& parser, xercesc::XMLPScanToken& token, bool& gotMore,
         QAL3PullHandler& handler, char** tag, char** value) {
  if (tag) *tag = nullptr;
  if (value) *value = nullptr;
  handler.reset_end_tag_flag();
  if (!gotMore) return -1;
  try {
    gotMore = parser.parseNext(token);
  } catch (const xercesc::XMLException& e) {
    report_exception_text("\nError during parsing memory stream:\n", e.getMessage());
    handler.countError();
    gotMore = false;
  } catch (...) {
    report_exception_text("\nError during parsing memory stream:\n", nullptr);
    handler.countError();
    gotMore = false;
  }
  handler.finishStep();
  if (!gotMore) {
    try {
      parser.parseReset(token);
    } catch (...) {
      // The scanner is finished either way; its resources go with the parser.
    }
  }
  if (const int errors = handler.getErrorCount()) return errors;
  const char* t = nullptr;
  const char* v = nullptr;
  handler.getTagValue(&t, &v);
  if (tag) *tag = const_cast<char*>(t);
  if (value) *value = const_cast<char*>(v);
  return 0;
}

int get_attr(const QAL3PullHandler& handler, char* name, char** value) {
  if (value) *value = nullptr;
  if (!name || handler.getErrorCount() != 0 || !value) return -1;
  const char* found = handler.getAttr(name);
  if (!found) return -1;
  *value = const_cast<char*>(found);
  return 0;
}

}  // namespace pull
}  // namespace qal3
