// Reading a configuration document for checking: its family (by the root
// element), validation against the family's XML Schema with Xerces-C, and
// the element tree with source positions for the checks that follow.
#ifndef QAL3_CHECK_DOCUMENT_H
#define QAL3_CHECK_DOCUMENT_H

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
};

// "FILE:LINE:COLUMN: error: message" (the position left out when unknown).
std::string format_finding(const std::string& file, const Finding& f);

enum class Family { kUnknown, kEventList, kChanDescriptions, kDaqVariables, kEnvDict, kTriggerList };

// Root element, schema file name and short name of each family.
struct FamilyInfo {
  Family family;
  const char* root;
  const char* schema;
  const char* name;
};
const std::vector<FamilyInfo>& families();
const FamilyInfo* family_info(Family f);

// A position in the document.
struct Position {
  int line = 0;
  int column = 0;
};

struct Attribute {
  std::string name;
  std::string value;  // UTF-8
  std::size_t value_offset = std::string::npos;  // of the value in the source, when found there
};

// One element. `text` is all character data directly inside the element;
// lead() is its start up to the first child element (the number of BIT, DIM
// and STAT, the name of SBLOCK).
struct Node {
  std::string name;
  std::vector<Attribute> attributes;
  std::string text;
  std::size_t lead_size = 0;
  Position tag;    // the '<' of the start tag
  Position value;  // the first non-blank character of the element's text
  Position after_start;  // just after the start tag, as Xerces reports it
  Position after_end;    // just after the end tag
  const Node* parent = nullptr;
  std::vector<std::unique_ptr<Node>> children;

  std::string lead() const { return text.substr(0, lead_size); }
  const Attribute* attribute(const std::string& attr) const;
  // The first child element named `child`, or null.
  const Node* child(const std::string& child_name) const;
};

// A document read for checking.
class Document {
 public:
  // `bytes` must outlive the document.
  Document(std::string file, std::string_view bytes);
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // Finds the family, validates against its schema in `schema_dir` and
  // builds the tree. Findings go to `out`; false when the document could
  // not be read far enough for further checks (not well-formed, unknown
  // root element, schema missing).
  bool read(const std::string& schema_dir, std::vector<Finding>& out);

  Family family() const { return family_; }
  const Node* root() const { return root_.get(); }
  // Position of the value of attribute `attr` of `node` (the tag's position
  // when it cannot be found in the source).
  Position attribute_position(const Node& node, const std::string& attr) const;
  Position attribute_position(const Node& node, const Attribute& attr) const;

  class Source;  // the bytes, for positions

 private:
  void locate(Finding& f) const;

  std::string file_;
  std::unique_ptr<Source> source_;
  Family family_ = Family::kUnknown;
  std::unique_ptr<Node> root_;
};

// The directory holding the installed schemas: <executable>/../share/qal3/schema
// (the build tree has a copy in the same place, next to the built tool).
std::string schema_directory();

}  // namespace check

#endif  // QAL3_CHECK_DOCUMENT_H
