// Reading a configuration document for checking: its family (by the root
// element), validation against the family's XML Schema with Xerces-C, and
// the element tree with source positions for the checks that follow.
#ifndef QAL3_CHECK_DOCUMENT_H
#define QAL3_CHECK_DOCUMENT_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qal3_family.h"

namespace check {

enum class Severity { kWarning, kError };

// One thing found in a document. Line and column count from 1; 0 when the
// finding has no position (the file cannot be read at all).
struct Finding {
  int line = 0;
  int column = 0;
  Severity severity = Severity::kError;
  std::string message;
  bool from_schema = false;  // reported by the schema validation
  // The kind of finding, a static string (qal3_check_finding::code).
  const char* code = "schema";
};

// "FILE:LINE:COLUMN: error: message" (the position left out when unknown), on
// one line (cli::one_line's rule: text_field.h, backslash escaped).
std::string format_finding(const std::string& file, const Finding& f);

enum class Family { kUnknown, kEventList, kChanDescriptions, kDaqVariables, kEnvDict, kTriggerList, kGigE };

// Root element, schema file name and short name of each family, and the
// library's code of it (qal3_family.h).
struct FamilyInfo {
  Family family;
  const char* root;
  const char* schema;
  const char* name;
  qal3_family code;
};
const std::vector<FamilyInfo>& families();
const FamilyInfo* family_info(Family f);

// A position in the document.
struct Position {
  int line = 0;
  int column = 0;
};

class Tree;  // the elements of a document (check_document.cpp)

// An attribute of an element, as read (the value in UTF-8), with the offset
// of its value in the source when found there.
struct Attribute {
  std::string_view name;
  std::string_view value;
  std::size_t value_offset = std::string::npos;
};

// One element of a document's tree: a handle, cheap to copy, valid as long
// as its document. A default-made Node names no element (false).
class Node {
 public:
  class Children;

  Node() = default;
  Node(const Tree* tree, std::uint32_t index) : tree_(tree), index_(index) {}
  explicit operator bool() const { return tree_ != nullptr; }
  bool operator==(const Node& o) const { return tree_ == o.tree_ && index_ == o.index_; }

  std::string_view name() const;
  // All character data directly inside the element.
  std::string_view text() const;
  // The text's start up to the first child element (the number of BIT, DIM
  // and STAT, the name of SBLOCK).
  std::string_view lead() const;

  Position tag() const;          // the '<' of the start tag
  Position value() const;        // the first non-blank character of the element's text
  Position after_start() const;  // just after the start tag, as Xerces reports it
  Position after_end() const;    // just after the end tag
  // The same as byte offsets in the source: the '<' of the start tag, just
  // after the start tag, just after the end tag (for an empty-element tag,
  // both after it); npos where not known.
  std::size_t tag_offset() const;
  std::size_t after_start_offset() const;
  std::size_t after_end_offset() const;

  std::size_t attribute_count() const;
  Attribute attribute_at(std::size_t i) const;
  // The attribute named `attr`, if given.
  std::optional<Attribute> attribute(std::string_view attr) const;

  Children children() const;
  bool has_children() const;
  // The first child element named `child_name`; none when there is none.
  Node child(std::string_view child_name) const;

 private:
  const Tree* tree_ = nullptr;
  std::uint32_t index_ = 0;
};

// The child elements of a node, in document order.
class Node::Children {
 public:
  class iterator {
   public:
    iterator(const Tree* tree, std::uint32_t index) : tree_(tree), index_(index) {}
    Node operator*() const { return Node(tree_, index_); }
    iterator& operator++();
    bool operator!=(const iterator& o) const { return index_ != o.index_; }

   private:
    const Tree* tree_;
    std::uint32_t index_;
  };
  Children(const Tree* tree, std::uint32_t first, std::uint32_t end) : tree_(tree), first_(first), end_(end) {}
  iterator begin() const { return {tree_, first_}; }
  iterator end() const { return {tree_, end_}; }

 private:
  const Tree* tree_;
  std::uint32_t first_;
  std::uint32_t end_;
};

// A document read for checking.
class Document {
 public:
  // `bytes` must outlive the document.
  Document(std::string file, std::string_view bytes);
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // Finds the family, validates against its schema and builds the tree.
  // Findings go to `out`; false when the document could not be read far
  // enough for further checks (not well-formed, unknown root element).
  bool read(std::vector<Finding>& out);

  Family family() const { return family_; }
  // The root element; none before read() or when the document has none.
  Node root() const;
  // Position of the value of attribute `attr` of `node` (the tag's position
  // when it cannot be found in the source).
  Position attribute_position(const Node& node, std::string_view attr) const;
  Position attribute_position(const Node& node, const Attribute& attr) const;

  class Source;  // the bytes, for positions

 private:
  void locate(Finding& f) const;

  std::string file_;
  std::unique_ptr<Source> source_;
  Family family_ = Family::kUnknown;
  std::unique_ptr<Tree> tree_;
};

// The text of the schema file named `name` (FamilyInfo::schema), as the
// library holds it (made from the project's schema folder); empty for a
// name of none.
std::string_view schema_text(std::string_view name);

}  // namespace check

#endif  // QAL3_CHECK_DOCUMENT_H
