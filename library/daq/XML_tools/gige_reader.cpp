// GigE feature file reader over the pull readers' parser, the feature walk of
// a DOM (dump_nodes), printer and clean.
#include <memory>
#include <string>
#include <vector>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/XMLDocumentHandler.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>

#include "boundary.h"
#include "messages.h"
#include "parser_memory.h"
#include "qal3_gige_descr.h"
#include "reading_scope.h"
#include "record_fields.h"
#include "sax_pull_common.h"
#include "xerces_platform.h"

namespace msg = qal3::messages;

using xercesc::DOMNode;
using xercesc::DOMNodeList;
using xercesc::XMLString;

const char* const FeatureTags[FEATURE_TYPE_MAX] = {"Undefined", "Integer", "Float",  "Enumeration", "Boolean",
                                                   "StringReg", "Command", "IntReg", "Int64"};
const char* const MoreTags[MORE_TAGS_MAX] = {"Extension", "PvRename", "ToolTip", "Description"};
const char* const Attributes[ATTRIBUTE_MAX] = {"Name"};

QAL3GigEFeature::QAL3GigEFeature() : type(FEATURE_TYPE_UNDEF) {}
QAL3GigEFeature::~QAL3GigEFeature() = default;

namespace {

// Field states while a file is read: nothing given yet, and element seen
// with its text still to come. Neither survives the read.
const char kUnknown[] = "Unknown";
const char kWaiting[] = "Waiting";

// A Xerces string in the local code page, released when it goes.
class Local {
 public:
  explicit Local(const XMLCh* text) : s_(text ? XMLString::transcode(text) : nullptr) {}
  Local(const Local&) = delete;
  Local& operator=(const Local&) = delete;
  ~Local() {
    if (s_) XMLString::release(&s_);
  }
  const char* get() const { return s_ ? s_ : ""; }

 private:
  char* s_;
};

// Text that DOMImplementation has for a DOM exception code, if any.
bool dom_message(short code, std::string& text) {
  XMLCh buf[2048];
  if (!xercesc::DOMImplementation::loadDOMExceptionMsg(code, buf, 2047)) return false;
  text = Local(buf).get();
  return true;
}

// True when the Xerces text `text` is the ASCII text `ascii`.
bool spells(const XMLCh* text, const char* ascii) {
  if (!text) return false;
  for (; *ascii; ++text, ++ascii)
    if (*text != static_cast<XMLCh>(static_cast<unsigned char>(*ascii))) return false;
  return *text == 0;
}

// Index of `name` in `table`, or -1.
template <std::size_t N>
int find_in(const char* const (&table)[N], const XMLCh* name) {
  for (std::size_t i = 0; i < N; ++i)
    if (spells(name, table[i])) return static_cast<int>(i);
  return -1;
}

// ---------------------------------------------------------------- features

// Builds the features of the nodes of a document, shown in document order
// (from a DOM or from the events of a scan). A feature's fields come only
// from its own element: its attributes, and the elements and text inside
// it. Elements and text outside every feature element change nothing;
// inside a feature nested in another, the inner one is filled.
class FeatureCollector {
 public:
  explicit FeatureCollector(std::vector<QAL3GigEFeature*>& out) : out_(out) {}

  // An element named `tag`; its "Name" attributes follow (name).
  void element(const XMLCh* tag) {
    started_ = nullptr;
    const int feature = find_in(FeatureTags, tag);
    if (feature >= 0) {
      started_ = start_feature(feature);
    } else if (QAL3GigEFeature* f = current()) {
      switch (find_in(MoreTags, tag)) {
        case MORE_TAGS_PVRENAME:
          f->extension = kWaiting;
          break;
        case MORE_TAGS_TOOLTIP:
          f->tooltip = kWaiting;
          break;
        case MORE_TAGS_DESCRIPTION:
          f->description = kWaiting;
          break;
        case MORE_TAGS_EXTENSION:
          break;  // holds the PvRename
        default:
          unkept(tag, *f);
          break;
      }
    }
  }

  // A "Name" attribute of the element just shown: it names the feature
  // while it has none, else fills an awaited extension; otherwise it is
  // dropped.
  void name(const XMLCh* value) {
    QAL3GigEFeature* f = started_ ? started_ : current();
    if (!f) return;
    if (f->name == kUnknown)
      f->name = Local(value).get();
    else if (f->extension == kWaiting)
      f->extension = Local(value).get();
  }

  // True when a text node shown now would fill a field.
  bool awaits_text() const { return awaited() != nullptr; }

  // A text node: it fills the first awaited field of the current feature.
  void text(const XMLCh* value) {
    started_ = nullptr;
    std::string* field = value ? awaited() : nullptr;
    if (field) *field = Local(value).get();
  }

  // Any other node.
  void other() { started_ = nullptr; }

  // The children of the node just shown are next.
  void enter() { scopes_.push_back(started_ ? started_ : current()); }
  // The children of the innermost entered node are done.
  void leave() {
    if (!scopes_.empty()) scopes_.pop_back();
  }

 private:
  QAL3GigEFeature* current() const { return scopes_.empty() ? nullptr : scopes_.back(); }

  // An element inside feature `f` that no field of the records keeps:
  // noted once per name and document.
  __attribute__((noinline, cold)) void unkept(const XMLCh* tag, const QAL3GigEFeature& f) {
    if (!msg::sink_in_force()) return;
    try {
      const std::string name = Local(tag).get();
      for (const std::string& n : unkept_)
        if (n == name) return;
      unkept_.push_back(name);
      msg::note("%s (first in feature '%.32s'): not kept by the feature records (noted once per document)",
                name.c_str(), f.name.c_str());
    } catch (...) {
      // Out of memory: the note is lost.
    }
  }

  std::string* awaited() const {
    QAL3GigEFeature* f = current();
    if (!f) return nullptr;
    for (std::string* field : {&f->extension, &f->tooltip, &f->description})
      if (*field == kWaiting) return field;
    return nullptr;
  }

  QAL3GigEFeature* start_feature(int type) {
    auto f = std::make_unique<QAL3GigEFeature>();
    f->type = type;
    f->name = f->extension = f->tooltip = f->description = kUnknown;
    out_.push_back(f.get());
    return f.release();
  }

  std::vector<QAL3GigEFeature*>& out_;
  // The feature each entered node's children belong to (null: none).
  std::vector<QAL3GigEFeature*> scopes_;
  // The feature the node just shown started, if any.
  QAL3GigEFeature* started_ = nullptr;
  std::vector<std::string> unkept_;  // names noted by unkept()
};

// ---------------------------------------------------------------- DOM walk

// Shows `node` itself to `collector`; its children follow between enter
// and leave.
void visit(const DOMNode& node, FeatureCollector& collector) {
  switch (node.getNodeType()) {
    case DOMNode::ELEMENT_NODE: {
      collector.element(node.getNodeName());
      const xercesc::DOMNamedNodeMap* attrs = node.getAttributes();
      const XMLSize_t n = attrs ? attrs->getLength() : 0;
      for (XMLSize_t i = 0; i < n; ++i) {
        const DOMNode* attr = attrs->item(i);
        if (attr && spells(attr->getNodeName(), Attributes[ATTRIBUTE_NAME])) collector.name(attr->getNodeValue());
      }
      break;
    }
    case DOMNode::TEXT_NODE:
      collector.text(node.getNodeValue());
      break;
    default:
      collector.other();
      break;
  }
}

void report_dom_exception(const xercesc::DOMException& e) {
  std::string text;
  if (dom_message(e.code, text))
    msg::print(msg::out, msg::error, msg::flush, "Message is:  %s\n", text.c_str());
  else
    msg::flush_default(msg::out);
}

// Walks `top` and its descendants in document order, depth first, without
// recursion (deep trees cannot exhaust the stack), from each node to its
// first child and next sibling, so that the walk is linear in the number of
// nodes. A DOM exception while a node is handled abandons the rest of that
// node's siblings; the walk goes on after their parent. True when the
// exception came from `top` itself.
bool walk(DOMNode* top, FeatureCollector& collector) {
  std::vector<DOMNode*> parents;  // the entered ancestors of `node`
  DOMNode* node = top;
  while (node) {
    DOMNode* child = nullptr;
    try {
      visit(*node, collector);
      child = node->getFirstChild();
    } catch (const xercesc::DOMException& e) {
      report_dom_exception(e);
      if (parents.empty()) return true;
      node = parents.back();  // continue after the parent
      parents.pop_back();
      collector.leave();
    }
    if (child) {
      collector.enter();
      parents.push_back(node);
      node = child;
      continue;
    }
    // Next: the sibling of the nearest node on the way up that has one.
    while (node != top) {
      DOMNode* next = node->getNextSibling();
      if (next) {
        node = next;
        break;
      }
      node = parents.back();
      parents.pop_back();
      collector.leave();
    }
    if (node == top) break;
  }
  return false;
}

// Walks the nodes of `nodes` in order (see walk) until one fails; true
// then. A list of a node's children is followed by its sibling links, as
// DOMNodeList::item walks them from the first child on every call.
bool walk_list(DOMNodeList* nodes, FeatureCollector& collector) {
  const XMLSize_t n = nodes->getLength();
  DOMNode* first = n ? nodes->item(0) : nullptr;
  const DOMNode* parent = first ? first->getParentNode() : nullptr;
  if (parent && parent->getChildNodes() == nodes) {
    for (DOMNode* node = first; node; node = node->getNextSibling())
      if (walk(node, collector)) return true;
    return false;
  }
  for (XMLSize_t i = 0; i < n; ++i) {
    DOMNode* node = nodes->item(i);
    if (node && walk(node, collector)) return true;
  }
  return false;
}

// ---------------------------------------------------------------- scan events

// The scanner's events shown to a collector as the nodes a DOM parser
// (text nodes merged, no entity reference nodes) makes of them: one text
// node for each run of character data between other nodes, CDATA sections
// and comments and processing instructions as other nodes, and the "Name"
// attributes an element has, defaults from the DTD included. The text of a
// node is kept only when a field awaits it.
class ScanEvents : public xercesc::XMLDocumentHandler {
 public:
  explicit ScanEvents(FeatureCollector& collector) : collector_(collector) {}

  void startElement(const xercesc::XMLElementDecl& decl, const unsigned int, const XMLCh* const,
                    const xercesc::RefVectorOf<xercesc::XMLAttr>& attrs, const XMLSize_t count, const bool empty,
                    const bool) override {
    end_text();
    collector_.element(decl.getFullName());
    for (XMLSize_t i = 0; i < count; ++i) {
      const xercesc::XMLAttr* a = attrs.elementAt(i);
      if (spells(a->getQName(), Attributes[ATTRIBUTE_NAME])) collector_.name(a->getValue());
    }
    if (!empty) collector_.enter();
  }
  void endElement(const xercesc::XMLElementDecl&, const unsigned int, const bool, const XMLCh* const) override {
    end_text();
    collector_.leave();
  }
  void docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdata) override {
    if (cdata)
      other();
    else
      add_text(chars, length);
  }
  void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length, const bool) override {
    add_text(chars, length);
  }
  void docComment(const XMLCh* const) override { other(); }
  void docPI(const XMLCh* const, const XMLCh* const) override { other(); }
  void resetDocument() override {
    in_text_ = false;
    text_.clear();
  }
  void startDocument() override {}
  void endDocument() override {}
  void startEntityReference(const xercesc::XMLEntityDecl&) override {}
  void endEntityReference(const xercesc::XMLEntityDecl&) override {}
  // A document declares version 1.0 or 1.1 (or none); any other ends the
  // read as a document model refuses it.
  void XMLDecl(const XMLCh* const version, const XMLCh* const, const XMLCh* const, const XMLCh* const) override {
    if (version && *version && !spells(version, "1.0") && !spells(version, "1.1"))
      throw xercesc::DOMException(xercesc::DOMException::NOT_SUPPORTED_ERR);
  }

 private:
  void add_text(const XMLCh* chars, XMLSize_t length) {
    if (!in_text_) {
      in_text_ = true;
      keep_ = collector_.awaits_text();
      text_.clear();
    }
    if (keep_) text_.append(chars, length);
  }
  void end_text() {
    if (!in_text_) return;
    in_text_ = false;
    collector_.text(text_.c_str());
  }
  void other() {
    end_text();
    collector_.other();
  }

  FeatureCollector& collector_;
  std::basic_string<XMLCh> text_;  // the open text node's text, when kept
  bool in_text_ = false;           // a text node is open
  bool keep_ = false;              // its text fills a field
};

// ---------------------------------------------------------------- reading

// Counts the parser's errors and keeps the first one's text, so that a
// broken file ends the read as a failure instead of yielding the part of
// the document read so far.
class ErrorCounter : public xercesc::HandlerBase {
 public:
  void error(const xercesc::SAXParseException& e) override { note(e, msg::parser_error); }
  void fatalError(const xercesc::SAXParseException& e) override { note(e, msg::parser_fatal); }
  void warning(const xercesc::SAXParseException&) override {}
  void resetErrors() override {
    count_ = 0;
    first_.clear();
    message_.clear();
  }

  int count() const { return count_; }
  // "<message> (line <l>, char <c>)" of the first error.
  const std::string& first() const { return first_; }
  // The first error's message, kind and position.
  const std::string& message() const { return message_; }
  msg::Kind kind() const { return kind_; }
  long long line() const { return line_; }
  long long column() const { return column_; }

 private:
  void note(const xercesc::SAXParseException& e, msg::Kind kind) {
    if (count_++ > 0) return;
    kind_ = kind;
    line_ = static_cast<long long>(e.getLineNumber());
    column_ = static_cast<long long>(e.getColumnNumber());
    try {
      message_ = Local(e.getMessage()).get();
      first_ = message_ + " (line " + std::to_string(e.getLineNumber()) + ", char " +
               std::to_string(e.getColumnNumber()) + ")";
    } catch (...) {
      first_.clear();
      message_.clear();
    }
  }

  int count_ = 0;
  std::string first_;
  std::string message_;
  msg::Kind kind_ = msg::parser_error;
  long long line_ = 0;
  long long column_ = 0;
};

// One Initialize/Terminate pair of the Xerces platform (see
// qal3::xerces::initialize_platform for a failed first Initialize).
class Platform {
 public:
  Platform() = default;
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;
  ~Platform() {
    if (started_) qal3::xerces::release_platform();
  }

  bool start() {
    started_ = true;
    return qal3::xerces::initialize_platform(report);
  }

 private:
  static void report(const XMLCh* message) {
    msg::print(msg::out, msg::error, msg::flush, "Error during Xerces-c Initialization.  Exception message: %s\n",
               message ? Local(message).get() : "");
  }

  bool started_ = false;
};

using Parser = qal3::pull::PullParser;

// The pull readers' parser, set for feature files: not validating (a
// DOCTYPE neither needs declarations nor loads anything), every parser
// error counted by `errors`, element text capped, the scan shown to
// `events`.
std::unique_ptr<Parser> make_parser(ErrorCounter& errors, ScanEvents& events) {
  std::unique_ptr<Parser> parser(qal3::pull::make_parser());
  parser->setValidationScheme(xercesc::SAXParser::Val_Never);
  parser->setErrorHandler(&errors);
  parser->installAdvDocHandler(&events);
  parser->cap_text(true);
  return parser;
}

// The scanner behind a SAX parser, which offers it only to its subclasses
// (and read-only; the scanner itself is not const).
struct ScannerOf : xercesc::SAXParser {
  static xercesc::XMLScanner& get(const xercesc::SAXParser& parser) {
    const xercesc::XMLScanner& (xercesc::SAXParser::*scanner)() const = &ScannerOf::getScanner;
    return const_cast<xercesc::XMLScanner&>((parser.*scanner)());
  }
};

// Runs first() (a parseFirst). Xerces lets an exception of the scan's
// set-up (an undecodable first line, ...) through parseFirst, where a
// whole-document scan reports it as an error of the document: so it is here.
template <class First>
bool start(xercesc::XMLScanner& scanner, First&& first) {
  try {
    return first();
  } catch (const xercesc::XMLException& e) {
    using Reporter = xercesc::XMLErrorReporter;
    const Reporter::ErrTypes type = e.getErrorType();
    const xercesc::XMLErrs::Codes code = type == Reporter::ErrType_Warning ? xercesc::XMLErrs::XMLException_Warning
                                         : type >= Reporter::ErrType_Fatal ? xercesc::XMLErrs::XMLException_Fatal
                                                                           : xercesc::XMLErrs::XMLException_Error;
    try {
      scanner.emitError(code, e.getCode(), e.getMessage());
    } catch (const xercesc::XMLErrs::Codes&) {
      // The scan ends after a fatal error: it has not begun.
    }
    return false;
  }
}

// Scans `file_name` to its end or its first fatal error. Once the prolog
// is read, every entity the document may use has been declared (an
// external DTD is never read), so a reference to an undeclared one is an
// error, as in a document without a DTD.
void scan(Parser& parser, const char* file_name) {
  xercesc::XMLScanner& scanner = ScannerOf::get(parser);
  xercesc::XMLPScanToken token;
  const bool started = qal3::xml::with_file_source(
      parser, file_name,
      [&](const xercesc::InputSource& source) {
        return start(scanner, [&] { return parser.parseFirst(source, token); });
      },
      [&] { return start(scanner, [&] { return parser.parseFirst(file_name, token); }); });
  if (!started) return;
  scanner.setHasNoDTD(true);
  while (parser.parseNext(token)) {
  }
}

// Reads `file_name`; prints the failure and returns false on any error.
bool parse_file(Parser& parser, const ErrorCounter& errors, const char* file_name) {
  try {
    scan(parser, file_name);
  } catch (const xercesc::OutOfMemoryException&) {
    msg::print(msg::out, msg::error, msg::keep, "OutOfMemoryException\n");
    return false;
  } catch (const xercesc::XMLException& e) {
    msg::print(msg::out, msg::parser_fatal, msg::keep, "An error occurred during parsing  Message: %s\n",
               Local(e.getMessage()).get());
    return false;
  } catch (const xercesc::DOMException& e) {
    msg::print(msg::out, msg::parser_fatal, msg::keep, "\nDOM Error during parsing: '%s' DOMException code is: %d\n",
               file_name, static_cast<int>(e.code));
    std::string text;
    if (dom_message(e.code, text)) msg::print(msg::out, msg::parser_fatal, msg::keep, "Message is: %s", text.c_str());
    return false;
  } catch (...) {
    msg::print(msg::out, msg::error, msg::keep, "An error occurred during parsing\n ");
    return false;
  }
  if (errors.count() > 0) {
    const std::string raw = "An error occurred during parsing  Message: " + errors.first() + "\n";
    msg::Position where;
    where.document = file_name;
    where.line = errors.line();
    where.column = errors.column();
    msg::send(msg::out, errors.kind(), errors.message().c_str(), errors.message().size(), msg::keep, raw.data(),
              raw.size(), where);
    return false;
  }
  return true;
}

// The file being read, for the lines emitted meanwhile.
class ReadingScope {
 public:
  explicit ReadingScope(const char* file_name) { msg::begin_reading(this, file_name, nullptr); }
  ~ReadingScope() { msg::end_reading(this); }
  ReadingScope(const ReadingScope&) = delete;
  ReadingScope& operator=(const ReadingScope&) = delete;
};

void clear_sentinels(std::string& s) {
  if (s == kUnknown || s == kWaiting) s.clear();
}

// The read proper; true on failure. `out` changes only on success.
bool fill(const char* file_name, std::vector<QAL3GigEFeature*>& out) {
  const ReadingScope reading(file_name);
  Platform platform;
  if (!platform.start()) return true;
  qal3::records::OwnedList<QAL3GigEFeature> features;  // until handed to the caller
  {
    ErrorCounter errors;
    FeatureCollector collector(features.items);
    ScanEvents events(collector);
    std::unique_ptr<Parser> parser = make_parser(errors, events);
    const bool parsed = parse_file(*parser, errors, file_name);
    msg::flush_default(msg::out);
    if (!parsed) return true;
  }
  for (QAL3GigEFeature* f : features.items) {
    clear_sentinels(f->name);
    clear_sentinels(f->extension);
    clear_sentinels(f->tooltip);
    clear_sentinels(f->description);
  }
  out.clear();
  out.swap(features.items);
  return false;
}

}  // namespace

bool qal3_fill_gige_descr(char* file_name, std::vector<QAL3GigEFeature*>* out) {
  if (!file_name || !out) return true;
  return qal3::guarded(true, [&] { return fill(file_name, *out); });
}

bool dump_nodes(DOMNodeList* nodes, std::vector<QAL3GigEFeature*>* out) {
  if (!nodes || !out) return true;
  return qal3::guarded(true, [&] {
    FeatureCollector collector(*out);
    return walk_list(nodes, collector);
  });
}

void qal3_dump_gige_descr(std::vector<QAL3GigEFeature*>* out) {
  if (!out) return;
  int i = 0;
  for (const QAL3GigEFeature* f : *out) {
    const int pos = i++;
    if (!f || f->name.empty()) continue;
    if (f->extension.empty())
      msg::list("[%d] Name:'%s' type:%d ToolTip:'%s' Description:'%s'\n", pos, f->name.c_str(), f->type,
                f->tooltip.c_str(), f->description.c_str());
    else
      msg::list("[%d] Name:'%s' Extension:'%s' type:%d ToolTip:'%s' Description:'%s'\n", pos, f->name.c_str(),
                f->extension.c_str(), f->type, f->tooltip.c_str(), f->description.c_str());
  }
  msg::flush_default(msg::out);
}

void qal3_clean_gige_descr(std::vector<QAL3GigEFeature*>* out) {
  if (!out || out->empty()) return;
  for (QAL3GigEFeature* f : *out) delete f;
  out->clear();
}
