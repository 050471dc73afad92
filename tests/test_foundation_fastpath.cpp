// The fast paths of the pull step and of number conversion give exactly
// what the plain ways give: every step of the pull parser is compared with
// a reference handler that transcodes everything with XMLString::transcode,
// and every number conversion with the C library function it stands for.
#include <gtest/gtest.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cfenv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "SAX_File_Parser.h"
#include "SAX_Memory_Parser.h"
#include "number_text.h"
#include "test_util.h"

namespace {

// ---------------------------------------------------------------------------
// Reference pull step: the documented behaviour, with every string made by
// XMLString::transcode.

std::string transcoded(const XMLCh* text, bool* ok = nullptr) {
  if (ok) *ok = false;
  if (!text) return "";
  char* s = xercesc::XMLString::transcode(text);
  if (!s) return "";
  std::string out(s);
  xercesc::XMLString::release(&s);
  if (ok) *ok = true;
  return out;
}

struct Attr {
  std::string name, value;
  bool has_name, has_value;
};

class ReferenceHandler : public xercesc::HandlerBase {
 public:
  bool has_tag = false, has_value = false, end_flag = false, pending = false;
  std::string tag, value;
  std::u16string text;
  std::vector<Attr> attrs;
  int errors = 0;

  void begin_step() {
    if (end_flag || has_value) {
      has_tag = has_value = end_flag = false;
      attrs.clear();
    }
  }
  void flush() {
    if (!pending) return;
    pending = false;
    bool blank = true;
    for (char16_t c : text) blank = blank && (c == u' ' || c == u'\n' || c == u'\t');
    if (blank) {
      has_tag = has_value = false;
    } else {
      bool ok = false;
      value = transcoded(text.c_str(), &ok);
      has_value = ok;
      if (!ok) has_tag = false;
    }
    text.clear();
  }
  void characters(const XMLCh* chars, XMLSize_t length) override {
    if (!has_tag && !pending) return;
    pending = true;
    text.append(chars, length);
  }
  void endElement(const XMLCh*) override {
    flush();
    end_flag = true;
  }
  void startElement(const XMLCh* name, xercesc::AttributeList& list) override {
    flush();
    tag = transcoded(name, &has_tag);
    attrs.clear();
    for (XMLSize_t i = 0; i < list.getLength(); ++i) {
      Attr a;
      a.name = transcoded(list.getName(i), &a.has_name);
      a.value = transcoded(list.getValue(i), &a.has_value);
      attrs.push_back(a);
    }
  }
  void resetDocument() override {
    has_tag = has_value = pending = false;
    text.clear();
    errors = 0;
  }
  void error(const xercesc::SAXParseException&) override { ++errors; }
  void fatalError(const xercesc::SAXParseException&) override { ++errors; }
  void warning(const xercesc::SAXParseException&) override { ++errors; }
};

// What one step shows a caller: result, tag, value and every attribute
// lookup (each name of the element, in an order that jumps about, plus
// names that are absent).
struct StepView {
  int rc;
  std::string tag, value;
  std::vector<std::string> lookups;
  bool operator==(const StepView& o) const {
    return rc == o.rc && tag == o.tag && value == o.value && lookups == o.lookups;
  }
};

std::ostream& operator<<(std::ostream& os, const StepView& s) {
  os << "(" << s.rc << ", " << s.tag << ", " << s.value << ", [";
  for (const auto& l : s.lookups) os << l << " ";
  return os << "])";
}

// Names to look up: reversed, then in order, then twice the first, and
// names that no element has.
std::vector<std::string> lookup_names(const std::vector<Attr>& attrs) {
  std::vector<std::string> names;
  for (auto it = attrs.rbegin(); it != attrs.rend(); ++it)
    if (it->has_name) names.push_back(it->name);
  for (const Attr& a : attrs)
    if (a.has_name) names.push_back(a.name);
  if (!attrs.empty() && attrs[0].has_name) names.push_back(attrs[0].name);
  names.push_back("missing");
  names.push_back("");
  return names;
}

std::string show(int rc, const char* v) { return std::to_string(rc) + ":" + (v ? v : "null"); }

std::vector<StepView> reference_steps(const std::string& doc, std::vector<std::vector<std::string>>* names) {
  xercesc::XMLPlatformUtils::Initialize();
  std::vector<StepView> out;
  {
    ReferenceHandler h;
    xercesc::SAXParser parser;
    parser.setDocumentHandler(&h);
    parser.setErrorHandler(&h);
    parser.setValidationScheme(xercesc::SAXParser::Val_Auto);
    parser.setDoNamespaces(false);
    parser.setDoSchema(false);
    parser.setDisableDefaultEntityResolution(true);
    parser.setLoadExternalDTD(false);
    xercesc::MemBufInputSource src(reinterpret_cast<const XMLByte*>(doc.data()), doc.size(), "my_mem_info", false);
    xercesc::XMLPScanToken token;
    bool more = parser.parseFirst(src, token);
    h.flush();
    EXPECT_TRUE(more);
    while (true) {
      h.begin_step();
      if (!more) {
        out.push_back({-1, "null", "null", {}});
        names->push_back({});
        break;
      }
      more = parser.parseNext(token);
      h.flush();
      if (!more) parser.parseReset(token);
      if (h.errors) {
        out.push_back({h.errors, "null", "null", {}});
        names->push_back({});
        break;
      }
      StepView v{0, h.has_tag ? h.tag : "null", h.has_value ? h.value : "null", {}};
      std::vector<std::string> ask = lookup_names(h.attrs);
      for (const std::string& n : ask) {
        const Attr* found = nullptr;
        for (const Attr& a : h.attrs)
          if (a.has_name && a.name == n) {
            found = &a;
            break;
          }
        v.lookups.push_back(found && found->has_value ? show(0, found->value.c_str()) : show(-1, nullptr));
      }
      out.push_back(v);
      names->push_back(ask);
    }
  }
  xercesc::XMLPlatformUtils::Terminate();
  return out;
}

std::vector<StepView> library_steps(const std::string& doc, const std::vector<std::vector<std::string>>& names) {
  std::string text = doc;
  std::vector<StepView> out;
  std::string err = testutil::capture_stderr([&] {
    SAX_Memory_Parser p(&text[0]);
    EXPECT_TRUE(p.init_ok());
    EXPECT_FALSE(p.start());
    for (std::size_t i = 0; i < names.size(); ++i) {
      char* t = nullptr;
      char* v = nullptr;
      const int rc = p.parse(&t, &v);
      StepView s{rc, t ? t : "null", v ? v : "null", {}};
      if (rc == 0) {
        for (std::string n : names[i]) {
          char* a = nullptr;
          const int r = p.get_attr(&n[0], &a);
          s.lookups.push_back(show(r, a));
        }
      }
      out.push_back(s);
      if (rc != 0) break;
    }
  });
  return out;
}

void expect_same_steps(const std::string& doc) {
  std::vector<std::vector<std::string>> names;
  const std::vector<StepView> want = reference_steps(doc, &names);
  const std::vector<StepView> got = library_steps(doc, names);
  ASSERT_EQ(got.size(), want.size()) << doc;
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << "step " << i << " of " << doc;
}

const char kUtf8[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
const char kLatin1[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n";

TEST(PullFastPath, TextOfEveryShapeMatchesTranscode) {
  const std::vector<std::string> bodies = {
      "<P>caf\xC3\xA9</P>",               // UTF-8 é in the text
      "<P>a&#233;b</P>",                  // non-ASCII through a reference
      "<P>&#233;</P>",                    // only that
      "<P>abc&amp;d&#233;f</P>",          // ASCII first, then not
      "<P>&#233;&amp;abc</P>",            // the other way round
      "<P>x&#8364;y &amp; z</P>",         // outside Latin-1
      "<P>&#x1F600;</P>",                 // outside the BMP
      "<P> &#160; </P>",                  // no-break space is no blank
      "<P>&#9;&#10; </P>",                // blanks by reference
      "<P>&#13;</P>",                     // carriage return is no blank
      "<P> \n\t </P>",                    // blank
      "<P>\n\t\t\t\t\t\t\t\t\t\t</P>",    // blank, longer than a block
      "<P><![CDATA[ \xC3\xA9 ]]></P>",    // CDATA
      "<P>a<Q>&#233;</Q>&#233;tail</P>",  // mixed content
      "<P><!-- c -->x</P>",               // comment first
      "<P></P><Q/>",                      // empty
  };
  for (const std::string& b : bodies) expect_same_steps(std::string(kUtf8) + "<R>" + b + "</R>");
}

TEST(PullFastPath, EveryPositionInBlocksOfEight) {
  // Lengths around the block size, with one odd unit at every position.
  for (std::size_t n : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 33u}) {
    for (std::size_t at = 0; at < n; ++at) {
      std::string plain(n, 'a'), blank(n, ' ');
      std::string non_ascii = plain, non_blank = blank;
      non_ascii.replace(at, 1, "\xC3\xA9");
      non_blank[at] = 'x';
      std::string mixed = blank;
      mixed[at] = '\t';
      for (const std::string& t : {plain, non_ascii, non_blank, mixed})
        expect_same_steps(std::string(kUtf8) + "<R><P>" + t + "</P></R>");
    }
  }
}

TEST(PullFastPath, Latin1DocumentsAndAttributes) {
  expect_same_steps(std::string(kLatin1) + "<R><P a=\"\xE9t\xE9\" b=\"\">gr\xFC\xDF</P></R>");
  expect_same_steps(std::string(kUtf8) +
                    "<R><X n\xC3\xA9=\"1\" a=\"&#233;\" b=\"x\" c=\"&amp;&quot;\" d=\"\"/>"
                    "<Y p0=\"0\" p1=\"1\" p2=\"2\" p3=\"3\" p4=\"4\" p5=\"5\" p6=\"6\" p7=\"7\" p8=\"8\" "
                    "p9=\"9\" p10=\"10\" name=\"n\">t</Y><Z/></R>");
  // Long names and values cross the conversion's blocks of four.
  std::string long_attrs;
  for (int i = 1; i <= 9; ++i)
    long_attrs += " " + std::string(static_cast<std::size_t>(i), 'k') + "=\"" +
                  std::string(static_cast<std::size_t>(i), 'v') + "\"";
  expect_same_steps(std::string(kUtf8) + "<R><X" + long_attrs + "/><" + std::string(9, 'T') + "/></R>");
}

TEST(PullFastPath, AttributeLookupsInAnyOrder) {
  std::string doc = "<R><F name=\"MEAN\" p0=\"0\" p1=\"1\" p2=\"2\"/></R>";
  SAX_Memory_Parser p(&doc[0]);
  ASSERT_FALSE(p.start());
  char* t = nullptr;
  char* v = nullptr;
  ASSERT_EQ(p.parse(&t, &v), 0);
  ASSERT_EQ(p.parse(&t, &v), 0);
  ASSERT_STREQ(t, "F");
  const char* order[] = {"p1", "p2", "p0", "none", "name", "p2", "p2", "p", "p00", "name"};
  const char* want[] = {"1", "2", "0", nullptr, "MEAN", "2", "2", nullptr, nullptr, "MEAN"};
  for (std::size_t i = 0; i < sizeof order / sizeof order[0]; ++i) {
    std::string n = order[i];
    char* a = nullptr;
    EXPECT_EQ(p.get_attr(&n[0], &a), want[i] ? 0 : -1) << n;
    if (want[i])
      EXPECT_STREQ(a, want[i]) << n;
    else
      EXPECT_EQ(a, nullptr) << n;
  }
  // The next element's attributes replace these.
  ASSERT_EQ(p.parse(&t, &v), 0);
  std::string n = "p1";
  char* a = nullptr;
  EXPECT_EQ(p.get_attr(&n[0], &a), -1);
}

// parse_element is parse() with the steps that carry no tag skipped.
template <class Parser>
std::vector<std::string> tagged_by_parse(Parser& p) {
  std::vector<std::string> out;
  for (;;) {
    char* t = nullptr;
    char* v = nullptr;
    const int rc = p.parse(&t, &v);
    if (rc == 0 && !t) continue;
    out.push_back(std::to_string(rc) + " " + (t ? t : "null") + " " + (v ? v : "null"));
    if (rc != 0) return out;
  }
}

template <class Parser>
std::vector<std::string> tagged_by_parse_element(Parser& p) {
  std::vector<std::string> out;
  for (;;) {
    char* t = nullptr;
    char* v = reinterpret_cast<char*>(1);
    const int rc = p.parse_element(&t, &v);
    out.push_back(std::to_string(rc) + " " + (t ? t : "null") + " " + (v ? v : "null"));
    if (rc != 0) return out;
  }
}

TEST(PullFastPath, ParseElementSkipsOnlyUntaggedSteps) {
  const std::vector<std::string> docs = {
      "<R>\n  <A x=\"1\">1</A>\n <B/> <C>  </C>text<D><!--c--></D>\n</R>\n",
      "<R><A>unclosed</B></R>",  // ends in an error
      "<R><A>&#233;&amp;</A></R>",
      "<R/>",
  };
  for (const std::string& doc : docs) {
    std::vector<std::string> want, got, want_file, got_file;
    testutil::TempFile file(doc);
    testutil::capture_stderr([&] {
      std::string a = doc, b = doc;
      SAX_Memory_Parser pa(&a[0]), pb(&b[0]);
      ASSERT_FALSE(pa.start());
      ASSERT_FALSE(pb.start());
      want = tagged_by_parse(pa);
      got = tagged_by_parse_element(pb);
      SAX_File_Parser fa, fb;
      ASSERT_FALSE(fa.start(file.c_path()));
      ASSERT_FALSE(fb.start(file.c_path()));
      want_file = tagged_by_parse(fa);
      got_file = tagged_by_parse_element(fb);
    });
    EXPECT_EQ(got, want) << doc;
    EXPECT_EQ(got_file, want_file) << doc;
  }
  // A parser that could not start answers as parse() does.
  std::string none = "";
  SAX_Memory_Parser p(&none[0]);
  testutil::capture_stderr([&] { EXPECT_TRUE(p.start()); });
  char* t = nullptr;
  char* v = nullptr;
  EXPECT_NE(p.parse_element(&t, &v), 0);
  EXPECT_EQ(t, nullptr);
}

// ---------------------------------------------------------------------------
// Number conversion.

void expect_same(const std::string& s) {
  const char* text = s.c_str();
  using qal3::number::to_float;
  using qal3::number::to_long;
  using qal3::number::to_ulong;
  {
    char* e1 = nullptr;
    char* e2 = nullptr;
    errno = 0;
    const long a = std::strtol(text, &e1, 10);
    const int err1 = errno;
    errno = 0;
    const long b = to_long(text, &e2);
    EXPECT_EQ(a, b) << "long '" << s << "'";
    EXPECT_EQ(e1, e2) << "long end '" << s << "'";
    EXPECT_EQ(err1, errno) << "long errno '" << s << "'";
  }
  for (int base : {10, 16}) {
    char* e1 = nullptr;
    char* e2 = nullptr;
    errno = 0;
    const unsigned long a = std::strtoul(text, &e1, base);
    const int err1 = errno;
    errno = 0;
    const unsigned long b = to_ulong(text, &e2, base);
    EXPECT_EQ(a, b) << "ulong" << base << " '" << s << "'";
    EXPECT_EQ(e1, e2) << "ulong" << base << " end '" << s << "'";
    EXPECT_EQ(err1, errno) << "ulong" << base << " errno '" << s << "'";
  }
  {
    char* e1 = nullptr;
    char* e2 = nullptr;
    errno = 0;
    const float a = std::strtof(text, &e1);
    const int err1 = errno;
    errno = 0;
    const float b = to_float(text, &e2);
    std::uint32_t ba = 0, bb = 0;
    std::memcpy(&ba, &a, sizeof ba);
    std::memcpy(&bb, &b, sizeof bb);
    EXPECT_EQ(ba, bb) << "float '" << s << "' " << a << " vs " << b;
    EXPECT_EQ(e1, e2) << "float end '" << s << "'";
    EXPECT_EQ(err1, errno) << "float errno '" << s << "'";
  }
  // Null end pointers are allowed.
  EXPECT_EQ(std::strtol(text, nullptr, 10), to_long(text, nullptr));
  EXPECT_EQ(std::strtoul(text, nullptr, 16), to_ulong(text, nullptr, 16));
}

const std::vector<std::string> kTrickyNumbers = {
    "",
    " ",
    "5",
    " 5",
    "\t7",
    "\n8",
    "7 ",
    "+5",
    "-5",
    "- 5",
    "+-1",
    "-+1",
    "++1",
    "--1",
    "5abc",
    "abc",
    "0",
    "-0",
    "+0",
    "00",
    "007",
    "0x1F",
    "0X1f",
    "0x",
    "0xg",
    "x1",
    "1f",
    "ff",
    "FF",
    "fF0",
    "0x0x1",
    "9223372036854775807",
    "9223372036854775808",
    "-9223372036854775808",
    "-9223372036854775809",
    "18446744073709551615",
    "18446744073709551616",
    "ffffffffffffffff",
    "10000000000000000",
    "fffffffffffffffff",
    "000000000000000000000000001",
    "-000000000000000000000000001",
    "2147483647",
    "2147483648",
    "4294967295",
    "4294967296",
    "-2147483649",
    "0.5",
    ".5",
    "5.",
    ".",
    "-.5",
    "+.5",
    "-.",
    "-0.0",
    "+0.0",
    "0.500000",
    "0.010000",
    "1.000000",
    "15.500000",
    "1e5",
    "1E-3",
    "1e",
    "1e+",
    "2.5e3x",
    "0x1p3",
    "0x1.8p1",
    "nan",
    "NAN",
    "inf",
    "-inf",
    "infinity",
    "16777216",
    "16777217",
    "16777217.0",
    "16777216.5",
    "33554433",
    "0.1",
    "0.2",
    "0.3",
    "3.4028235e38",
    "3.5e38",
    "1e-46",
    "1e-40",
    "123456789",
    "1234567890",
    "987654321.5",
    "0.0000000001",
    "0.00000000001",
    "0.00000000000",
    "1.0000000000",
    "1.00000000000",
    "9.999999999",
    "0.000000123",
    "99999999.9",
    "1.5abc",
    "1,5",
    "1..2",
    "1.2.3",
    "12 34",
    "1\xC3\xA9",
    "\xC3\xA9",
    "0.99999999",
    "0.999999999",
    "8388607.5",
    "8388608.5",
    "4.0000001",
    "1.17549435e-38",
};

TEST(NumberText, TrickyInputsMatchTheCLibrary) {
  for (const std::string& s : kTrickyNumbers) expect_same(s);
}

TEST(NumberText, RandomInputsMatchTheCLibrary) {
  std::mt19937 rng(20261208);
  const std::string alphabet = "0123456789012345678901234567890123456789..+-eExXabfF ,\t";
  std::uniform_int_distribution<std::size_t> length(0, 16);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  for (int i = 0; i < 50000; ++i) {
    std::string s(length(rng), ' ');
    for (char& c : s) c = alphabet[pick(rng)];
    expect_same(s);
  }
  // Plain decimals of every size and point position: the short path's
  // own ground, down to the last bit of the float.
  std::uniform_int_distribution<std::uint64_t> digits(0, 9999999999ull);
  std::uniform_int_distribution<int> point(0, 11);
  for (int i = 0; i < 50000; ++i) {
    std::string s = std::to_string(digits(rng) >> (i % 34));
    const std::size_t at = static_cast<std::size_t>(point(rng));
    if (at <= s.size()) s.insert(s.size() - at, ".");
    if (i % 3 == 0) s = "-" + s;
    expect_same(s);
  }
}

TEST(NumberText, EveryRoundingMode) {
  const int saved = std::fegetround();
  for (int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    ASSERT_EQ(std::fesetround(mode), 0);
    for (const std::string& s : kTrickyNumbers) expect_same(s);
    for (const char* s : {"0.1", "-0.1", "0.3", "-0.3", "16777215.5", "-16777215.5", "0.0000000003"}) expect_same(s);
  }
  std::fesetround(saved);
}

// A locale whose decimal point is a comma: an installed one, else de_DE
// compiled from the system's locale sources (Debian package "locales") into
// a scratch directory named by LOCPATH while it lives.
class CommaLocale {
 public:
  CommaLocale() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE", "fr_FR"})
      if ((locale_ = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(0)))) return;
    char dir[] = "/tmp/qal3-locale-XXXXXX";
    if (!mkdtemp(dir)) return;
    dir_ = dir;
    if (const char* old = std::getenv("LOCPATH")) old_locpath_ = old;
    setenv("LOCPATH", dir, 1);
    if (testutil::run_command("localedef -i de_DE -f UTF-8 " + dir_ + "/de_DE.UTF-8") <= 1) {
#if defined(__SANITIZE_ADDRESS__)
      __lsan_disable();  // the C library keeps its copy of LOCPATH for good
#endif
      locale_ = newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(0));
#if defined(__SANITIZE_ADDRESS__)
      __lsan_enable();
#endif
    }
  }
  ~CommaLocale() {
    if (locale_) freelocale(locale_);
    if (dir_.empty()) return;
    if (old_locpath_.empty())
      unsetenv("LOCPATH");
    else
      setenv("LOCPATH", old_locpath_.c_str(), 1);
    testutil::run_command("rm -rf '" + dir_ + "'");
  }
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;
  locale_t get() const { return locale_; }

 private:
  locale_t locale_ = nullptr;
  std::string dir_;
  std::string old_locpath_;
};

TEST(NumberText, OtherDecimalPointGoesToTheCLibrary) {
  const CommaLocale comma;
  if (!comma.get()) GTEST_SKIP() << "no locale with a decimal comma installed, and localedef cannot make one";
  const locale_t previous = uselocale(comma.get());
  ASSERT_STREQ(nl_langinfo(RADIXCHAR), ",");
  for (const std::string& s : kTrickyNumbers) expect_same(s);
  for (const char* s : {"1,5", "-0,25", "0,500000"}) expect_same(s);
  uselocale(previous);
}

}  // namespace
