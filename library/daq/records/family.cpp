// The family of a document, named by its root element: the pull readers'
// parser, stopped at the root's start tag.
#include <cstring>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/util/TransService.hpp>

#include "boundary.h"
#include "parser_memory.h"
#include "pull_reader.h"
#include "qal3_family.h"
#include "record_fields.h"
#include "sax_pull_common.h"
#include "xerces_platform.h"

namespace {

using qal3::records::Description;

struct Root {
  const char* name;
  qal3_family family;
  const char* family_name;
};

// The root element each family's reader takes (record_fields.h); both
// layouts of the dictionary have one root.
constexpr Root kRoots[] = {
    {Description<qal3_ev_entry>::root, QAL3_FAMILY_EVENT_LIST, Description<qal3_ev_entry>::document},
    {Description<chan_descr_2010>::root, QAL3_FAMILY_CHAN_DESCRIPTIONS, Description<chan_descr_2010>::document},
    {Description<chan_descr_2010>::other_root, QAL3_FAMILY_DAQ_VARIABLES, "DAQ variables"},
    {Description<qal3_env_index_dictionary_entry_2010>::root, QAL3_FAMILY_ENV_DICT,
     Description<qal3_env_index_dictionary_entry_2010>::document},
    {Description<QAL3GigEFeature>::root, QAL3_FAMILY_GIGE, Description<QAL3GigEFeature>::document},
    {Description<qal3_user_case_trigger>::root, QAL3_FAMILY_TRIGGER_LIST,
     Description<qal3_user_case_trigger>::document},
};
static_assert(qal3::records::same_name(Description<qal3_env_index_dictionary_entry>::root,
                                       Description<qal3_env_index_dictionary_entry_2010>::root),
              "the dictionary's layouts share a root");

qal3_family family_named(const char* name) {
  for (const Root& r : kRoots)
    if (std::strcmp(r.name, name) == 0) return r.family;
  return QAL3_FAMILY_UNKNOWN;
}

// The handler of a probe: the name of the first start tag in UTF-8 and
// where it ends, and the parser's reports counted, never printed.
class RootProbe final : public QAL3PullHandler {
 public:
  // The scanner's position, read while the tag is at hand: once the scan has
  // ended (a fatal error in the same step) the scanner has none.
  void locate_by(const xercesc::Locator* at) { at_ = at; }

  void startElement(const XMLCh* const name, xercesc::AttributeList&) override {
    if (seen_) return;
    seen_ = true;
    if (at_) {
      line_ = static_cast<long long>(at_->getLineNumber());
      column_ = static_cast<long long>(at_->getColumnNumber());
    }
    try {
      const xercesc::TranscodeToStr utf8(name, "UTF-8");
      const char* text = reinterpret_cast<const char*>(utf8.str());
      const std::size_t n = qal3::reader::fitting_length(text, sizeof name_);
      std::memcpy(name_, text, n);
      name_[n] = '\0';
    } catch (...) {
      name_[0] = '\0';  // out of memory: a root without a name names no family
    }
  }
  void warning(const xercesc::SAXParseException&) override {}
  void error(const xercesc::SAXParseException&) override { ++errors_; }
  void fatalError(const xercesc::SAXParseException&) override {
    ++errors_;
    fatal_ = true;
  }

  bool seen() const { return seen_; }
  bool fatal() const { return fatal_; }
  int errors() const { return errors_; }
  const char* name() const { return name_; }
  long long line() const { return line_; }
  long long column() const { return column_; }

 private:
  const xercesc::Locator* at_ = nullptr;
  long long line_ = 0;
  long long column_ = 0;
  bool seen_ = false;
  bool fatal_ = false;
  int errors_ = 0;
  char name_[QAL3_ROOT_NAME_SIZE] = {};
};

// A parser of the thread's, taken for one probe and given back when it ends:
// kept for the thread's next document when the probe read its root without
// an error. It does not validate meanwhile, so that a DOCTYPE, whose
// declarations outside the document are never loaded, names no family of
// its own: the root does.
class ProbeParser {
 public:
  explicit ProbeParser(RootProbe& handler) : handler_(handler), parser_(qal3::pull::take_parser(handler)) {
    if (parser_) parser_->setValidationScheme(xercesc::SAXParser::Val_Never);
  }
  ~ProbeParser() {
    if (parser_) parser_->setValidationScheme(xercesc::SAXParser::Val_Auto);  // as make_parser sets it
    qal3::pull::give_back(parser_, handler_.seen() && handler_.errors() == 0);
  }
  ProbeParser(const ProbeParser&) = delete;
  ProbeParser& operator=(const ProbeParser&) = delete;

  qal3::pull::PullParser* get() const { return parser_; }

 private:
  RootProbe& handler_;
  qal3::pull::PullParser* parser_;
};

// Runs first(parser, token) (a parseFirst over the document) and the scan up
// to the root's start tag; fills `root` when it is not null.
template <class First>
qal3_family probe(qal3_root_element* root, First&& first) {
  if (root) *root = qal3_root_element{};
  RootProbe handler;
  {
    const ProbeParser parser(handler);
    if (!parser.get()) return QAL3_FAMILY_UNKNOWN;
    handler.locate_by(parser.get()->locator());
    xercesc::XMLPScanToken token;
    try {
      if (first(*parser.get(), token))
        while (!handler.seen() && !handler.fatal() && parser.get()->parseNext(token)) {
        }
    } catch (...) {
      // A document that cannot be opened or started, or out of memory.
    }
    try {
      parser.get()->parseReset(token);
    } catch (...) {
      // The scanner is finished either way.
    }
  }
  if (!handler.seen()) return QAL3_FAMILY_UNKNOWN;
  if (root) {
    std::memcpy(root->name, handler.name(), sizeof root->name);
    root->line = handler.line();
    root->column = handler.column();
  }
  return family_named(handler.name());
}

}  // namespace

qal3_family qal3_family_of_file(const char* path, qal3_root_element* root) {
  if (root) *root = qal3_root_element{};
  if (!path) return QAL3_FAMILY_UNKNOWN;
  return qal3::guarded(QAL3_FAMILY_UNKNOWN, [&] {
    return probe(root, [path](qal3::pull::PullParser& parser, xercesc::XMLPScanToken& token) {
      return qal3::xml::with_file_source(
          parser, path, [&](const xercesc::InputSource& source) { return parser.parseFirst(source, token); },
          [&] { return parser.parseFirst(path, token); });
    });
  });
}

qal3_family qal3_family_of_text(const char* text, std::size_t length, qal3_root_element* root) {
  if (root) *root = qal3_root_element{};
  static const char kNoBytes[] = "";
  const auto* bytes = reinterpret_cast<const XMLByte*>(text ? text : kNoBytes);
  if (!text) length = 0;
  return qal3::guarded(QAL3_FAMILY_UNKNOWN, [&] {
    return probe(root, [&](qal3::pull::PullParser& parser, xercesc::XMLPScanToken& token) {
      qal3::xml::KeepingSource<xercesc::MemBufInputSource> source(parser.streams(), bytes, length,
                                                                  qal3::xerces::kMemoryBufferId, false,
                                                                  xercesc::XMLPlatformUtils::fgMemoryManager);
      source.setCopyBufToStream(false);
      return parser.parseFirst(source, token);
    });
  });
}

qal3_family qal3_family_of_root(const char* name) { return name ? family_named(name) : QAL3_FAMILY_UNKNOWN; }

const char* qal3_family_root(qal3_family family) {
  for (const Root& r : kRoots)
    if (r.family == family) return r.name;
  return nullptr;
}

const char* qal3_family_name(qal3_family family) {
  for (const Root& r : kRoots)
    if (r.family == family) return r.family_name;
  return nullptr;
}
