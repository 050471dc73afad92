// The pull step of both parsers: what each parse() call reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SAX_File_Parser.h"
#include "SAX_Memory_Parser.h"
#include "test_util.h"

namespace {

struct Report {
  int rc;
  std::string tag;    // "null" when none
  std::string value;  // "null" when none
  bool operator==(const Report& o) const { return rc == o.rc && tag == o.tag && value == o.value; }
};

std::ostream& operator<<(std::ostream& os, const Report& r) {
  return os << "(" << r.rc << ", " << r.tag << ", " << r.value << ")";
}

template <class Parser>
std::vector<Report> steps(Parser& p, int limit = 1000) {
  std::vector<Report> out;
  for (int i = 0; i < limit; ++i) {
    char* t = nullptr;
    char* v = nullptr;
    const int rc = p.parse(&t, &v);
    out.push_back({rc, t ? t : "null", v ? v : "null"});
    if (rc != 0) break;
  }
  return out;
}

// Steps of a document in memory, with the steps that carry no tag removed
// (as every reader skips them) but the final result kept.
std::vector<Report> tagged_steps(const std::string& doc) {
  std::string text = doc;
  SAX_Memory_Parser p(&text[0]);
  EXPECT_TRUE(p.init_ok());
  EXPECT_FALSE(p.start());
  std::vector<Report> out;
  for (const Report& r : steps(p)) {
    if (r.rc != 0 || r.tag != "null") out.push_back(r);
  }
  return out;
}

const Report kEnd{-1, "null", "null"};

TEST(PullParser, WorkedExampleStepByStep) {
  std::string doc = "<BMR>\n<TYPE>1</TYPE>\n<CHLIST/>\n</BMR>";
  SAX_Memory_Parser p(&doc[0]);
  ASSERT_TRUE(p.init_ok());
  ASSERT_FALSE(p.start());
  const std::vector<Report> got = steps(p);
  const std::vector<Report> head = {{0, "BMR", "null"},    {0, "null", "null"}, {0, "TYPE", "null"},
                                    {0, "TYPE", "1"},      {0, "null", "null"}, {0, "null", "null"},
                                    {0, "CHLIST", "null"}, {0, "null", "null"}, {0, "null", "null"}};
  ASSERT_GE(got.size(), head.size() + 1);
  for (std::size_t i = 0; i < head.size(); ++i) EXPECT_EQ(got[i], head[i]) << "step " << i;
  for (std::size_t i = head.size(); i + 1 < got.size(); ++i) EXPECT_EQ(got[i], (Report{0, "null", "null"}));
  EXPECT_EQ(got.back(), kEnd);
  // Exhausted: every later call answers -1 with null out-pointers.
  char* t = reinterpret_cast<char*>(1);
  char* v = reinterpret_cast<char*>(1);
  EXPECT_EQ(p.parse(&t, &v), -1);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(v, nullptr);
  EXPECT_EQ(p.parse(nullptr, nullptr), -1);
  EXPECT_EQ(p.get_error_counter(), 0);
}

TEST(PullParser, ElementReportsByShape) {
  // Blank text: the element is reported once, its tag not again.
  EXPECT_EQ(tagged_steps("<R><X> \n\t </X></R>"), (std::vector<Report>{{0, "R", "null"}, {0, "X", "null"}, kEnd}));
  // Start tag right before its end tag: reported twice; empty element once.
  EXPECT_EQ(tagged_steps("<R><X></X><Y/></R>"),
            (std::vector<Report>{{0, "R", "null"}, {0, "X", "null"}, {0, "X", "null"}, {0, "Y", "null"}, kEnd}));
  // Mixed content: text after a child's end tag is never reported.
  EXPECT_EQ(
      tagged_steps("<R><A>1<B>2</B>tail</A></R>"),
      (std::vector<Report>{{0, "R", "null"}, {0, "A", "null"}, {0, "A", "1"}, {0, "B", "null"}, {0, "B", "2"}, kEnd}));
  // A comment after a start tag repeats the tag.
  EXPECT_EQ(tagged_steps("<R><X><!-- c --></X></R>"),
            (std::vector<Report>{{0, "R", "null"}, {0, "X", "null"}, {0, "X", "null"}, {0, "X", "null"}, kEnd}));
}

TEST(PullParser, TextSplitByTheSaxLayerIsJoined) {
  EXPECT_EQ(tagged_steps("<R><P>Tom &amp; Jerry &lt;x&gt;</P></R>"),
            (std::vector<Report>{{0, "R", "null"}, {0, "P", "null"}, {0, "P", "Tom & Jerry <x>"}, kEnd}));
  EXPECT_EQ(tagged_steps("<R><P>&quot;q&quot; &apos;a&apos; &#65;&#x42;</P></R>"),
            (std::vector<Report>{{0, "R", "null"}, {0, "P", "null"}, {0, "P", "\"q\" 'a' AB"}, kEnd}));
  // Leading blanks before a reference belong to the text.
  EXPECT_EQ(tagged_steps("<R><P> &amp;</P></R>"),
            (std::vector<Report>{{0, "R", "null"}, {0, "P", "null"}, {0, "P", " &"}, kEnd}));
  // A CDATA section on its own is the element's text.
  EXPECT_EQ(tagged_steps("<R><P><![CDATA[a<b & c]]></P></R>"),
            (std::vector<Report>{{0, "R", "null"}, {0, "P", "null"}, {0, "P", "a<b & c"}, kEnd}));
  // Text goes on past comments, instructions, CDATA sections and the
  // expansions of entities; markup from an entity ends it.
  const std::string dtd =
      "<!DOCTYPE R [<!ENTITY e \"ab\"><!ENTITY m \"x<B/>\"><!ELEMENT R ANY><!ELEMENT P ANY>"
      "<!ELEMENT B EMPTY>]>";
  const struct {
    const char* body;
    const char* text;
  } joined[] = {
      {"a<!-- c -->b", "ab"}, {"a<?pi x?>b", "ab"}, {"a<![CDATA[<z>]]>b", "a<z>b"}, {"P&e;&e;<!--c-->&e;Q", "PabababQ"},
      {"&e;", "ab"},          {"P&m;", "Px"}};
  for (const auto& c : joined) {
    const auto got = tagged_steps(dtd + "<R><P>" + c.body + "</P></R>");
    ASSERT_GE(got.size(), 3u) << c.body;
    EXPECT_EQ(got[2], (Report{0, "P", c.text})) << c.body;
  }
  // Long texts arrive whole.
  const std::string long_text(100000, 'z');
  const auto got = tagged_steps("<R><P>" + long_text + "</P></R>");
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[2].value, long_text);
}

TEST(PullParser, AttributesAndGetAttr) {
  std::string doc = "<R><X a=\"1\" empty=\"\" b=\"&amp;&quot;\">5</X></R>";
  SAX_Memory_Parser p(&doc[0]);
  ASSERT_FALSE(p.start());
  char* t = nullptr;
  char* v = nullptr;
  ASSERT_EQ(p.parse(&t, &v), 0);  // R
  ASSERT_EQ(p.parse(&t, &v), 0);  // X start
  ASSERT_STREQ(t, "X");
  char* a = nullptr;
  char name_a[] = "a", name_empty[] = "empty", name_b[] = "b", name_none[] = "none";
  EXPECT_EQ(p.get_attr(name_a, &a), 0);
  EXPECT_STREQ(a, "1");
  EXPECT_EQ(p.get_attr(name_empty, &a), 0);
  EXPECT_STREQ(a, "");
  EXPECT_EQ(p.get_attr(name_b, &a), 0);
  EXPECT_STREQ(a, "&\"");
  a = name_a;
  EXPECT_EQ(p.get_attr(name_none, &a), -1);
  EXPECT_EQ(a, nullptr);
  a = name_a;
  EXPECT_EQ(p.get_attr(nullptr, &a), -1);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(p.get_attr(name_a, nullptr), -1);
  // The text step still carries the attributes of its start tag.
  ASSERT_EQ(p.parse(&t, &v), 0);
  EXPECT_STREQ(t, "X");
  EXPECT_STREQ(v, "5");
  EXPECT_EQ(p.get_attr(name_a, &a), 0);
  EXPECT_STREQ(a, "1");
}

TEST(PullParser, ErrorsStopTheLoopAndBlockAttributes) {
  std::string doc = "<R><X a=\"1\">text</Y></R>";
  std::vector<Report> got;
  const std::string err = testutil::capture_stderr([&] {
    SAX_Memory_Parser p(&doc[0]);
    ASSERT_FALSE(p.start());
    got = steps(p);
    EXPECT_GT(p.get_error_counter(), 0);
    char name[] = "a";
    char* a = nullptr;
    EXPECT_EQ(p.get_attr(name, &a), -1);
    EXPECT_EQ(a, nullptr);
  });
  ASSERT_FALSE(got.empty());
  EXPECT_GT(got.back().rc, 0);
  EXPECT_EQ(got.back().tag, "null");
  EXPECT_NE(err.find("\nFatal Error at (file my_mem_info, line 1, char "), std::string::npos) << err;
}

TEST(PullParser, StartFailures) {
  const std::string err = testutil::capture_stderr([] {
    std::string no_root = "<?xml version=\"1.0\"?>";
    SAX_Memory_Parser empty(&no_root[0]);
    ASSERT_TRUE(empty.init_ok());
    EXPECT_TRUE(empty.start());

    SAX_File_Parser missing;
    ASSERT_TRUE(missing.init_ok());
    char path[] = "/nonexistent/dir/file.xml";
    EXPECT_TRUE(missing.start(path));

    SAX_File_Parser null_path;
    EXPECT_TRUE(null_path.start(nullptr));

    SAX_Memory_Parser null_text(nullptr);
    EXPECT_TRUE(null_text.start());
  });
  EXPECT_FALSE(err.empty());
}

TEST(PullParser, FileParserMatchesMemoryParser) {
  const std::string doc = "<R>\n<X a=\"q\">v &amp; w</X>\n<Y/>\n</R>\n";
  testutil::TempFile file(doc);
  SAX_File_Parser fp;
  ASSERT_TRUE(fp.init_ok());
  ASSERT_FALSE(fp.start(file.c_path()));
  std::string text = doc;
  SAX_Memory_Parser mp(&text[0]);
  ASSERT_FALSE(mp.start());
  EXPECT_EQ(steps(fp), steps(mp));
}

TEST(PullParser, DestroyedMidDocumentReleasesEverything) {
  // Under the leak checker: a parser dropped while it holds a tag,
  // attributes and text must release them.
  for (int n = 1; n <= 3; ++n) {
    std::string doc = "<R a=\"1\" b=\"2\"><X c=\"3\">text</X></R>";
    SAX_Memory_Parser p(&doc[0]);
    ASSERT_FALSE(p.start());
    for (int i = 0; i < n; ++i) p.parse(nullptr, nullptr);
  }
  testutil::TempFile file("<R a=\"1\"><X>t</X></R>");
  SAX_File_Parser fp;
  ASSERT_FALSE(fp.start(file.c_path()));
  fp.parse(nullptr, nullptr);
}

TEST(PullParser, ManyParsersKeepXercesAlive) {
  // Parsers hold their own platform reference: nesting and interleaving
  // construction and destruction keeps the other parsers working.
  std::string a = "<A><X>1</X></A>";
  std::string b = "<B><Y>2</Y></B>";
  auto* first = new SAX_Memory_Parser(&a[0]);
  ASSERT_FALSE(first->start());
  {
    SAX_Memory_Parser second(&b[0]);
    ASSERT_FALSE(second.start());
    EXPECT_EQ(steps(second).back(), kEnd);
  }
  char* t = nullptr;
  EXPECT_EQ(first->parse(&t, nullptr), 0);
  EXPECT_STREQ(t, "A");
  delete first;
}

}  // namespace
