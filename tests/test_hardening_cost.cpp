// The cost of a hostile or merely large document: every reader (documents
// in memory and files), the GigE reader and check read it with allocations
// bounded by a few times its size, and refuse what passes a limit with a
// counted error. Cost is counted in allocated bytes, not in time, so that the
// outcome does not depend on the machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "alloc_fault.h"
#include "check_document.h"
#include "check_rules.h"
#include "document_limits.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "qal3_gige_descr.h"
#include "test_util.h"
#include "user_case_trigger.h"

namespace {

// A list of records of type T, destroyed with the reader's own clean-up.
template <class T>
struct Records {
  std::vector<T*> v;
  std::function<void(std::vector<T*>*)> clean;
  ~Records() { clean(&v); }
};

// Reads `text` (a document, or the path of a file holding it); true when
// the reader refused it.
using Reader = std::function<bool(char* text)>;

struct Family {
  const char* name;
  const char* root;
  Reader memory;  // null: the family reads files only
  Reader file;    // null: the family reads memory only
  // What a read may allocate per byte of the document. check validates
  // and words a message for each schema error: linear still, with a larger
  // factor.
  std::size_t factor;
};

template <class T, class Read, class Clean>
Reader reader(Read read, Clean clean) {
  return [read, clean](char* text) {
    Records<T> r{{}, clean};
    return static_cast<bool>(read(text, &r.v));
  };
}

const std::vector<Family>& families() {
  static const std::vector<Family> all = [] {
    auto ev_clean = [](std::vector<qal3_ev_entry*>* l) { qal3_clean_ev_list(l); };
    auto chan_clean = [](std::vector<chan_descr_2010*>* l) { clean_chan_desr_list(l); };
    auto chan_read = [](char* x, std::vector<chan_descr_2010*>* l) {
      return parse_descr_list_read(x, l, false, false);
    };
    auto chan_readf = [](char* f, std::vector<chan_descr_2010*>* l) {
      return parse_descr_list_readf(f, l, false, false);
    };
    auto env_clean = [](auto* l) {
      for (auto* e : *l) std::free(e);
      l->clear();
    };
    auto trig_clean = [](std::vector<qal3_user_case_trigger*>* l) {
      for (auto* t : *l) QAL3_FREE_USER(t);
      l->clear();
    };
    auto gige_clean = [](std::vector<QAL3GigEFeature*>* l) { qal3_clean_gige_descr(l); };
    // check refuses a document when it finds an error in it.
    Reader check = [](char* text) {
      const std::string bytes(text);
      check::Document document("cost.xml", bytes);
      std::vector<check::Finding> findings;
      document.read(findings);
      return std::any_of(findings.begin(), findings.end(),
                         [](const check::Finding& f) { return f.severity == check::Severity::kError; });
    };
    return std::vector<Family>{
        {"evlist", "BMR", reader<qal3_ev_entry>(qal3_parse_ev_list_read, ev_clean),
         reader<qal3_ev_entry>(qal3_parse_ev_list_readf, ev_clean), 8},
        {"chan", "CHANDESCRIPTIONS", reader<chan_descr_2010>(chan_read, chan_clean),
         reader<chan_descr_2010>(chan_readf, chan_clean), 8},
        {"daqvariables", "DAQvariables", reader<chan_descr_2010>(chan_read, chan_clean),
         reader<chan_descr_2010>(chan_readf, chan_clean), 8},
        {"envdict", "ENVINDEXDICT", reader<qal3_env_index_dictionary_entry>(parse_env_index_dict_list_read, env_clean),
         reader<qal3_env_index_dictionary_entry>(parse_env_index_dict_readf, env_clean), 8},
        {"envdict2010", "ENVINDEXDICT",
         reader<qal3_env_index_dictionary_entry_2010>(parse_env_index_dict_list_read_2010, env_clean),
         reader<qal3_env_index_dictionary_entry_2010>(parse_env_index_dict_readf_2010, env_clean), 8},
        {"trigger", "QAL3USERTRIGGERLIST", reader<qal3_user_case_trigger>(parse_trigger_list_read, trig_clean),
         reader<qal3_user_case_trigger>(parse_trigger_list_readf, trig_clean), 8},
        {"gige", "RegisterDescription", nullptr, reader<QAL3GigEFeature>(qal3_fill_gige_descr, gige_clean), 8},
        {"check", "BMR", check, nullptr, 48},
    };
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
