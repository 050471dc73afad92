#include "check_document.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string_view>
#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/common/Grammar.hpp>

#include "hardened_reader.h"
#include "qal3_xml_platform.h"
#include "record_fields.h"
#include "text_field.h"

namespace check {

namespace xc = xercesc;

namespace {

// Schema findings kept per document; the rest are summed up in one line.
constexpr std::size_t kMaxSchemaFindings = 200;

std::string to_utf8(const XMLCh* text, XMLSize_t length) {
  if (!text || length == 0) return {};
  try {
    xc::TranscodeToStr utf8(text, length, "UTF-8");
    return std::string(reinterpret_cast<const char*>(utf8.str()), utf8.length());
  } catch (...) {
    return "?";
  }
}

std::string to_utf8(const XMLCh* text) { return to_utf8(text, text ? xc::XMLString::stringLen(text) : 0); }

// Appends UTF-16 `text` to `out` as UTF-8 (a lone surrogate, which no
// well-formed document holds, as '?').
void append_utf8(std::string& out, const XMLCh* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      out += '?';
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

// Xerces set up for the life of one object, under the library's lock.
class Platform {
 public:
  Platform() {
    if (qal3_xml_platform_acquire()) return;
    qal3_xml_platform_release();
    throw std::runtime_error("the XML parser cannot be set up");
  }
  ~Platform() { qal3_xml_platform_release(); }
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;
};

struct StopParsing {};

}  // namespace

// ---------------------------------------------------------------------------
// Positions: Xerces reports the position after a start tag; the source text
// gives the '<' of the tag, the first character of a value and the value
// of an attribute. A column counts characters: UTF-8 sequences, or bytes in
// a single-byte encoding.
//
// Every position is found from the nearest of a few marks, taken every
// kMarkSpacing bytes, so a lookup costs the same on a minified one-line
// document as on one with short lines.

class Document::Source {
 public:
  explicit Source(std::string_view bytes) : bytes_(bytes) {
    const auto b = [this](std::size_t i) { return static_cast<unsigned char>(bytes_[i]); };
    const bool utf16 = bytes_.size() >= 2 &&
                       ((b(0) == 0xFE && b(1) == 0xFF) || (b(0) == 0xFF && b(1) == 0xFE) || b(0) == 0 || b(1) == 0);
    mapped_ = !utf16;
    std::string lower(bytes_.substr(0, 200));
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    single_byte_ = lower.find("encoding=\"iso-8859") != std::string::npos ||
                   lower.find("encoding='iso-8859") != std::string::npos || lower.find("latin1") != std::string::npos;
    place_marks();
  }

  std::string_view bytes() const { return bytes_; }

  // Byte offset of a position; npos when it lies outside the text. With
  // `exact`, says whether position() of the offset gives `p` back (not so
  // for a column past the end of its line).
  std::size_t offset(Position p, bool* exact = nullptr) const {
    if (exact) *exact = false;
    if (!mapped_ || p.line < 1 || p.column < 1 || p.line > lines_) return std::string::npos;
    // The last mark at or before the position.
    auto it = std::upper_bound(marks_.begin(), marks_.end(), p, [](Position q, const Mark& m) {
      return q.line != m.line ? q.line < m.line : q.column < m.column;
    });
    Mark at = *--it;
    if (before(at, last_) && !before(p, last_)) at = last_;  // the walk goes on from the last answer
    while (at.line < p.line && at.offset < bytes_.size()) step(at);
    if (at.line == p.line) last_ = at;
    bool on_line = true;
    for (int c = at.column; c < p.column; ++c) {  // as a column counts, past the line's end too
      if (at.offset >= bytes_.size()) return std::string::npos;
      on_line = on_line && bytes_[at.offset] != '\n';
      at.offset = next_char(at.offset);
    }
    if (on_line) last_ = {at.offset, p.line, p.column};
    if (exact) *exact = on_line;
    return at.offset;
  }

  Position position(std::size_t offset) const {
    auto it = std::upper_bound(marks_.begin(), marks_.end(), offset,
                               [](std::size_t o, const Mark& m) { return o < m.offset; });
    Mark at = *--it;
    if (at.offset < last_.offset && last_.offset <= offset) at = last_;
    while (at.offset < offset && at.offset < bytes_.size()) step(at);
    last_ = at;
    return {at.line, at.column};
  }

  // The position of `target`, at or before `p` (at offset `at`): counted
  // back on the same line, else looked up.
  Position position_before(Position p, std::size_t at, std::size_t target) const {
    int column = p.column;
    for (std::size_t o = target; o < at; ++o) {
      if (bytes_[o] == '\n') return position(target);
      if (single_byte_ || (static_cast<unsigned char>(bytes_[o]) & 0xC0) != 0x80) --column;
    }
    return {p.line, column};
  }

  // The '<' that opens the start tag ending just before `after`.
  std::size_t tag_start(std::size_t after) const {
    if (after == std::string::npos || after == 0) return std::string::npos;
    return bytes_.rfind('<', after - 1);
  }

  // The first character from `o` on that is not white space; npos when
  // markup or the end comes first.
  std::size_t first_non_blank(std::size_t o) const {
    if (o == std::string::npos) return o;
    while (o < bytes_.size() && is_blank(bytes_[o])) ++o;
    return o >= bytes_.size() || bytes_[o] == '<' ? std::string::npos : o;
  }

  // Offsets of the attribute values of the start tag from `begin` (its '<')
  // to `end`, in the order of the tag: calls `found(name, value_offset)`.
  template <class Found>
  void attribute_values(std::size_t begin, std::size_t end, Found&& found) const {
    if (begin == std::string::npos || end == std::string::npos || end > bytes_.size()) return;
    const std::string_view tag = bytes_.substr(begin, end - begin);
    std::size_t o = tag.find_first_of(" \t\r\n");
    while (o < tag.size()) {
      while (o < tag.size() && is_blank(tag[o])) ++o;
      const std::size_t name_begin = o;
      while (o < tag.size() && tag[o] != '=' && !is_blank(tag[o]) && tag[o] != '>' && tag[o] != '/') ++o;
      const std::string_view name = tag.substr(name_begin, o - name_begin);
      while (o < tag.size() && is_blank(tag[o])) ++o;
      if (name.empty() || o >= tag.size() || tag[o] != '=') return;
      ++o;
      while (o < tag.size() && is_blank(tag[o])) ++o;
      if (o >= tag.size() || (tag[o] != '"' && tag[o] != '\'')) return;
      const std::size_t close = tag.find(tag[o], o + 1);
      if (close == std::string_view::npos) return;
      found(name, begin + o + 1);
      o = close + 1;
    }
  }

 private:
  // A position with its byte offset.
  struct Mark {
    std::size_t offset;
    int line;
    int column;
  };
  static constexpr std::size_t kMarkSpacing = 256;

  static bool before(const Mark& a, const Mark& b) { return before(Position{a.line, a.column}, b); }
  static bool before(Position a, const Mark& b) { return a.line != b.line ? a.line < b.line : a.column < b.column; }

  static bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

  // One character on: a line feed starts the next line.
  void step(Mark& m) const {
    if (bytes_[m.offset] == '\n') {
      ++m.offset;
      ++m.line;
      m.column = 1;
    } else {
      m.offset = next_char(m.offset);
      ++m.column;
    }
  }

  void place_marks() {
    Mark m{0, 1, 1};
    marks_.reserve(bytes_.size() / kMarkSpacing + 1);
    marks_.push_back(m);
    std::size_t next = kMarkSpacing;
    while (m.offset < bytes_.size()) {
      step(m);
      if (m.offset >= next) {
        marks_.push_back(m);
        next = m.offset + kMarkSpacing;
      }
    }
    lines_ = m.line;
  }

  std::size_t next_char(std::size_t o) const {
    ++o;
    if (!single_byte_)
      while (o < bytes_.size() && (static_cast<unsigned char>(bytes_[o]) & 0xC0) == 0x80) ++o;
    return o;
  }

  std::string_view bytes_;
  std::vector<Mark> marks_;
  mutable Mark last_{0, 1, 1};  // the last position looked up: lookups mostly go forward
  int lines_ = 0;
  bool mapped_ = true;
  bool single_byte_ = false;
};

// ---------------------------------------------------------------------------
// The tree, kept small for documents of many small elements: each name is
// stored once, every text (and attribute value) goes into one buffer, led by
// its size and the size of its lead, and the elements lie in document order,
// each knowing where its subtree ends. A position is kept as its byte offset
// in the source, or, where that does not give it back (a document in
// UTF-16, a column past the end of a line), in a list of its own. An element
// costs 24 bytes and its text a byte or two more than the text itself.

class Tree {
 public:
  static constexpr std::uint32_t kFull = UINT32_MAX;  // no room for a text

  struct Element {
    std::uint32_t name;
    std::uint32_t end;          // one past the last element of its subtree
    std::uint32_t attributes;   // its first attribute; they end where the next element's begin
    std::uint32_t text;         // in texts_
    std::uint32_t after_start;  // positions, as keep() gives them
    std::uint32_t after_end;
  };
  struct Attr {
    std::uint32_t name;
    std::uint32_t value;   // in texts_
    std::uint32_t offset;  // of the value in the source; kNoOffset when not found
  };
  static constexpr std::uint32_t kNoOffset = UINT32_MAX;

  // A document has at most one element per '<' that opens a start tag and
  // one attribute per '='; reserving that much up front keeps growth from
  // copying, and what is never used is never touched.
  Tree(const Document::Source& source) : source_(source) {
    const std::string_view b = source.bytes();
    std::size_t starts = 0;
    std::size_t equals = 0;
    for (std::size_t i = 0; i < b.size(); ++i) {
      if (b[i] == '=') ++equals;
      if (b[i] == '<' && i + 1 < b.size() && b[i + 1] != '/' && b[i + 1] != '!' && b[i + 1] != '?') ++starts;
    }
    elements.reserve(starts);
    attributes.reserve(equals);
    texts_.reserve(b.size());
    add_text({}, 0);  // text 0: the empty text
  }

  std::vector<Element> elements;
  std::vector<Attr> attributes;

  std::uint32_t name_id(std::string_view name) {
    const auto found = ids_.find(name);
    if (found != ids_.end()) return found->second;
    const auto it = ids_.emplace(std::string(name), static_cast<std::uint32_t>(names_.size())).first;
    names_.push_back(&it->first);
    return it->second;
  }
  std::string_view name(std::uint32_t id) const { return *names_[id]; }

  // Stores a text and the size of its lead; kFull when the texts would
  // pass what 32-bit offsets reach.
  std::uint32_t add_text(std::string_view text, std::size_t lead) {
    if (text.empty() && !texts_.empty()) return 0;
    const std::size_t at = texts_.size();
    if (at + text.size() + 10 >= kFull) return kFull;
    put_size(text.size());
    put_size(lead);
    texts_.append(text);
    return static_cast<std::uint32_t>(at);
  }
  // The text `id` and its lead.
  std::string_view text(std::uint32_t id) const { return text_and_lead(id).first; }
  std::string_view lead(std::uint32_t id) const {
    const auto t = text_and_lead(id);
    return t.first.substr(0, t.second);
  }

  std::uint32_t add_element(std::uint32_t name, Position after_start) {
    const auto index = static_cast<std::uint32_t>(elements.size());
    elements.push_back({name, index + 1, static_cast<std::uint32_t>(attributes.size()), 0, keep(after_start), kUnset});
    return index;
  }
  void add_attribute(std::uint32_t name, std::uint32_t value) { attributes.push_back({name, value, kNoOffset}); }
  void close_element(std::uint32_t index, Position after_end, std::uint32_t text) {
    Element& e = elements[index];
    e.end = static_cast<std::uint32_t>(elements.size());
    e.after_end = keep(after_end);
    e.text = text;
  }

  // Finds the values of the attributes of element `index` in its start tag.
  // Xerces gives the attributes in the order of the tag (defaults last).
  void place_attributes(std::uint32_t index) {
    const std::uint32_t first = elements[index].attributes;
    if (first == attributes.size()) return;
    const std::size_t end = offset(elements[index].after_start);
    std::size_t next = first;
    source_.attribute_values(source_.tag_start(end), end, [&](std::string_view name, std::size_t offset) {
      if (next < attributes.size() && this->name(attributes[next].name) == name)
        attributes[next++].offset = static_cast<std::uint32_t>(offset);
    });
  }

  std::pair<std::uint32_t, std::uint32_t> attribute_range(std::uint32_t index) const {
    const std::uint32_t end =
        index + 1 < elements.size() ? elements[index + 1].attributes : static_cast<std::uint32_t>(attributes.size());
    return {elements[index].attributes, end};
  }

  const Document::Source& source() const { return source_; }

  // The first element (in document order) whose position `which` is `p`.
  Node node_at(Position p, std::uint32_t Element::*which) const {
    bool exact = false;
    const std::size_t o = source_.offset(p, &exact);
    const std::uint32_t wanted = exact && o < kOther ? static_cast<std::uint32_t>(o) : kUnset;
    for (std::uint32_t i = 0; i < elements.size(); ++i) {
      const std::uint32_t kept = elements[i].*which;
      if (kept & kOther ? same(position(kept), p) : kept == wanted) return Node(this, i);
    }
    return {};
  }

  Position position(std::uint32_t kept) const {
    if (kept == kUnset) return {};
    return kept & kOther ? others_[kept & ~kOther] : source_.position(kept);
  }
  // The byte offset of a kept position, as Source::offset gives it.
  std::size_t offset(std::uint32_t kept) const { return kept & kOther ? source_.offset(position(kept)) : kept; }

 private:
  void put_size(std::size_t n) {
    for (; n >= 0x80; n >>= 7) texts_ += static_cast<char>((n & 0x7F) | 0x80);
    texts_ += static_cast<char>(n);
  }
  std::size_t get_size(std::size_t& at) const {
    std::size_t n = 0;
    for (int shift = 0;; shift += 7) {
      const auto byte = static_cast<unsigned char>(texts_[at++]);
      n |= static_cast<std::size_t>(byte & 0x7F) << shift;
      if (byte < 0x80) return n;
    }
  }
  std::pair<std::string_view, std::size_t> text_and_lead(std::uint32_t id) const {
    std::size_t at = id;
    const std::size_t size = get_size(at);
    const std::size_t lead = get_size(at);
    return {std::string_view(texts_).substr(at, size), std::min(lead, size)};
  }

  static constexpr std::uint32_t kOther = 0x80000000u;  // kept in others_
  static constexpr std::uint32_t kUnset = UINT32_MAX;   // no position (an element never closed)

  static bool same(Position a, Position b) { return a.line == b.line && a.column == b.column; }

  std::uint32_t keep(Position p) {
    bool exact = false;
    const std::size_t o = source_.offset(p, &exact);
    if (exact && o < kOther) return static_cast<std::uint32_t>(o);
    others_.push_back(p);
    return kOther | static_cast<std::uint32_t>(others_.size() - 1);
  }

  const Document::Source& source_;
  std::vector<Position> others_;
  std::map<std::string, std::uint32_t, std::less<>> ids_;
  std::vector<const std::string*> names_;
  std::string texts_;
};

std::string_view Node::name() const { return tree_->name(tree_->elements[index_].name); }
std::string_view Node::text() const { return tree_->text(tree_->elements[index_].text); }
std::string_view Node::lead() const { return tree_->lead(tree_->elements[index_].text); }
Position Node::after_start() const { return tree_->position(tree_->elements[index_].after_start); }
Position Node::after_end() const { return tree_->position(tree_->elements[index_].after_end); }

Position Node::tag() const {
  const Document::Source& source = tree_->source();
  const Position after = after_start();
  const std::size_t end = tree_->offset(tree_->elements[index_].after_start);
  const std::size_t lt = source.tag_start(end);
  return lt == std::string::npos ? after : source.position_before(after, end, lt);
}

std::size_t Node::tag_offset() const {
  const std::size_t end = after_start_offset();
  return end == std::string::npos ? end : tree_->source().tag_start(end);
}
std::size_t Node::after_start_offset() const { return tree_->offset(tree_->elements[index_].after_start); }
std::size_t Node::after_end_offset() const { return tree_->offset(tree_->elements[index_].after_end); }

Position Node::value() const {
  const Document::Source& source = tree_->source();
  const std::size_t value = source.first_non_blank(tree_->offset(tree_->elements[index_].after_start));
  return value == std::string::npos ? after_start() : source.position(value);
}

std::size_t Node::attribute_count() const {
  const auto range = tree_->attribute_range(index_);
  return range.second - range.first;
}

Attribute Node::attribute_at(std::size_t i) const {
  const Tree::Attr& a = tree_->attributes[tree_->attribute_range(index_).first + i];
  return {tree_->name(a.name), tree_->text(a.value), a.offset == Tree::kNoOffset ? std::string::npos : a.offset};
}

std::optional<Attribute> Node::attribute(std::string_view attr) const {
  for (std::size_t i = 0; i < attribute_count(); ++i)
    if (tree_->name(tree_->attributes[tree_->attribute_range(index_).first + i].name) == attr) return attribute_at(i);
  return std::nullopt;
}

Node::Children Node::children() const { return {tree_, index_ + 1, tree_->elements[index_].end}; }

bool Node::has_children() const { return tree_->elements[index_].end != index_ + 1; }

Node Node::child(std::string_view child_name) const {
  for (const Node c : children())
    if (c.name() == child_name) return c;
  return {};
}

Node::Children::iterator& Node::Children::iterator::operator++() {
  index_ = tree_->elements[index_].end;
  return *this;
}

// ---------------------------------------------------------------------------

std::string format_finding(const std::string& file, const Finding& f) {
  using qal3::text::Backslash;
  std::string out = qal3::text::one_line(file, Backslash::escaped) + ":";
  if (f.line > 0) out += std::to_string(f.line) + ":" + std::to_string(f.column) + ":";
  out += f.severity == Severity::kError ? " error: " : " warning: ";
  return out + qal3::text::one_line(f.message, Backslash::escaped);
}

const std::vector<FamilyInfo>& families() {
  // The roots and names are the library's (qal3_family.h).
  const auto row = [](Family f, qal3_family code, const char* schema) {
    return FamilyInfo{f, qal3_family_root(code), schema, qal3_family_name(code), code};
  };
  static const std::vector<FamilyInfo> kFamilies = {
      row(Family::kEventList, QAL3_FAMILY_EVENT_LIST, "evlist.xsd"),
      row(Family::kChanDescriptions, QAL3_FAMILY_CHAN_DESCRIPTIONS, "chandescriptions.xsd"),
      row(Family::kDaqVariables, QAL3_FAMILY_DAQ_VARIABLES, "daqvariables.xsd"),
      row(Family::kEnvDict, QAL3_FAMILY_ENV_DICT, "envdict.xsd"),
      row(Family::kTriggerList, QAL3_FAMILY_TRIGGER_LIST, "triggers.xsd"),
      row(Family::kGigE, QAL3_FAMILY_GIGE, "gige.xsd"),
  };
  return kFamilies;
}

const FamilyInfo* family_info(Family f) {
  for (const FamilyInfo& i : families())
    if (i.family == f) return &i;
  return nullptr;
}

// ---------------------------------------------------------------------------
// The SAX handlers.

namespace {

// Collects the errors of a pass; a document type declaration is an error
// and ends the pass where it ends.
class ErrorCollector : public xc::DefaultHandler {
 public:
  explicit ErrorCollector(std::vector<Finding>& out) : out_(out) {}

  void setDocumentLocator(const xc::Locator* const locator) override { locator_ = locator; }
  void warning(const xc::SAXParseException& e) override { add(e, Severity::kWarning, true); }
  void error(const xc::SAXParseException& e) override { add(e, Severity::kError, true); }
  // A fatal error is the XML's, not the schema's: not well-formed, or empty.
  void fatalError(const xc::SAXParseException& e) override {
    add(e, Severity::kError, false);
    fatal_ = true;
  }
  void startDTD(const XMLCh* const, const XMLCh* const, const XMLCh* const) override {
    note(here(), Severity::kError, "doctype", "document type declarations are not accepted");
    fatal_ = true;
  }
  void endDTD() override { throw StopParsing{}; }

  bool fatal() const { return fatal_; }

 protected:
  Position here() const {
    if (!locator_) return {};
    return {static_cast<int>(locator_->getLineNumber()), static_cast<int>(locator_->getColumnNumber())};
  }

  // A finding of the checker's own at `at`.
  void note(Position at, Severity severity, const char* code, const std::string& message) {
    out_.push_back({at.line, at.column, severity, message, false, code});
  }

  // Ends the pass with an error of kind `code` here.
  [[noreturn]] void stop(const char* code, const std::string& message) {
    note(here(), Severity::kError, code, message);
    fatal_ = true;
    throw StopParsing{};
  }

 private:
  // Schema findings past kMaxSchemaFindings are left out; fatal errors,
  // which end the pass, never are.
  void add(const xc::SAXParseException& e, Severity severity, bool from_schema) {
    if (from_schema && count_++ == kMaxSchemaFindings) {
      Finding f;
      f.line = static_cast<int>(e.getLineNumber());
      f.column = static_cast<int>(e.getColumnNumber());
      f.message = "further schema errors left out";
      f.from_schema = true;
      out_.push_back(f);
    }
    if (from_schema && count_ > kMaxSchemaFindings) return;
    Finding f;
    f.line = static_cast<int>(e.getLineNumber());
    f.column = static_cast<int>(e.getColumnNumber());
    f.severity = severity;
    f.message = to_utf8(e.getMessage());
    f.from_schema = from_schema;
    if (!from_schema) f.code = "not-well-formed";
    out_.push_back(f);
  }

  std::vector<Finding>& out_;
  const xc::Locator* locator_ = nullptr;
  std::size_t count_ = 0;
  bool fatal_ = false;
};

// First pass: the name of the root element, and a warning for each
// attribute default a DTD declares, at its declaration.
class RootProbe : public ErrorCollector {
 public:
  RootProbe(std::vector<Finding>& out, const Document::Source& source) : ErrorCollector(out), source_(source) {}

  void attributeDecl(const XMLCh* const element, const XMLCh* const name, const XMLCh* const, const XMLCh* const mode,
                     const XMLCh* const value) override {
    const std::string how = to_utf8(mode);
    if (!value || how == "#IMPLIED" || how == "#REQUIRED") return;
    std::string text = to_utf8(value);
    if (text.size() > kQuotedValue) text = text.substr(0, kQuotedValue) + "...";
    const std::string e = to_utf8(element);
    const std::string a = to_utf8(name);
    note(declaration(here()), Severity::kWarning, "dtd-default",
         "the DTD gives attribute '" + a + "' of '" + e + "' the default value \"" + text + "\": every " + e +
             " element without the attribute is read as if it had " + a + "=\"" + text + "\"");
  }

  void startElement(const XMLCh* const, const XMLCh* const, const XMLCh* const qname, const xc::Attributes&) override {
    if (!seen_) {
      root_ = to_utf8(qname);
      position_ = here();
      seen_ = true;
    }
  }
  bool seen() const { return seen_; }
  const std::string& root() const { return root_; }
  Position position() const { return position_; }

 private:
  static constexpr std::size_t kQuotedValue = 40;  // bytes of a default value quoted in a warning

  // The start of the attribute list declaration that ends at or before `p`.
  Position declaration(Position p) const {
    const std::size_t end = source_.offset(p);
    const std::size_t start = end == std::string::npos ? end : source_.bytes().substr(0, end).rfind("<!ATTLIST");
    return start == std::string::npos ? p : source_.position(start);
  }

  const Document::Source& source_;
  bool seen_ = false;
  std::string root_;
  Position position_;
};

// Second pass: validation and the tree.
class TreeBuilder : public ErrorCollector {
 public:
  TreeBuilder(std::vector<Finding>& out, Tree& tree) : ErrorCollector(out), tree_(tree) {}

  void startElement(const XMLCh* const, const XMLCh* const, const XMLCh* const qname,
                    const xc::Attributes& attrs) override {
    if ((stack_.empty() && !tree_.elements.empty()) || (!stack_.empty() && stack_.back() == kIgnored)) {
      stack_.push_back(kIgnored);
      return;
    }
    if (!stack_.empty()) {
      Pending& p = pending_.back();
      if (p.lead_units == std::string::npos) p.lead_units = p.text.size();
    }
    const std::uint32_t index = tree_.add_element(name_id(qname), here());
    for (XMLSize_t i = 0; i < attrs.getLength(); ++i) {
      const std::uint32_t name = name_id(attrs.getQName(i));
      const XMLCh* value = attrs.getValue(i);
      tree_.add_attribute(name, text_id(value, xc::XMLString::stringLen(value)));
    }
    tree_.place_attributes(index);
    stack_.push_back(index);
    pending_.emplace_back();
  }

  void characters(const XMLCh* const chars, const XMLSize_t length) override {
    if (stack_.empty() || stack_.back() == kIgnored) return;
    pending_.back().text.append(chars, length);
  }

  void endElement(const XMLCh* const, const XMLCh* const, const XMLCh* const) override {
    if (stack_.empty()) return;
    const std::uint32_t index = stack_.back();
    stack_.pop_back();
    if (index == kIgnored) return;
    const Pending& p = pending_.back();
    tree_.close_element(index, here(), text_id(p.text.data(), p.text.size(), p.lead_units));
    pending_.pop_back();
  }

  // The elements left open by an error end where the tree ends.
  void finish() {
    for (const std::uint32_t index : stack_)
      if (index != kIgnored) tree_.elements[index].end = static_cast<std::uint32_t>(tree_.elements.size());
  }

 private:
  static constexpr std::uint32_t kIgnored = UINT32_MAX;

  struct Pending {
    std::basic_string<XMLCh> text;
    std::size_t lead_units = std::string::npos;  // the text's units before the first child
  };

  std::uint32_t name_id(const XMLCh* name) {
    utf8_.clear();
    append_utf8(utf8_, name, xc::XMLString::stringLen(name));
    return tree_.name_id(utf8_);
  }

  // The text of `length` units; its first `lead_units` are its lead (all of
  // it when npos).
  std::uint32_t text_id(const XMLCh* text, std::size_t length, std::size_t lead_units = 0) {
    utf8_.clear();
    const std::size_t lead = std::min(lead_units, length);
    append_utf8(utf8_, text, lead);
    const std::size_t lead_bytes = utf8_.size();
    append_utf8(utf8_, text + lead, length - lead);
    const std::uint32_t id = tree_.add_text(utf8_, lead_bytes);
    if (id == Tree::kFull) stop("too-large", "the document is too large to check");
    return id;
  }

  Tree& tree_;
  std::vector<std::uint32_t> stack_;
  std::vector<Pending> pending_;
  std::string utf8_;  // reused for each conversion
};

bool whole_number(std::string_view text) {
  const auto b = text.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return false;
  const std::string t(text.substr(b, text.find_last_not_of(" \t\r\n") - b + 1));
  char* end = nullptr;
  std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size();
}

// Xerces words a few value errors for schema authors; says which value.
std::string plain_message(const std::string& message, const std::string& value) {
  static const std::string kInteger = "does not match regular expression facet '[+\\-]?[0-9]+'";
  if (message.find(kInteger) != std::string::npos) return "'" + value + "' is not an integer";
  // The schemas' one union is their float type (a number, or inf and nan).
  if (message == "invalid character encountered" ||
      message.find("does not match any member types of the union") != std::string::npos)
    return "'" + value + "' is not a number";
  return message;
}

}  // namespace

// A schema error reported at the end of a start tag is about one of its
// attributes, one at the end of an end tag about the element's text: the
// finding moves to the value and names it.
void Document::locate(Finding& f) const {
  const Position at{f.line, f.column};
  if (const Node n = tree_->node_at(at, &Tree::Element::after_start)) {
    std::optional<Attribute> bad;
    for (std::size_t i = 0; i < n.attribute_count(); ++i) {
      const Attribute a = n.attribute_at(i);
      if (f.message.find("'" + std::string(a.value) + "'") != std::string::npos) bad = a;
    }
    if (!bad && f.message == "invalid character encountered")
      for (std::size_t i = 0; i < n.attribute_count(); ++i) {
        const Attribute a = n.attribute_at(i);
        if (!bad && a.name != "name" && a.name != "text" && !whole_number(a.value)) bad = a;
      }
    if (!bad) return;
    const Position p = attribute_position(n, bad->name);
    f.line = p.line;
    f.column = p.column;
    f.message = "attribute " + std::string(bad->name) + " of " + std::string(n.name()) + ": " +
                plain_message(f.message, std::string(bad->value));
    return;
  }
  if (const Node n = tree_->node_at(at, &Tree::Element::after_end)) {
    if (n.has_children()) return;
    const std::string_view text = n.text();
    const auto b = text.find_first_not_of(" \t\r\n");
    const std::string value(b == std::string_view::npos ? ""
                                                        : text.substr(b, text.find_last_not_of(" \t\r\n") - b + 1));
    if (f.message.find("'" + value + "'") == std::string::npos && f.message != "invalid character encountered") return;
    const Position v = n.value();
    f.line = v.line;
    f.column = v.column;
    f.message = std::string(n.name()) + ": " + plain_message(f.message, value);
  }
}

namespace {

// Runs `body` (a parse) and turns what escapes from Xerces into a finding.
template <class Body>
void guarded(Body&& body, std::vector<Finding>& out) {
  try {
    body();
  } catch (const StopParsing&) {
  } catch (const xc::OutOfMemoryException&) {
    out.push_back({0, 0, Severity::kError, "out of memory while reading the document", false, "resources"});
  } catch (const xc::XMLException& e) {
    out.push_back(
        {static_cast<int>(e.getSrcLine()), 0, Severity::kError, to_utf8(e.getMessage()), false, "not-well-formed"});
  } catch (const xc::SAXException& e) {
    out.push_back({0, 0, Severity::kError, to_utf8(e.getMessage()), false, "not-well-formed"});
  }
}

// A reader hardened as the library's readers are (nothing fetched, entity
// expansion bounded, the readers' limits), with
// the settings shared by both passes and `handler` taking its content,
// errors and lexical events; no DTD is accepted (see
// ErrorCollector::startDTD).
std::unique_ptr<xc::SAX2XMLReader> make_reader(xc::DefaultHandler& handler) {
  auto reader = qal3::xerces::make_hardened_reader();
  reader->setFeature(xc::XMLUni::fgSAX2CoreNameSpaces, true);
  reader->setFeature(xc::XMLUni::fgXercesSkipDTDValidation, true);
  reader->setFeature(xc::XMLUni::fgXercesLoadSchema, false);
  reader->setContentHandler(&handler);
  reader->setErrorHandler(&handler);
  reader->setLexicalHandler(&handler);
  return reader;
}

}  // namespace

Document::Document(std::string file, std::string_view bytes)
    : file_(std::move(file)), source_(std::make_unique<Source>(bytes)) {}

Document::~Document() = default;

Node Document::root() const { return tree_ && !tree_->elements.empty() ? Node(tree_.get(), 0) : Node(); }

Position Document::attribute_position(const Node& node, const Attribute& attr) const {
  return attr.value_offset == std::string::npos ? node.tag() : source_->position(attr.value_offset);
}

Position Document::attribute_position(const Node& node, std::string_view attr) const {
  const std::optional<Attribute> a = node.attribute(attr);
  return a ? attribute_position(node, *a) : node.tag();
}

bool Document::read(std::vector<Finding>& out) {
  Platform platform;
  const std::string_view bytes = source_->bytes();
  const auto* data = reinterpret_cast<const XMLByte*>(bytes.data());

  // Pass 1: the root element decides the family.
  RootProbe probe(out, *source_);
  {
    auto reader = make_reader(probe);
    reader->setDeclarationHandler(&probe);
    reader->setFeature(xc::XMLUni::fgSAX2CoreValidation, false);
    reader->setFeature(xc::XMLUni::fgXercesSchema, false);
    xc::MemBufInputSource input(data, bytes.size(), file_.c_str());
    input.setCopyBufToStream(false);  // the bytes outlive the parse
    guarded(
        [&] {
          xc::XMLPScanToken token;
          if (!reader->parseFirst(input, token)) return;
          while (!probe.seen() && !probe.fatal() && reader->parseNext(token)) {
          }
          reader->parseReset(token);
        },
        out);
  }
  if (!probe.seen()) {
    if (out.empty()) out.push_back({1, 1, Severity::kError, "no root element", false, "no-root"});
    return false;
  }
  const qal3_family code = qal3_family_of_root(probe.root().c_str());
  for (const FamilyInfo& f : families())
    if (code != QAL3_FAMILY_UNKNOWN && f.code == code) family_ = f.family;
  if (family_ == Family::kUnknown) {
    std::string known;
    for (const FamilyInfo& f : families()) known += std::string(known.empty() ? "" : ", ") + f.root;
    const std::size_t lt = source_->tag_start(source_->offset(probe.position()));
    const Position at = lt == std::string::npos ? probe.position() : source_->position(lt);
    out.push_back({at.line, at.column, Severity::kError, "root element '" + probe.root() + "' is none of " + known,
                   false, "unknown-root"});
    return false;
  }

  // Pass 2: validation against our schema only, and the tree.
  if (bytes.size() >= Tree::kNoOffset) {
    out.push_back({0, 0, Severity::kError, "the document is too large to check", false, "too-large"});
    return false;
  }
  std::vector<Finding> found;
  tree_ = std::make_unique<Tree>(*source_);
  TreeBuilder builder(found, *tree_);
  auto reader = make_reader(builder);
  reader->setFeature(xc::XMLUni::fgSAX2CoreValidation, true);
  reader->setFeature(xc::XMLUni::fgXercesDynamic, false);
  reader->setFeature(xc::XMLUni::fgXercesSchema, true);
  reader->setFeature(xc::XMLUni::fgXercesSchemaFullChecking, false);
  reader->setFeature(xc::XMLUni::fgXercesUseCachedGrammarInParse, true);
  reader->setFeature(xc::XMLUni::fgXercesCacheGrammarFromParse, false);
  // Repeated indexes are reported by the checks, with the first occurrence.
  reader->setFeature(xc::XMLUni::fgXercesIdentityConstraintChecking, false);

  const char* const schema = family_info(family_)->schema;
  const std::string_view schema_bytes = schema_text(schema);
  std::vector<Finding> schema_errors;
  ErrorCollector schema_handler(schema_errors);
  reader->setErrorHandler(&schema_handler);
  const xc::Grammar* grammar = nullptr;
  guarded(
      [&] {
        // The library's own copy, given as an input source: entity
        // resolution is off for documents.
        xc::MemBufInputSource in(reinterpret_cast<const XMLByte*>(schema_bytes.data()), schema_bytes.size(), schema);
        in.setCopyBufToStream(false);
        grammar = reader->loadGrammar(in, xc::Grammar::SchemaGrammarType, true);
      },
      schema_errors);
  if (!grammar || !schema_errors.empty()) {
    std::string why = schema_errors.empty() ? "" : ": " + schema_errors.front().message;
    out.push_back(
        {0, 0, Severity::kError, "schema " + std::string(schema) + " cannot be loaded" + why, false, "resources"});
    return false;
  }
  reader->setErrorHandler(&builder);
  xc::MemBufInputSource input(data, bytes.size(), file_.c_str());
  input.setCopyBufToStream(false);
  guarded([&] { reader->parse(input); }, found);
  builder.finish();
  if (root())
    for (Finding& f : found)
      if (f.from_schema) locate(f);
  out.insert(out.end(), found.begin(), found.end());
  return root() && !builder.fatal();
}

}  // namespace check
