// Tag-writing helpers, escaping, the declaration and the ISO date.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "SAX_Memory_Parser.h"
#include "attr_tags_functions.h"
#include "parse_chan_descr.h"

namespace {

TEST(Writing, TagFunctions) {
  std::string s;
  START_TAG(s, "BMR");
  EXPECT_EQ(s, "<BMR>");
  START_TAGN(s, "A");
  END_TAG(s, "A");
  END_TAGN(s, "BMR");
  EXPECT_EQ(s, "<BMR><A>\n</A></BMR>\n");

  char n1[] = "name", n2[] = "units", v1[] = "X", v2[] = "mm";
  std::vector<char*> at = {n1, n2};
  std::vector<char*> v = {v1, v2};
  s.clear();
  START_TAG_ATTRN(s, "CHAN", &at, &v);
  START_TAG_ATTRNNS(s, "CHAN", &at, &v);
  START_TAG_ATTRNS(s, "CHAN", &at, &v);
  START_TAG_ATTR(s, "CHAN", &at, &v);
  EXPECT_EQ(s,
            "<CHAN name=\"X\" units=\"mm\"/>\n<CHAN name=\"X\" units=\"mm\">\n"
            "<CHAN name=\"X\" units=\"mm\"><CHAN name=\"X\" units=\"mm\"/>");

  std::vector<char*> none;
  s.clear();
  START_TAG_ATTR(s, "X", &none, &none);
  START_TAG_ATTRNS(s, "X", &none, &none);
  EXPECT_EQ(s, "<X /><X >");

  // Values are copied verbatim; extra values are ignored; too few throw
  // before anything past the end is read.
  char raw[] = "a&b<\"c";
  std::vector<char*> one = {n1};
  std::vector<char*> vals = {raw, v2};
  s.clear();
  START_TAG_ATTR(s, "X", &one, &vals);
  EXPECT_EQ(s, "<X name=\"a&b<\"c\"/>");
  std::vector<char*> short_v;
  EXPECT_THROW(START_TAG_ATTR(s, "X", &one, &short_v), std::out_of_range);
}

TEST(Writing, EscapedTextReadsBackUnchanged) {
  const char* texts[] = {"Tom & Jerry <x>", "\"quoted\" 'single'", "a\tb\nc\rd", "]]>", "&amp;", "  lead"};
  for (const char* text : texts) {
    std::string doc = "<R a=\"";
    xml_escape(doc, text);
    doc += "\">";
    doc += xml_escaped(text);
    doc += "</R>";
    SAX_Memory_Parser p(&doc[0]);
    ASSERT_FALSE(p.start());
    char* t = nullptr;
    char* v = nullptr;
    ASSERT_EQ(p.parse(&t, &v), 0);
    char name[] = "a";
    char* a = nullptr;
    ASSERT_EQ(p.get_attr(name, &a), 0);
    EXPECT_STREQ(a, text);
    ASSERT_EQ(p.parse(&t, &v), 0);
    EXPECT_STREQ(v, text) << doc;
  }
  std::string s = "x";
  xml_escape(s, nullptr);
  EXPECT_EQ(s, "x");
  EXPECT_EQ(xml_escaped("<&>\""), "&lt;&amp;&gt;&quot;");
}

// The parsers hand out UTF-8 while the documents declare ISO-8859-1: every
// non-ASCII character goes out as a character reference, so that it reads
// back as the same character.
TEST(Writing, NonAsciiTextGoesOutAsCharacterReferences) {
  EXPECT_EQ(xml_escaped("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"), "caf&#233; &#8364; &#128512;");
  // Bytes that start no valid UTF-8 sequence (ISO-8859-1 text, an overlong
  // form, a surrogate, a cut sequence) stand for their ISO-8859-1 character.
  EXPECT_EQ(xml_escaped("\xe9t\xe9"), "&#233;t&#233;");
  EXPECT_EQ(xml_escaped("\xc0\x80"), "&#192;&#128;");
  EXPECT_EQ(xml_escaped("\xed\xa0\x80"), "&#237;&#160;&#128;");
  EXPECT_EQ(xml_escaped("a\xe2\x82"), "a&#226;&#130;");
  // What an XML 1.0 document cannot hold at all (control characters, read
  // from an XML 1.1 document) becomes '?', so the document stays readable.
  EXPECT_EQ(xml_escaped("a\x01"
                        "b\x1f\x7f\xef\xbf\xbf"),
            "a?b?\x7f?");
  for (const char* text : {"caf\xc3\xa9", "\xe2\x82\xac & \xf0\x9f\x98\x80", "\xc2\xa0x"}) {
    std::string doc = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?><R>";
    xml_escape(doc, text);
    doc += "</R>";
    SAX_Memory_Parser p(&doc[0]);
    ASSERT_FALSE(p.start());
    char* t = nullptr;
    char* v = nullptr;
    ASSERT_EQ(p.parse(&t, &v), 0);
    ASSERT_EQ(p.parse(&t, &v), 0);
    EXPECT_STREQ(v, text) << doc;
  }
}

TEST(Writing, DeclarationAndIsoDate) {
  std::string s = "old content";
  set_xml_header(s);
  EXPECT_EQ(s, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n");
  EXPECT_EQ(s.size(), 45u);

  std::string d;
  add_iso_date(d);
  EXPECT_TRUE(std::regex_match(d, std::regex("\t<isodate>\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d</isodate>\n"))) << d;

  char buf[64] = "unchanged";
  time_t epoch_day = 86400 * 365;
  setenv("TZ", "UTC", 1);
  tzset();
  create_isodate(buf, &epoch_day);
  EXPECT_STREQ(buf, "1971-01-01T00:00:00");
  create_isodate(nullptr, &epoch_day);
  create_isodate(nullptr);
  create_isodate(buf);
  EXPECT_EQ(std::strlen(buf), 19u);
}

}  // namespace
