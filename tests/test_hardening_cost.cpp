// The cost of a hostile or merely large document: every reader (documents
// in memory and files), the GigE reader and check read it with allocations
// bounded by a few times its size, and refuse what passes a limit with a
// counted error. Cost is counted in allocated bytes, not in time, so that the
// outcome does not depend on the machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "alloc_fault.h"
#include "check_document.h"
#include "check_rules.h"
#include "document_limits.h"
#include "record_fields.h"
#include "test_util.h"

namespace {

// Reads `text` (a document, or the path of a file holding it); true when
// the reader refused it.
using Reader = std::function<bool(char* text)>;

struct Family {
  const char* name;
  const char* root;
  Reader memory;
  Reader file;  // null: the family reads memory only
  // What a read may allocate per byte of the document. check validates
  // and words a message for each schema error: linear still, with a larger
  // factor.
  std::size_t factor;
};

// The reader of the family of R, from memory or from a file.
template <class R>
Reader reader(bool from_file) {
  using D = qal3::records::Description<R>;
  return [from_file](char* text) {
    qal3::records::OwnedList<R> list;
    return (from_file ? D::read_file(text, &list.items, {}) : D::read_text(text, std::strlen(text), &list.items, {})) !=
           0;
  };
}

// Every family under each of its roots, and check.
const std::vector<Family>& families() {
  static const std::vector<Family> all = [] {
    std::vector<Family> out;
    const auto add = [&](auto tag) {
      using R = typename decltype(tag)::type;
      using D = qal3::records::Description<R>;
      for (const char* root : {D::root, D::other_root})
        if (root) out.push_back({D::document, root, reader<R>(false), reader<R>(true), 8});
    };
    std::apply([&](auto... tag) { (add(tag), ...); }, qal3::records::Families{});
    // check refuses a document when it finds an error in it.
    Reader check = [](char* text) {
      const std::string bytes(text);
      check::Document document("cost.xml", bytes);
      std::vector<check::Finding> findings;
      document.read(findings);
      return std::any_of(findings.begin(), findings.end(),
                         [](const check::Finding& f) { return f.severity == check::Severity::kError; });
    };
    out.push_back({"check", "BMR", check, nullptr, 48});
    return out;
  }();
  return all;
}

std::string repeat(const std::string& s, std::size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

// An internal DTD declaring every element and an attribute `a` of X, and
// the entity e of `size` characters.
std::string dtd(const std::string& root, std::size_t size) {
  return "<?xml version=\"1.0\"?>\n<!DOCTYPE " + root + " [<!ELEMENT " + root + " ANY><!ELEMENT X ANY>" +
         "<!ATTLIST X a CDATA #IMPLIED><!ENTITY e \"" + std::string(size, 'x') + "\">]>\n";
}

struct Case {
  const char* name;
  std::string (*document)(const std::string& root);
  bool refused;           // the document must end as a counted error
  std::size_t scale = 1;  // times the family's factor a byte of the document may cost
  std::size_t added = 0;  // bytes beyond that: the cost of what the DTD may add
};

// 20,000 characters expanded 900 times: 18 million characters.
std::string amplified_attribute(const std::string& root) {
  return dtd(root, 20000) + "<" + root + "><X a=\"" + repeat("&e;", 900) + "\"/></" + root + ">\n";
}
std::string amplified_text(const std::string& root) {
  return dtd(root, 20000) + "<" + root + "><X>" + repeat("&e;", 900) + "</X></" + root + ">\n";
}
// All on one line: a minified document.
std::string siblings(const std::string& root) {
  return "<" + root + ">" + repeat("<X a=\"1\">t</X>", 100000) + "</" + root + ">";
}
std::string deep(const std::string& root) {
  return "<" + root + ">" + repeat("<X>", 100000) + repeat("</X>", 100000) + "</" + root + ">";
}
// A default value of a million characters, built once from the entity, that
// 20,000 elements take: 20 billion characters without the budget.
std::string default_attributes(const std::string& root) {
  return "<?xml version=\"1.0\"?>\n<!DOCTYPE " + root + " [<!ELEMENT " + root + " ANY><!ELEMENT X ANY>" +
         "<!ENTITY e \"" + std::string(4000, 'x') + "\"><!ATTLIST X a CDATA \"" + repeat("&e;", 256) + "\">]>\n<" +
         root + ">" + repeat("<X/>", 20000) + "</" + root + ">\n";
}
std::string distinct_names(const std::string& root) {
  std::string doc = "<" + root + ">";
  for (int i = 0; i < 100000; ++i) doc += "<N" + std::to_string(i) + "/>";
  return doc + "</" + root + ">";
}
std::string long_name(const std::string& root) {
  return "<" + root + "><" + std::string(std::size_t{1} << 20, 'N') + "/></" + root + ">";
}

const Case kCases[] = {
    {"entity amplification in an attribute", amplified_attribute, true},
    {"entity amplification in text", amplified_text, true},
    {"100,000 siblings on one line", siblings, false},
    {"100,000 levels of nesting", deep, true},
    // What the DTD adds is bounded by its budget, not by the document: each
    // expansion reads through a reader of its own (some 200 KB, given back
    // at its end), each default value is copied into the element.
    {"a default attribute value taken 20,000 times", default_attributes, true, 1, 64 * qal3::limits::kMaxAddedUnits},
    {"100,000 distinct element names", distinct_names, true},
    // The scanner holds a name in UTF-16, and keeps a copy, before its
    // limit can see it.
    {"an element name of a million characters", long_name, true, 2},
};

// What a read may allocate: a few times the document, plus the parser's own
// set-up.
std::size_t budget(const Family& f, const Case& c, std::size_t input) {
  return c.scale * f.factor * input + c.added + (std::size_t{1} << 20);
}

TEST(ReadCost, EveryReaderIsBoundedByItsInput) {
  for (const Case& c : kCases) {
    for (const Family& f : families()) {
      std::string doc = c.document(f.root);
      testutil::TempFile file(doc);
      const std::pair<const char*, const Reader*> ways[] = {{"memory", &f.memory}, {"file", &f.file}};
      for (const auto& way : ways) {
        if (!*way.second) continue;
        std::string text = way.second == &f.memory ? doc : file.path();
        bool refused = false;
        std::size_t bytes = 0;
        testutil::capture_stdout([&] {
          testutil::capture_stderr([&] {
            allocfault::Armed counting(0);
            refused = (*way.second)(&text[0]);
            bytes = allocfault::allocated_bytes();
          });
        });
        SCOPED_TRACE(std::string(c.name) + ", " + f.name + ", " + way.first);
        if (c.refused) {
          EXPECT_TRUE(refused);
        }
        EXPECT_LE(bytes, budget(f, c, doc.size())) << "input " << doc.size() << " bytes";
      }
    }
  }
}

// check holds a document of many small elements (the densest kind: 16
// bytes an element) in a small multiple of its size, not in a heap block
// or more per element.
TEST(ReadCost, CheckHoldsSmallElementsCompactly) {
  const std::string doc =
      "<?xml version=\"1.0\"?><BMR>" +
      repeat("<EVENT><TYPE>1</TYPE><SBLOCK>B<CHLIST><CHAN>C.1/X</CHAN></CHLIST></SBLOCK></EVENT>", 25000) + "</BMR>";
  const std::size_t before = allocfault::heap_in_use();
  check::Document document("events.xml", doc);
  std::vector<check::Finding> findings;
  ASSERT_TRUE(document.read(findings));
  EXPECT_TRUE(findings.empty());
  const std::size_t held = allocfault::heap_in_use() - before;
  EXPECT_LE(held, 3 * doc.size()) << "input " << doc.size() << " bytes";
}

}  // namespace
