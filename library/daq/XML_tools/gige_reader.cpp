// GigE feature file reader over the Xerces DOM parser, printer and clean.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>

#include "boundary.h"
#include "bounded_parser.h"
#include "messages.h"
#include "parser_memory.h"
#include "qal3_gige_descr.h"
#include "reading_scope.h"
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
  bool valid() const { return s_ != nullptr; }
  const char* get() const { return s_ ? s_ : ""; }
  bool equals(const char* other) const { return s_ && std::strcmp(s_, other) == 0; }

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

// Index of `name` in `table`, or -1.
template <std::size_t N>
int find_in(const char* const (&table)[N], const Local& name) {
  for (std::size_t i = 0; i < N; ++i)
    if (name.equals(table[i])) return static_cast<int>(i);
  return -1;
}

// ---------------------------------------------------------------- walking

// Builds the features of the nodes it is shown. A feature's fields come
// only from its own element: its attributes, and the elements and text
// inside it. Elements and text outside every feature element change
// nothing; inside a feature nested in another, the inner one is filled.
class FeatureCollector {
 public:
  explicit FeatureCollector(std::vector<QAL3GigEFeature*>& out) : out_(out) {}

  // Handles `node` itself; its children follow between enter and leave.
  void visit(const DOMNode& node) {
    started_ = nullptr;
    switch (node.getNodeType()) {
      case DOMNode::ELEMENT_NODE:
        on_element(node);
        break;
      case DOMNode::TEXT_NODE:
        on_text(node);
        break;
      default:
        break;
    }
  }

  // The children of the node just visited are next.
  void enter() { scopes_.push_back(started_ ? started_ : current()); }
  // The children of the innermost entered node are done.
  void leave() {
    if (!scopes_.empty()) scopes_.pop_back();
  }

 private:
  QAL3GigEFeature* current() const { return scopes_.empty() ? nullptr : scopes_.back(); }

  void on_element(const DOMNode& node) {
    const Local tag(node.getNodeName());
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
        default:
          break;
      }
    }
    on_attributes(node, started_ ? started_ : current());
  }

  QAL3GigEFeature* start_feature(int type) {
    auto f = std::make_unique<QAL3GigEFeature>();
    f->type = type;
    f->name = f->extension = f->tooltip = f->description = kUnknown;
    out_.push_back(f.get());
    return f.release();
  }

  // A "Name" names the feature while it has none, else fills an awaited
  // extension; otherwise it is dropped.
  void on_attributes(const DOMNode& node, QAL3GigEFeature* f) {
    const xercesc::DOMNamedNodeMap* attrs = node.getAttributes();
    if (!attrs || !f) return;
    const XMLSize_t n = attrs->getLength();
    for (XMLSize_t i = 0; i < n; ++i) {
      const DOMNode* attr = attrs->item(i);
      if (!attr) continue;
      if (!Local(attr->getNodeName()).equals(Attributes[ATTRIBUTE_NAME])) continue;
      const Local value(attr->getNodeValue());
      if (f->name == kUnknown)
        f->name = value.get();
      else if (f->extension == kWaiting)
        f->extension = value.get();
    }
  }

  void on_text(const DOMNode& node) {
    QAL3GigEFeature* f = current();
    const XMLCh* text = node.getNodeValue();
    if (!f || !text) return;
    for (std::string* field : {&f->extension, &f->tooltip, &f->description}) {
      if (*field == kWaiting) {
        *field = Local(text).get();
        return;
      }
    }
  }

  std::vector<QAL3GigEFeature*>& out_;
  // The feature each entered node's children belong to (null: none).
  std::vector<QAL3GigEFeature*> scopes_;
  // The feature the node just visited started, if any.
  QAL3GigEFeature* started_ = nullptr;
};

void report_dom_exception(const xercesc::DOMException& e) {
  std::string text;
  if (dom_message(e.code, text))
    msg::print(msg::out, msg::error, msg::flush, "Message is:  %s\n", text.c_str());
  else
    msg::flush_default(msg::out);
}

// Walks `top` and its descendants in document order, depth first, without
// recursion (deep files cannot exhaust the stack), from each node to its
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
      collector.visit(*node);
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

using DOMParser = qal3::xml::ParserWithOwnMemory<qal3::xerces::Bounded<xercesc::XercesDOMParser>>;

std::unique_ptr<DOMParser> make_parser(ErrorCounter& errors) {
  // Over its own memory and stream list: what Xerces leaves behind when an
  // allocation fails inside it goes with the parser.
  auto parser = std::make_unique<DOMParser>();
  parser->setValidationScheme(xercesc::XercesDOMParser::Val_Never);
  parser->setDoNamespaces(false);
  parser->setDoSchema(false);
  parser->setValidationSchemaFullChecking(false);
  parser->setCreateEntityReferenceNodes(false);
  parser->setErrorHandler(&errors);
  qal3::xerces::harden(*parser);  // feature files are not trusted
  parser->cap_text(true);
  return parser;
}

// Parses `file_name`; prints the failure and returns false on any error.
bool parse_file(DOMParser& parser, const ErrorCounter& errors, const char* file_name) {
  try {
    qal3::xml::with_file_source(
        parser, file_name, [&](const xercesc::InputSource& source) { parser.parse(source); },
        [&] { parser.parse(file_name); });
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

// Owns the features of a read until they are handed to the caller.
struct FeatureList {
  std::vector<QAL3GigEFeature*> items;
  FeatureList() = default;
  FeatureList(const FeatureList&) = delete;
  FeatureList& operator=(const FeatureList&) = delete;
  ~FeatureList() { qal3_clean_gige_descr(&items); }
};

void clear_sentinels(std::string& s) {
  if (s == kUnknown || s == kWaiting) s.clear();
}

// The read proper; true on failure. `out` changes only on success.
bool fill(const char* file_name, std::vector<QAL3GigEFeature*>& out) {
  const ReadingScope reading(file_name);
  Platform platform;
  if (!platform.start()) return true;
  FeatureList features;
  {
    ErrorCounter errors;
    std::unique_ptr<DOMParser> parser = make_parser(errors);
    const bool parsed = parse_file(*parser, errors, file_name);
    msg::flush_default(msg::out);
    if (!parsed) return true;
    xercesc::DOMDocument* doc = parser->getDocument();
    if (!doc) {
      msg::print(msg::out, msg::error, msg::flush, "An error occurred during parsing\n ");
      return true;
    }
    FeatureCollector collector(features.items);
    walk_list(doc->getChildNodes(), collector);
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
