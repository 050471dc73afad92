// A document's family, named by its root element (qal3_family.h): from
// memory and from a file, in every encoding and prolog the readers take.
#include <gtest/gtest.h>

#include <string>

#include "qal3_family.h"
#include "qal3_messages.h"
#include "test_util.h"

namespace {

// `ascii` in UTF-16, little or big endian, after a byte order mark when `bom`.
std::string utf16(const std::string& ascii, bool little, bool bom) {
  std::string out = bom ? (little ? "\xFF\xFE" : "\xFE\xFF") : "";
  for (const char c : ascii) {
    out += little ? c : '\0';
    out += little ? '\0' : c;
  }
  return out;
}

const std::string kDecl16 = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n";

TEST(Family, NamedByTheRootAsTheReadersTakeIt) {
  const struct {
    std::string doc;
    qal3_family family;
    const char* root;
  } rows[] = {
      {"<BMR/>", QAL3_FAMILY_EVENT_LIST, "BMR"},
      {"\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<CHANDESCRIPTIONS><CHANNEL/>", QAL3_FAMILY_CHAN_DESCRIPTIONS,
       "CHANDESCRIPTIONS"},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><DAQvariables a=\"\xE9\">", QAL3_FAMILY_DAQ_VARIABLES,
       "DAQvariables"},
      {utf16(kDecl16 + "<ENVINDEXDICT></ENVINDEXDICT>", true, true), QAL3_FAMILY_ENV_DICT, "ENVINDEXDICT"},
      {utf16("<QAL3USERTRIGGERLIST>\n</QAL3USERTRIGGERLIST>", false, true), QAL3_FAMILY_TRIGGER_LIST,
       "QAL3USERTRIGGERLIST"},
      {utf16(kDecl16 + "<BMR/>", true, false), QAL3_FAMILY_EVENT_LIST, "BMR"},
      // Markup-like text in the internal subset and in comments and PIs before the root.
      {"<!DOCTYPE RegisterDescription [<!ENTITY e \"]<x>\"><!-- ] <y> --><!ELEMENT RegisterDescription ANY>]>"
       "<RegisterDescription>&e;",
       QAL3_FAMILY_GIGE, "RegisterDescription"},
      {"<!-- <BMR> --><?pi <x>?>\n<QAL3USERTRIGGERLIST\n version=\"1\" >", QAL3_FAMILY_TRIGGER_LIST,
       "QAL3USERTRIGGERLIST"},
      // An external DTD is not fetched, and not needed.
      {"<!DOCTYPE BMR SYSTEM \"http://localhost:1/x.dtd\"><BMR>", QAL3_FAMILY_EVENT_LIST, "BMR"},
      // Roots of no family: named, not taken.
      {"<project><BMR/></project>", QAL3_FAMILY_UNKNOWN, "project"},
      {"<q:BMR xmlns:q=\"u\"/>", QAL3_FAMILY_UNKNOWN, "q:BMR"},
      {"<bmr/>", QAL3_FAMILY_UNKNOWN, "bmr"},
      // Named before the scan ends at what follows the root (here a NUL).
      {std::string("<BMR/>\0", 7), QAL3_FAMILY_EVENT_LIST, "BMR"},
      // No root read: not XML, empty, ended or broken before the root's start tag ends.
      {"BMR", QAL3_FAMILY_UNKNOWN, ""},
      {"", QAL3_FAMILY_UNKNOWN, ""},
      {"<?xml version=\"1.0\"?><!-- <BMR/>", QAL3_FAMILY_UNKNOWN, ""},
      {"<BMR a=\"1", QAL3_FAMILY_UNKNOWN, ""},
      {"<BMR a=\"1\" a=\"2\">", QAL3_FAMILY_UNKNOWN, ""},
      {std::string("<\0BMR/>", 7), QAL3_FAMILY_UNKNOWN, ""},
      // The readers' limits hold before the root.
      {"<!DOCTYPE BMR [<!ENTITY e \"" + std::string(5000, 'x') + "\">]><BMR/>", QAL3_FAMILY_UNKNOWN, ""},
  };
  int lines = 0;
  auto count = [&lines](const qal3_message&) { ++lines; };
  const qal3::ThreadMessageSink sink(count);
  for (const auto& row : rows) {
    const testutil::TempFile file(row.doc);
    qal3_root_element from_text, from_file;
    EXPECT_EQ(qal3_family_of_text(row.doc.data(), row.doc.size(), &from_text), row.family) << row.doc;
    EXPECT_EQ(qal3_family_of_file(file.path().c_str(), &from_file), row.family) << row.doc;
    EXPECT_STREQ(from_text.name, row.root) << row.doc;
    EXPECT_STREQ(from_file.name, row.root) << row.doc;
    EXPECT_EQ(from_file.line, from_text.line) << row.doc;
    EXPECT_EQ(from_file.column, from_text.column) << row.doc;
    EXPECT_EQ(from_text.line > 0, *row.root != '\0') << row.doc;
  }
  // Where the root's start tag ends, in lines and characters.
  qal3_root_element at;
  const std::string spread = "<!-- \xC3\xA9 -->\r\n<BMR\n  a=\"\xC3\xA9\">text";
  ASSERT_EQ(qal3_family_of_text(spread.data(), spread.size(), &at), QAL3_FAMILY_EVENT_LIST);
  EXPECT_EQ(at.line, 3);
  EXPECT_EQ(at.column, 9);
  const std::string wide = utf16(spread, true, true);
  ASSERT_EQ(qal3_family_of_text(wide.data(), wide.size(), &at), QAL3_FAMILY_EVENT_LIST);
  EXPECT_EQ(at.line, 3);
  EXPECT_EQ(lines, 0);
  // Null arguments, a file that cannot be read.
  EXPECT_EQ(qal3_family_of_text(nullptr, 5, nullptr), QAL3_FAMILY_UNKNOWN);
  EXPECT_EQ(qal3_family_of_file(nullptr, nullptr), QAL3_FAMILY_UNKNOWN);
  EXPECT_EQ(qal3_family_of_file("/nonexistent.xml", nullptr), QAL3_FAMILY_UNKNOWN);
  EXPECT_EQ(qal3_family_of_file("http://localhost:1/x.xml", nullptr), QAL3_FAMILY_UNKNOWN);
}

// The one table, both ways.
TEST(Family, RootsAndFamiliesAgree) {
  for (int f = QAL3_FAMILY_EVENT_LIST; f <= QAL3_FAMILY_TRIGGER_LIST; ++f) {
    const char* root = qal3_family_root(static_cast<qal3_family>(f));
    ASSERT_NE(root, nullptr) << f;
    EXPECT_EQ(qal3_family_of_root(root), f) << root;
  }
  EXPECT_EQ(qal3_family_root(QAL3_FAMILY_UNKNOWN), nullptr);
  EXPECT_EQ(qal3_family_root(static_cast<qal3_family>(7)), nullptr);
  EXPECT_EQ(qal3_family_of_root(nullptr), QAL3_FAMILY_UNKNOWN);
  EXPECT_EQ(qal3_family_of_root(""), QAL3_FAMILY_UNKNOWN);
}

}  // namespace
