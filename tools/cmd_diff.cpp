// qal3 diff and qal3 show: documents compared record by record, and the
// canonical form of one document, both made from the record descriptions;
// beside the records, what the readers do not keep, from the documents'
// element trees. The records are walked field by field as they are
// compared or shown: no value is kept beyond the line it makes. A trigger's
// function parameters go by the names its function gives them; show leaves
// out a value at what the reader gives a document that does not set it,
// where the library states that value.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "cli_commands.h"
#include "cli_forms.h"
#include "cli_input.h"
#include "cli_output.h"
#include "hardened_reader.h"
#include "qal3_xml_platform.h"
#include "record_fields.h"
#include "record_text.h"
#include "trigger_facts.h"
#include "user_case_trigger.h"

namespace {

using qal3::records::Description;
using qal3::records::Kind;
using qal3::records::Shape;

// diff(1)'s exit statuses.
enum DiffExit : int { kSame = 0, kDifferent = 1, kTrouble = 2 };

// What a record holds, compared: every field but counts (their lists are
// compared), time stamps (they say when, not what) and fields no document
// holds.
constexpr bool compared(Kind kind) {
  return !qal3::records::is_derived(kind) && kind != Kind::time && kind != Kind::unwritten;
}

// The text of one value as read (numbers as the listings show them, so that
// two spellings of one float are one text; a registry slot by the name
// registered there, or by its number).
template <class V>
std::string value_text(const V& v, Kind kind) {
  constexpr Shape s = qal3::records::shape_of<V>();
  if constexpr (s == Shape::number) {
    if (!qal3::records::is_slot(kind)) return cli::ValueText{kind}.integer(v);
    const int slot = static_cast<int>(v);
    const char* name = kind == Kind::function_slot ? qal3_get_function_string(slot) : qal3_get_operation_string(slot);
    return name && *name ? name : std::to_string(slot);
  } else if constexpr (s == Shape::real) {
    return cli::ValueText{kind}.real(v);
  } else if constexpr (s == Shape::text) {
    return cli::field_text(v);
  } else {
    static_assert(s == Shape::string, "not a single value");
    return v;
  }
}

// What the library states of a record's values beyond its description:
// the name of an entry of a list of numbers (empty: FIELD[N]) and the text
// of the value the reader gives a value that a document does not set
// (none: not stated). For most records, nothing.
template <class R>
struct Stated {
  explicit Stated(const R&) {}
  std::string entry_name(Kind, std::size_t) const { return std::string(); }
  std::optional<std::string> preset(Kind) const { return std::nullopt; }
};

// A trigger: a function parameter by the name its built-in function gives
// it; a parameter, the function and the operation at the reader's defaults.
template <>
struct Stated<qal3_user_case_trigger> {
  const qal3::trigger::BuiltinFunction* builtin;  // null: the slot holds no built-in
  explicit Stated(const qal3_user_case_trigger& t) : builtin(qal3::trigger::builtin_in_slot(t.function)) {}
  std::string entry_name(Kind kind, std::size_t i) const {
    const char* name = kind == Kind::reals && builtin && i < static_cast<std::size_t>(qal3::trigger::kParameters)
                           ? qal3::trigger::parameter_name(*builtin, static_cast<int>(i))
                           : nullptr;
    return name ? name : std::string();
  }
  std::optional<std::string> preset(Kind kind) const {
    switch (kind) {
      case Kind::reals:
        return value_text(qal3::trigger::kDefaultParameter, kind);
      case Kind::function_slot:
        return value_text(qal3::trigger::kDefaultFunction, kind);
      case Kind::operation_slot:
        return value_text(qal3::trigger::kDefaultOperation, kind);
      default:
        return std::nullopt;
    }
  }
};

// Takes the values of a record's fields, each named by its path (a field's
// name; bits[1].bit_name for a field of a list's entry; a trigger's
// parameter by its function's name for it, else fparam[N]).
struct Sink {
  virtual ~Sink() = default;
  // A value at `path`: its text in the old record and in the new one, null
  // on a side that has no value there (a list of another length); `preset`
  // is the text of the reader's value for it when unset, null where the
  // library states none.
  virtual void value(const std::string& path, const std::string* old_text, const std::string* new_text,
                     const std::string* preset) = 0;
};

// Which values a walk hands to its sink: those the old side has (in its
// order, whatever the new side has there), or those only the new side has.
enum class Pass { old_side, new_only };

template <class R>
void walk(const R* a, const R* b, std::string& path, Pass pass, Sink& sink);

// Walks one member (not a list of numbers: walk names their entries), of
// the old and the new record (null: not there), at `path`, with the text of
// its preset value (null: none); `path` is as it was on return.
template <class V>
void walk_value(const V* a, const V* b, Kind kind, std::string& path, Pass pass, Sink& sink,
                const std::string* preset) {
  if (!(pass == Pass::old_side ? a : b)) return;
  constexpr Shape s = qal3::records::shape_of<V>();
  static_assert(s != Shape::reals, "walk names the entries of a list of numbers");
  const std::size_t at = path.size();
  if constexpr (s == Shape::number || s == Shape::real || s == Shape::text || s == Shape::string) {
    if (pass == Pass::new_only && a) return;
    const std::string old_text = a ? value_text(*a, kind) : std::string();
    const std::string new_text = b ? value_text(*b, kind) : std::string();
    sink.value(path, a ? &old_text : nullptr, b ? &new_text : nullptr, preset);
  } else if constexpr (s == Shape::texts || s == Shape::records) {
    using L = std::remove_cv_t<std::remove_reference_t<decltype(qal3::records::list_in(*a))>>;
    const L* la = a ? &qal3::records::list_in(*a) : nullptr;
    const L* lb = b ? &qal3::records::list_in(*b) : nullptr;
    const std::size_t na = la ? la->size() : 0, nb = lb ? lb->size() : 0;
    for (std::size_t i = 0; i < std::max(na, nb); ++i) {
      path += "[" + std::to_string(i) + "]";
      if constexpr (s == Shape::texts) {
        if (pass == Pass::old_side ? i < na : i >= na) {
          const std::string old_text = i < na && (*la)[i] ? (*la)[i] : "";
          const std::string new_text = i < nb && (*lb)[i] ? (*lb)[i] : "";
          sink.value(path, i < na ? &old_text : nullptr, i < nb ? &new_text : nullptr, nullptr);
        }
      } else {
        path += '.';
        walk(i < na ? (*la)[i] : nullptr, i < nb ? (*lb)[i] : nullptr, path, pass, sink);  // null: no values
      }
      path.resize(at);
    }
  } else {
    path += '.';
    walk(a, b, path, pass, sink);
    path.resize(at);
  }
}

// Walks a record, of the old and the new side (null: not there). Records
// paired share their identity, so what the library states of the one is
// what it states of the other.
template <class R>
void walk(const R* a, const R* b, std::string& path, Pass pass, Sink& sink) {
  const R* of = pass == Pass::old_side ? a : b;
  if (!of) return;
  const Stated<R> stated(*of);
  qal3::records::for_each_field<R>([&](const auto& field) {
    if (!compared(field.kind)) return;
    const std::optional<std::string> preset = stated.preset(field.kind);
    const std::size_t at = path.size();
    using V = std::remove_cv_t<std::remove_reference_t<decltype(field.of(*of))>>;
    if constexpr (qal3::records::shape_of<V>() == Shape::reals) {
      for (std::size_t i = 0; i < std::extent_v<V>; ++i) {
        const std::string name = stated.entry_name(field.kind, i);
        path += name.empty() ? std::string(field.name) + "[" + std::to_string(i) + "]" : name;
        walk_value(a ? &field.of(*a)[i] : nullptr, b ? &field.of(*b)[i] : nullptr, field.kind, path, pass, sink,
                   preset ? &*preset : nullptr);
        path.resize(at);
      }
    } else {
      path += field.name;
      walk_value(a ? &field.of(*a) : nullptr, b ? &field.of(*b) : nullptr, field.kind, path, pass, sink,
                 preset ? &*preset : nullptr);
      path.resize(at);
    }
  });
}

// What identifies a record ("prop_name=X"): its identity fields that hold
// one value, in the description's order.
template <class R>
std::string identity_of(const R& record) {
  static_assert(qal3::records::has_identity<R>(), "an identity field is not a field");
  std::string id;
  for (const char* name : Description<R>::identity)
    qal3::records::for_each_field<R>([&](const auto& field) {
      using V = std::remove_cv_t<std::remove_reference_t<decltype(field.of(record))>>;
      constexpr Shape s = qal3::records::shape_of<V>();
      if constexpr (s == Shape::number || s == Shape::real || s == Shape::text || s == Shape::string)
        if (compared(field.kind) && std::strcmp(field.name, name) == 0)
          id += (id.empty() ? "" : " ") + std::string(name) + "=" + value_text(field.of(record), field.kind);
    });
  return id;
}

// The name of the k-th (from 0) record of an identity that `n` records share.
std::string label(const std::string& identity, std::size_t k, std::size_t n) {
  return n > 1 ? identity + " #" + std::to_string(k + 1) : identity;
}

// Standard output in pieces, so that a long listing is not held whole.
class Lines {
 public:
  ~Lines() { flush(); }
  void add(const std::string& s) {
    text_ += s;
    if (text_.size() >= kPiece) flush();
  }
  void flush() {
    if (!text_.empty()) cli::put(text_);
    text_.clear();
  }

 private:
  static constexpr std::size_t kPiece = std::size_t{1} << 16;
  std::string text_;
};

constexpr char kNone[] = "(none)";

// A value changed from `old_text` to `new_text`, as one key.
std::string change_key(const std::string& old_text, const std::string& new_text) { return old_text + '\0' + new_text; }

// The changes of one pair of records, as lines and as JSON; each change of
// one value to another is noted in `seen`.
struct Changes : Sink {
  const std::string& name;  // the record's label
  bool json;
  Lines& lines;
  std::unordered_set<std::string>& seen;
  nlohmann::json fields = nlohmann::json::array();
  bool any = false;
  Changes(const std::string& n, bool j, Lines& l, std::unordered_set<std::string>& s)
      : name(n), json(j), lines(l), seen(s) {}

  void value(const std::string& path, const std::string* old_text, const std::string* new_text,
             const std::string*) override {
    if (old_text && new_text && *old_text == *new_text) return;
    any = true;
    if (old_text && new_text) seen.insert(change_key(*old_text, *new_text));
    if (json) {
      const auto value = [](const std::string* t) { return t ? nlohmann::json(*t) : nlohmann::json(); };
      fields.push_back({{"field", path}, {"old", value(old_text)}, {"new", value(new_text)}});
      return;
    }
    const auto cell = [](const std::string* t) { return t ? cli::one_line(*t) : std::string(kNone); };
    lines.add("changed\t" + cli::one_line(name) + "\t" + path + "\t" + cell(old_text) + "\t" + cell(new_text) + "\n");
  }
};

// The values of one record as show lists them: a value whose text is its
// preset's is left out, so that two records show the same lines exactly
// when their values have the same texts.
struct Shown : Sink {
  const std::string& name;  // the record's label, on one line, with its tab
  Lines& lines;
  Shown(const std::string& n, Lines& l) : name(n), lines(l) {}
  void value(const std::string& path, const std::string* old_text, const std::string*,
             const std::string* preset) override {
    if (preset && *old_text == *preset) return;
    lines.add(name + path + "\t" + cli::one_line(*old_text) + "\n");
  }
};

// ---------------------------------------------------------------------------
// What the readers do not keep: the element trees of both documents,
// compared beside the records. A tree holds element names, attributes and
// text (blanks around a text, and texts of blanks only, dropped); comments
// and processing instructions are not kept.

struct Element {
  std::string name;
  std::string text;
  std::vector<std::pair<std::string, std::string>> attributes;  // sorted by name
  std::vector<std::uint32_t> children;
  long long line = 0;  // where the start tag ends
};

struct Tree {
  std::vector<Element> elements;  // [0] the root, when read
};

// The characters a text's blanks are made of.
constexpr char kTextBlanks[] = " \t\r\n";

std::string trimmed(const std::string& s) {
  const std::size_t from = s.find_first_not_of(kTextBlanks);
  if (from == std::string::npos) return std::string();
  return s.substr(from, s.find_last_not_of(kTextBlanks) - from + 1);
}

std::string utf8(const XMLCh* text) {
  if (!text) return std::string();
  xercesc::TranscodeToStr out(text, "UTF-8");
  return std::string(reinterpret_cast<const char*>(out.str()), out.length());
}

struct StopTree {};

// Builds a Tree from the events of the hardened reader; a document type
// declaration ends the reading as an error.
class TreeBuilder : public xercesc::DefaultHandler {
 public:
  explicit TreeBuilder(Tree& tree) : tree_(tree) {}
  void setDocumentLocator(const xercesc::Locator* const locator) override { locator_ = locator; }
  void startElement(const XMLCh* const, const XMLCh* const, const XMLCh* const qname,
                    const xercesc::Attributes& attrs) override {
    const auto at = static_cast<std::uint32_t>(tree_.elements.size());
    if (!open_.empty()) tree_.elements[open_.back()].children.push_back(at);
    tree_.elements.emplace_back();
    Element& e = tree_.elements.back();
    e.name = utf8(qname);
    e.line = locator_ ? static_cast<long long>(locator_->getLineNumber()) : 0;
    for (XMLSize_t i = 0; i < attrs.getLength(); ++i)
      e.attributes.emplace_back(utf8(attrs.getQName(i)), utf8(attrs.getValue(i)));
    std::sort(e.attributes.begin(), e.attributes.end());
    open_.push_back(at);
  }
  void endElement(const XMLCh* const, const XMLCh* const, const XMLCh* const) override {
    std::string& text = tree_.elements[open_.back()].text;
    text = trimmed(text);
    open_.pop_back();
  }
  void characters(const XMLCh* const chars, const XMLSize_t length) override {
    if (open_.empty()) return;
    xercesc::TranscodeToStr out(chars, length, "UTF-8");
    tree_.elements[open_.back()].text.append(reinterpret_cast<const char*>(out.str()), out.length());
  }
  void startDTD(const XMLCh* const, const XMLCh* const, const XMLCh* const) override {
    error_ = "document type declarations are not accepted";
    throw StopTree{};
  }
  void fatalError(const xercesc::SAXParseException& e) override {
    error_ = "line " + std::to_string(e.getLineNumber()) + ": " + utf8(e.getMessage());
    throw StopTree{};
  }
  const std::string& failure() const { return error_; }

 private:
  Tree& tree_;
  const xercesc::Locator* locator_ = nullptr;
  std::vector<std::uint32_t> open_;
  std::string error_;
};

// The XML platform, held for the life of one object.
class Platform {
 public:
  Platform() : held_(qal3_xml_platform_acquire() != 0) {}
  ~Platform() { qal3_xml_platform_release(); }
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;
  bool held() const { return held_; }

 private:
  bool held_;
};

// Reads the element tree of `text` with the hardened reader; false, with
// the reason in `error`, when it cannot be read.
bool read_tree(const std::string& text, const std::string& name, Tree& tree, std::string& error) {
  Platform platform;
  if (!platform.held()) return error = "the XML parser cannot be set up", false;
  TreeBuilder builder(tree);
  try {
    auto reader = qal3::xerces::make_hardened_reader();
    reader->setFeature(xercesc::XMLUni::fgSAX2CoreValidation, false);
    reader->setFeature(xercesc::XMLUni::fgXercesSchema, false);
    reader->setFeature(xercesc::XMLUni::fgXercesLoadSchema, false);
    reader->setContentHandler(&builder);
    reader->setErrorHandler(&builder);
    reader->setLexicalHandler(&builder);
    xercesc::MemBufInputSource input(reinterpret_cast<const XMLByte*>(text.data()), text.size(), name.c_str());
    input.setCopyBufToStream(false);  // the text outlives the parse
    reader->parse(input);
  } catch (const StopTree&) {
  } catch (const xercesc::OutOfMemoryException&) {
    error = "out of memory";
  } catch (const xercesc::XMLException& e) {
    error = utf8(e.getMessage());
  } catch (const xercesc::SAXException& e) {
    error = utf8(e.getMessage());
  }
  if (error.empty() && !builder.failure().empty()) error = builder.failure();
  if (error.empty() && tree.elements.empty()) error = "no root element";
  return error.empty();
}

// What a reader makes of an element: the root, a record, a field of a
// record, something it passes over for a reason the records state (the
// isodate, a trigger's Creation time), or nothing.
enum class Role { root, record, field, passed, unread };

// The elements a family's reader keeps, by name: records and their
// fields; `attributes` says which attributes of them it keeps.
struct Keeps {
  std::vector<const char*> roots;
  std::vector<const char*> records;
  std::vector<const char*> fields;
  enum class Attributes { none, name_only, of_fields } attributes;
  bool records_anywhere;  // a record may stand at any depth, not only under the root
};

const Keeps* keeps_of(const std::string& root) {
  static const Keeps kKeeps[] = {
      {{"CHANDESCRIPTIONS"},
       {"CHANNEL"},
       {"EVTYPE",    "STREAM",     "PROP",    "NAME",  "DESC",     "UNITS",    "DIM_UNITS", "STAT_UNITS",
        "SIZE",      "BIT",        "DIM",     "STAT",  "BIT_NAME", "DIM_NAME", "STAT_NAME", "BIT_DESCR",
        "DIM_DESCR", "STAT_DESCR", "SB_NAME", "DTYPE", "COUNT",    "SETPOINT", "SUBSYSTEM", "DB_KEY"},
       Keeps::Attributes::none,
       false},
      {{"DAQvariables"},
       {"DaqFloat", "DaqBits", "DaqFloatMatrix"},
       {"bitTitle", "dimension", "evType", "nexol", "daqName", "subSystem", "setPoint", "description", "units",
        "lastIndex", "name"},
       Keeps::Attributes::none,
       false},
      {{"ENVINDEXDICT"}, {"CHANNEL"}, {"INDEX", "PROP", "DABS", "DREL"}, Keeps::Attributes::none, false},
      {{"BMR"},
       {"EVENT"},
       {"TYPE", "TMASK", "SBLOCK", "CHAN", "CHLIST", "MINTIMESEC", "MINTIMEUSEC", "PRIORITY"},
       Keeps::Attributes::none,
       false},
      {{"QAL3USERTRIGGERLIST"},
       {"USERTRIGGER"},
       {"Chan", "Description", "Group", "PreMode", "PostMode", "Function", "Operation", "LowLimit", "UpperLimit",
        "BitMask"},
       Keeps::Attributes::of_fields,
       false},
      {{"RegisterDescription"},
       {"Undefined", "Integer", "Float", "Enumeration", "Boolean", "StringReg", "Command", "IntReg", "Int64"},
       {"Extension", "PvRename", "ToolTip", "Description"},
       Keeps::Attributes::name_only,
       true},
  };
  for (const Keeps& k : kKeeps)
    for (const char* r : k.roots)
      if (root == r) return &k;
  return nullptr;
}

bool listed(const std::vector<const char*>& names, const std::string& name) {
  for (const char* n : names)
    if (name == n) return true;
  return false;
}

// The role of an element named `name` whose parent has `parent` role, at
// `depth` (the root at 0), where a record encloses it or not.
Role role_of(const Keeps& k, Role parent, bool in_record, const std::string& name, std::size_t depth) {
  if (depth == 0) return Role::root;
  if (parent == Role::unread || parent == Role::passed) return parent;
  if (depth == 1 && name == "isodate") return Role::passed;
  if (parent == Role::record && name == "Creation" && listed(k.records, "USERTRIGGER")) return Role::passed;
  if (listed(k.records, name) && (k.records_anywhere || parent == Role::root)) return Role::record;
  if (in_record && listed(k.fields, name)) return Role::field;
  return Role::unread;
}

bool attribute_kept(const Keeps& k, Role role, const std::string& attribute) {
  if (role == Role::passed) return true;
  switch (k.attributes) {
    case Keeps::Attributes::none:
      return false;
    case Keeps::Attributes::name_only:
      return (role == Role::record || role == Role::field) && attribute == "Name";
    case Keeps::Attributes::of_fields:
      return role == Role::field;
  }
  return false;
}

// The text of an element is kept with it when the element is a record or
// a field; the root's text is nothing the readers look at either.
bool text_kept(Role role) { return role == Role::record || role == Role::field || role == Role::passed; }

// A difference of the trees that the records do not show: where (lines are
// 0 on a side that does not have it), what (a path of element names, with
// [N] among same-named siblings and @ATTRIBUTE) and the two values (null:
// not there).
struct Unread {
  long long old_line, new_line;
  std::string path;
  const std::string* old_value;
  const std::string* new_value;
};

// What pairs an element with its counterpart among its siblings: its name,
// and its Name attribute where it has one (a camera feature or register),
// as NAME[@Name=VALUE].
std::string sibling_key(const Element& e) {
  for (const auto& attr : e.attributes)
    if (attr.first == "Name") return e.name + "[@Name=" + attr.second + "]";
  return e.name;
}

// The children of an element, grouped by key (sibling_key), each group in
// document order; [position] tells apart those of one key.
struct Siblings {
  // key -> the children of that key, in order, on each side
  std::unordered_map<std::string, std::pair<std::vector<std::uint32_t>, std::vector<std::uint32_t>>> by_name;
  std::vector<std::string> order;  // keys in the order first seen

  void add(const Tree& t, const std::vector<std::uint32_t>& children, bool new_side) {
    for (const std::uint32_t c : children) {
      const std::string name = sibling_key(t.elements[c]);
      auto it = by_name.find(name);
      if (it == by_name.end()) {
        it = by_name.emplace(name, decltype(it->second)()).first;
        order.push_back(name);
      }
      (new_side ? it->second.second : it->second.first).push_back(c);
    }
  }
};

std::string step(std::string_view name, std::size_t k, std::size_t n) {
  std::string s(name);
  if (n > 1) s += "[" + std::to_string(k + 1) + "]";
  return s;
}

// Compares the trees of two documents of one root and hands each
// difference the records do not show to `out`. Elements are paired by their
// path: by key (sibling_key) and position among the children of that key
// of paired parents. Each element is visited once, each sibling name hashed once.
class TreeDiff {
 public:
  TreeDiff(const Tree& a, const Tree& b, const Keeps& keeps, std::function<void(const Unread&)> out)
      : a_(a), b_(b), k_(keeps), out_(std::move(out)) {}

  // The differences of the two trees.
  void run() {
    std::string path = "/" + a_.elements[0].name;
    pair(0, 0, Role::root, false, 0, path);
  }

  // Everything of the first tree that the readers do not keep, each text
  // and attribute as a new value; an element they do not keep whole with
  // all it holds.
  void list() {
    listing_ = true;
    std::string path = "/" + a_.elements[0].name;
    lone(a_, 0, true, Role::root, false, 0, path);
  }

 private:
  void report(long long la, long long lb, const std::string& path, const std::string* va, const std::string* vb) {
    out_({la, lb, path, va, vb});
  }

  // One element on one side only: reported whole when the readers do not
  // keep it; else its attributes and children that they do not keep.
  void lone(const Tree& t, std::uint32_t e, bool new_side, Role parent, bool in_record, std::size_t depth,
            std::string& path) {
    const Element& el = t.elements[e];
    const Role role = role_of(k_, parent, in_record, el.name, depth);
    if (role == Role::passed) return;
    const long long line = el.line;
    if (role == Role::unread && !listing_) {
      const std::string value = el.text.empty() ? "<" + el.name + ">" : el.text;
      new_side ? report(0, line, path, nullptr, &value) : report(line, 0, path, &value, nullptr);
      return;
    }
    if (role == Role::unread) report(0, line, path, nullptr, &el.text);
    const std::size_t at = path.size();
    for (const auto& attr : el.attributes)
      if (!attribute_kept(k_, role, attr.first)) {
        path += "@" + attr.first;
        new_side ? report(0, line, path, nullptr, &attr.second) : report(line, 0, path, &attr.second, nullptr);
        path.resize(at);
      }
    Siblings s;
    s.add(t, el.children, false);
    for (const std::string& name : s.order) {
      const auto& list = s.by_name[name].first;
      for (std::size_t i = 0; i < list.size(); ++i) {
        path += "/" + step(name, i, list.size());
        lone(t, list[i], new_side, role, in_record || role == Role::record, depth + 1, path);
        path.resize(at);
      }
    }
  }

  void pair(std::uint32_t ea, std::uint32_t eb, Role parent, bool in_record, std::size_t depth, std::string& path) {
    const Element& x = a_.elements[ea];
    const Element& y = b_.elements[eb];
    const Role role = role_of(k_, parent, in_record, x.name, depth);
    if (role == Role::passed) return;
    if (!text_kept(role) && x.text != y.text)
      report(x.line, y.line, path, x.text.empty() && role == Role::unread ? nullptr : &x.text,
             y.text.empty() && role == Role::unread ? nullptr : &y.text);
    const std::size_t at = path.size();
    // Attributes, both sorted by name.
    std::size_t i = 0, j = 0;
    while (i < x.attributes.size() || j < y.attributes.size()) {
      const bool in_x =
          i < x.attributes.size() && (j >= y.attributes.size() || x.attributes[i].first <= y.attributes[j].first);
      const bool in_y =
          j < y.attributes.size() && (i >= x.attributes.size() || y.attributes[j].first <= x.attributes[i].first);
      const std::string& name = in_x ? x.attributes[i].first : y.attributes[j].first;
      const std::string* va = in_x ? &x.attributes[i].second : nullptr;
      const std::string* vb = in_y ? &y.attributes[j].second : nullptr;
      if (!attribute_kept(k_, role, name) && !(va && vb && *va == *vb)) {
        path += "@" + name;
        report(x.line, y.line, path, va, vb);
        path.resize(at);
      }
      i += in_x;
      j += in_y;
    }
    Siblings s;
    s.add(a_, x.children, false);
    s.add(b_, y.children, true);
    const bool inner = in_record || role == Role::record;
    for (const std::string& name : s.order) {
      const auto& lists = s.by_name[name];
      const std::size_t n = std::max(lists.first.size(), lists.second.size());
      for (std::size_t k = 0; k < n; ++k) {
        path += "/" + step(name, k, n);
        if (k < lists.first.size() && k < lists.second.size())
          pair(lists.first[k], lists.second[k], role, inner, depth + 1, path);
        else if (k < lists.first.size())
          lone(a_, lists.first[k], false, role, inner, depth + 1, path);
        else
          lone(b_, lists.second[k], true, role, inner, depth + 1, path);
        path.resize(at);
      }
    }
  }

  const Tree& a_;
  const Tree& b_;
  const Keeps& k_;
  std::function<void(const Unread&)> out_;
  bool listing_ = false;
};

// What a diff adds after the records (Document::report).
using Unreads =
    std::function<bool(const std::unordered_set<std::string>& shown, Lines& lines, nlohmann::json& json_list)>;

// A document read: its name, its family (as messages call it) and records.
struct Document {
  std::string name;  // as the user gave it
  virtual ~Document() = default;
  virtual const char* family() const = 0;
  // Compares this (old) document with `newer`, of the same family, and
  // prints the differences of the records, then (unless `unread` is null)
  // what `unread` adds: it is given every change of one value to another
  // that the records show (change_key), the lines and, with `json`, the
  // array to fill, and says whether it found any. True when the records
  // differ or `unread` found some.
  virtual bool report(const Document& newer, bool json, const Unreads* unread) const = 0;
  // Prints every record's values, by identity.
  virtual void show() const = 0;
};

template <class R>
struct DocumentOf : Document {
  // A record and its identity; kept in the order of identities, records of
  // one identity in document order.
  struct Keyed {
    std::string identity;
    const R* record;
  };
  qal3::records::OwnedList<R> list;
  std::vector<Keyed> keyed;

  const char* family() const override { return Description<R>::document; }

  void sort() {
    keyed.reserve(list.items.size());
    for (const R* r : list.items)
      if (r) keyed.push_back({identity_of(*r), r});
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const Keyed& x, const Keyed& y) { return x.identity < y.identity; });
  }

  // The end of the run of one identity that starts at `from`.
  static std::size_t run_end(const std::vector<Keyed>& v, std::size_t from) {
    std::size_t to = from;
    while (to < v.size() && v[to].identity == v[from].identity) ++to;
    return to;
  }

  bool report(const Document& newer, bool json, const Unreads* unread) const override {
    std::unordered_set<std::string> seen;
    const std::vector<Keyed>& old_keyed = keyed;
    const std::vector<Keyed>& new_keyed = static_cast<const DocumentOf<R>&>(newer).keyed;
    nlohmann::json added = nlohmann::json::array(), removed = nlohmann::json::array(),
                   changed = nlohmann::json::array();
    bool different = false;
    Lines lines;
    std::string path;
    std::size_t i = 0, j = 0;
    while (i < old_keyed.size() || j < new_keyed.size()) {
      // The next identity of either document, with its records in each.
      const bool in_old =
          i < old_keyed.size() && (j >= new_keyed.size() || old_keyed[i].identity <= new_keyed[j].identity);
      const bool in_new =
          j < new_keyed.size() && (i >= old_keyed.size() || new_keyed[j].identity <= old_keyed[i].identity);
      const std::string& identity = in_old ? old_keyed[i].identity : new_keyed[j].identity;
      const std::size_t old_end = in_old ? run_end(old_keyed, i) : i;
      const std::size_t new_end = in_new ? run_end(new_keyed, j) : j;
      const std::size_t n_old = old_end - i, n_new = new_end - j, n = std::max(n_old, n_new);
      for (std::size_t k = 0; k < n; ++k) {
        const std::string name = label(identity, k, n);
        if (k >= n_new) {
          different = true;
          if (json)
            removed.push_back(name);
          else
            lines.add("removed\t" + cli::one_line(name) + "\n");
        } else if (k >= n_old) {
          different = true;
          if (json)
            added.push_back(name);
          else
            lines.add("added\t" + cli::one_line(name) + "\n");
        } else {
          Changes c(name, json, lines, seen);
          for (const Pass pass : {Pass::old_side, Pass::new_only})
            walk(old_keyed[i + k].record, new_keyed[j + k].record, path, pass, c);
          different = different || c.any;
          if (!c.fields.empty()) changed.push_back({{"record", name}, {"fields", std::move(c.fields)}});
        }
      }
      i = old_end;
      j = new_end;
    }
    nlohmann::json unread_json = nlohmann::json::array();
    if (unread && (*unread)(seen, lines, unread_json)) different = true;
    lines.flush();
    if (json) {
      nlohmann::json doc = {{"old", name},
                            {"new", newer.name},
                            {"family", family()},
                            {"same", !different},
                            {"added", std::move(added)},
                            {"removed", std::move(removed)},
                            {"changed", std::move(changed)}};
      if (unread) doc["unread"] = std::move(unread_json);
      cli::print_json(doc);
    }
    return different;
  }

  void show() const override {
    Lines lines;
    std::string path;
    for (std::size_t i = 0; i < keyed.size();) {
      const std::size_t end = run_end(keyed, i);
      for (std::size_t k = i; k < end; ++k) {
        const std::string name = cli::one_line(label(keyed[k].identity, k - i, end - i)) + "\t";
        Shown s(name, lines);
        walk<R>(keyed[k].record, nullptr, path, Pass::old_side, s);
      }
      i = end;
    }
  }
};

// Whether `root` is a root element of the family of R.
template <class R>
bool of_family(const std::string& root) {
  using D = Description<R>;
  return root == D::root || (D::other_root && root == D::other_root);
}

template <class R>
std::unique_ptr<Document> read_records(cli::Input& in) {
  auto doc = std::make_unique<DocumentOf<R>>();
  doc->name = in.name;
  auto& list = doc->list;
  // A named file is read by the file reader, as the chan commands read it.
  if (!cli::read_records(in, &list.items, {}, true)) return nullptr;
  doc->sort();
  return doc;
}

// Reads the document `in` by the family the library finds its root element
// to name; null (message printed) when it is of none or cannot be read.
std::unique_ptr<Document> read_document(cli::Input& in) {
  const cli::Root root = cli::root_of(in);
  bool found = false;
  std::unique_ptr<Document> doc;
  std::apply(
      [&](auto... family) {
        found = (... || (root.family != QAL3_FAMILY_UNKNOWN && of_family<typename decltype(family)::type>(root.name) &&
                         (doc = read_records<typename decltype(family)::type>(in), true)));
      },
      qal3::records::Families{});
  if (!found)
    cli::root_error(in, root,
                    root.name.empty() ? "no root element: not a configuration document"
                                      : "root element '" + root.name + "' is of no configuration document family");
  return doc;
}

// The text of a value of an unread difference on one line; (none) when
// there is none.
std::string unread_cell(const std::string* v) { return v ? cli::one_line(*v) : std::string(kNone); }

int diff(const cli::CommandInfo& command_info, int argc, char** argv) {
  cli::Args args;
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  if (args.operands.size() != 2) return cli::usage_error(command_info.name, "give two documents: OLD and NEW");
  if (cli::stdin_once(command_info.name, args.operands) >= 0) return cli::kUsage;
  const bool records_only = args.has("records-only");
  std::unique_ptr<Document> docs[2];
  Tree trees[2];
  for (int i = 0; i < 2; ++i) {
    cli::Input in;
    if (!cli::read_input(args.operands[i], args.max_input, in) || !(docs[i] = read_document(in))) return kTrouble;
    std::string error;
    if (!records_only && !read_tree(in.text, in.name, trees[i], error)) {
      cli::flush_stdout();
      std::fprintf(stderr, "qal3 diff: %s: %s\n", cli::one_line(in.name).c_str(), cli::one_line(error).c_str());
      return kTrouble;
    }
  }
  if (std::strcmp(docs[0]->family(), docs[1]->family()) != 0) {
    cli::flush_stdout();
    std::fprintf(stderr, "qal3 diff: %s is %s and %s %s: documents of different families are not compared\n",
                 cli::one_line(docs[0]->name).c_str(), docs[0]->family(), cli::one_line(docs[1]->name).c_str(),
                 docs[1]->family());
    return kTrouble;
  }
  // The trees of one family's two formats differ throughout: only their
  // records are compared.
  const Keeps* keeps = records_only ? nullptr : keeps_of(trees[0].elements[0].name);
  if (keeps && trees[0].elements[0].name != trees[1].elements[0].name) keeps = nullptr;
  const std::string where[2] = {cli::one_line(docs[0]->name), cli::one_line(docs[1]->name)};
  const auto at = [](const std::string& file, long long line) {
    return file + ":" + (line > 0 ? std::to_string(line) : std::string("-"));
  };
  // A difference of two values that some record shows changing the same
  // way is the records' (a reader that keeps more than the table says).
  const Unreads unreads = [&](const std::unordered_set<std::string>& shown, Lines& lines, nlohmann::json& list) {
    if (!keeps) return false;
    bool any = false;
    TreeDiff(trees[0], trees[1], *keeps, [&](const Unread& u) {
      if (u.old_value && u.new_value && shown.count(change_key(*u.old_value, *u.new_value))) return;
      any = true;
      if (args.json) {
        const auto value = [](const std::string* t) { return t ? nlohmann::json(*t) : nlohmann::json(); };
        const auto line = [](long long n) { return n > 0 ? nlohmann::json(n) : nlohmann::json(); };
        list.push_back({{"path", u.path},
                        {"old", value(u.old_value)},
                        {"new", value(u.new_value)},
                        {"old_line", line(u.old_line)},
                        {"new_line", line(u.new_line)}});
      } else {
        lines.add("unread\t" + at(where[0], u.old_line) + " / " + at(where[1], u.new_line) + "\t" +
                  cli::one_line(u.path) + "\t" + unread_cell(u.old_value) + "\t" + unread_cell(u.new_value) + "\n");
      }
    }).run();
    return any;
  };
  return docs[0]->report(*docs[1], args.json, records_only ? nullptr : &unreads) ? kDifferent : kSame;
}

}  // namespace

int cmd_show(const cli::CommandInfo& command_info, int argc, char** argv) {
  cli::Args args;
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  if (args.operands.size() != 1) return cli::usage_error(command_info.name, "give one document");
  cli::Input in;
  if (!cli::read_input(args.operands[0], args.max_input, in)) return cli::kBadDocument;
  const std::unique_ptr<Document> doc = read_document(in);
  // Anything else is shown as it is, so that a textconv never fails.
  if (!doc) return cli::put(in.text), cli::kOk;
  // What the readers do not keep follows the records, so that a change of
  // it shows too; a document the tree reader refuses shows its records only.
  Tree tree;
  std::string error;
  const Keeps* keeps = nullptr;
  if (read_tree(in.text, in.name, tree, error)) keeps = keeps_of(tree.elements[0].name);
  in.text = std::string();
  doc->show();
  if (keeps) {
    Lines lines;
    TreeDiff(tree, tree, *keeps, [&](const Unread& u) {
      lines.add("unread\t" + cli::one_line(u.path) + "\t" + cli::one_line(*u.new_value) + "\n");
    }).list();
  }
  return cli::kOk;
}

int cmd_diff(const cli::CommandInfo& command_info, int argc, char** argv) {
  try {
    return diff(command_info, argc, argv);
  } catch (const std::exception& e) {
    cli::flush_stdout();
    std::fprintf(stderr, "qal3 diff: %s\n", e.what());
    return kTrouble;
  }
}
