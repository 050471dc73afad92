// Environment index dictionary: reading, the three output forms, messages of
// both layouts, round trips and hostile input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "parse_env_index_dictionary.h"
#include "qal3.hpp"
#include "test_util.h"

using testutil::capture_stderr;
using testutil::capture_stdout;
using testutil::TempFile;

namespace {

using Old = qal3_env_index_dictionary_entry;
using New = qal3_env_index_dictionary_entry_2010;

// Entries freed with free(), as callers do.
template <class Entry>
struct List {
  qal3::List<Entry> owned;
  std::vector<Entry*>& v = owned.records();
  void add(int index, const std::string& prop, float dabs, float drel) {
    auto* e = static_cast<Entry*>(std::calloc(1, sizeof(Entry)));
    e->index = index;
    std::strncpy(e->data.env_prop, prop.c_str(), sizeof e->data.env_prop - 1);
    e->data.env_ch_abs_delta = dabs;
    e->data.env_ch_rel_delta = drel;
    v.push_back(e);
  }
  // "index|prop|dabs|drel" per entry, deltas as "%g" keeps them.
  std::string summary() const { return summary_in(std::defaultfloat); }
  // The same with the deltas exact (hexadecimal).
  std::string exact_summary() const { return summary_in(std::hexfloat); }
  std::string summary_in(std::ios_base& (*float_form)(std::ios_base&)) const {
    std::ostringstream s;
    s << float_form;
    for (const Entry* e : v)
      s << e->index << '|' << e->data.env_prop << '|' << e->data.env_ch_abs_delta << '|' << e->data.env_ch_rel_delta
        << '\n';
    return s.str();
  }
};

// The entry points of each layout under one name.
int read(std::string xml, List<Old>& l) { return parse_env_index_dict_list_read(&xml[0], &l.v); }
int read(std::string xml, List<New>& l) { return parse_env_index_dict_list_read_2010(&xml[0], &l.v); }
int readf(char* f, List<Old>& l) { return parse_env_index_dict_readf(f, &l.v); }
int readf(char* f, List<New>& l) { return parse_env_index_dict_readf_2010(f, &l.v); }
int dump(List<Old>* l, char* f, int mode, int fd, std::string* s) {
  return dump_env_index_dict(l ? &l->v : nullptr, f, mode, fd, s);
}
int dump(List<New>* l, char* f, int mode, int fd, std::string* s) {
  return dump_env_index_dict_2010(l ? &l->v : nullptr, f, mode, fd, s);
}
int convert(std::string xml, List<Old>*, char* f, int mode) { return dump_env_index_dict(&xml[0], f, mode, -1); }
int convert(std::string xml, List<New>*, char* f, int mode) { return dump_env_index_dict_2010(&xml[0], f, mode, -1); }
const char* who(const List<Old>*) { return "dump_env_index_dict()"; }
const char* who(const List<New>*) { return "dump_env_index_dict_2010()"; }

std::string dict(const std::string& channels) { return "<ENVINDEXDICT>\n" + channels + "</ENVINDEXDICT>\n"; }

std::string without_date(const std::string& doc) {
  static const std::regex date("<isodate>\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d</isodate>");
  return std::regex_replace(doc, date, "<isodate>DATE</isodate>");
}

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<ENVINDEXDICT>\n\t<isodate>DATE</isodate>\n";

template <class L>
class EnvDict : public ::testing::Test {};
using Layouts = ::testing::Types<List<Old>, List<New>>;
TYPED_TEST_SUITE(EnvDict, Layouts);

}  // namespace

TEST(EnvDictRead, WhichChannelsBecomeEntries) {
  List<Old> l;
  EXPECT_EQ(0, read(dict("<CHANNEL><INDEX>4</INDEX><PROP>A</PROP><DABS>1.5</DABS></CHANNEL>"
                         "<CHANNEL><PROP>B</PROP><INDEX>5</INDEX><DREL>0.25</DREL></CHANNEL>"
                         "<CHANNEL><INDEX>6</INDEX><PROP>C</PROP><INDEX>7</INDEX></CHANNEL>"
                         "<CHANNEL><INDEX>1</INDEX></CHANNEL>"
                         "<CHANNEL><INDEX>2</INDEX><PROP></PROP></CHANNEL>"
                         "<CHANNEL><PROP>   </PROP><INDEX>3</INDEX></CHANNEL>"
                         // end tags are not tracked: these complete the channel above
                         "<INDEX>99</INDEX><PROP>outside</PROP>"
                         "<CHANNEL><INDEX> 42abc</INDEX><PROP>X</PROP><DREL>abc</DREL></CHANNEL>"
                         "<DABS>2.5</DABS><CHANNEL><INDEX>abc</INDEX><PROP>Z</PROP></CHANNEL>"),
                    l));
  EXPECT_EQ("4|A|1.5|0\n5|B|0|0.25\n7|C|0|0\n99|outside|0|0\n42|X|2.5|0\n0|Z|0|0\n", l.summary());

  const std::string name(300, 'n');
  const std::string doc = dict("<CHANNEL><INDEX>1</INDEX><PROP>" + name.substr(0, 100) +
                               "</PROP></CHANNEL><CHANNEL><INDEX>2</INDEX><PROP>" + name + "</PROP></CHANNEL>");
  List<Old> o;
  List<New> n;
  EXPECT_EQ(0, read(doc, o));
  EXPECT_EQ(0, read(doc, n));
  EXPECT_EQ("1|" + name.substr(0, 79) + "|0|0\n2|" + name.substr(0, 79) + "|0|0\n", o.summary());
  EXPECT_EQ("1|" + name.substr(0, 100) + "|0|0\n2|" + name.substr(0, 255) + "|0|0\n", n.summary());
}

TYPED_TEST(EnvDict, ResultCodes) {
  TypeParam l;
  EXPECT_EQ("WRONG root tag: 'CHANNEL' must be 'ENVINDEXDICT'\n",
            capture_stderr([&] { EXPECT_EQ(1, read("<CHANNEL><INDEX>1</INDEX><PROP>A</PROP></CHANNEL>", l)); }));
  std::string missing = "/nonexistent/qal3-envdict.xml";
  capture_stderr([&] {
    EXPECT_NE(0, readf(&missing[0], l));
    EXPECT_EQ(1, readf(nullptr, l));
    EXPECT_NE(0, read("", l));
    // Entries before a parser error stay; the error shows in the result.
    EXPECT_GT(read("<ENVINDEXDICT><CHANNEL><INDEX>1</INDEX><PROP>A</PROP></CHANNEL><CHANNEL><PROP>B</X>", l), 0);
  });
  EXPECT_EQ("1|A|0|0\n", l.summary());
  TempFile f(dict("<CHANNEL><INDEX>8</INDEX><PROP>F</PROP></CHANNEL>"));
  EXPECT_EQ(0, readf(f.c_path(), l));  // appended to, never cleared
  EXPECT_EQ("1|A|0|0\n8|F|0|0\n", l.summary());

  char doc[] = "<ENVINDEXDICT/>";
  EXPECT_EQ(1, parse_env_index_dict_list_read(doc, nullptr));
  EXPECT_EQ(1, parse_env_index_dict_list_read_2010(nullptr, nullptr));
}

TYPED_TEST(EnvDict, HostileDocumentsFailWithoutHarm) {
  TypeParam l;
  std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE ENVINDEXDICT [\n<!ENTITY a0 \"lol\">\n";
  for (int i = 1; i <= 8; ++i) {
    bomb += "<!ENTITY a" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) bomb += "&a" + std::to_string(i - 1) + ";";
    bomb += "\">\n";
  }
  bomb += "]>\n" + dict("<CHANNEL><INDEX>1</INDEX><PROP>&a8;</PROP></CHANNEL>");
  const auto t0 = std::chrono::steady_clock::now();
  capture_stderr([&] {
    EXPECT_NE(0, read(bomb, l));
    for (const char* doc : {"<ENVINDEXDICT><CHANNEL><INDEX>1", "<ENVINDEXDICT>\x01\xff</ENVINDEXDICT>",
                            "<ENVINDEXDICT><CHANNEL><INDEX>99999999999999999999</INDEX><PROP>&#0;</PROP>"})
      EXPECT_NE(0, read(doc, l));
  });
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ("", l.summary());
}

TEST(EnvDictWrite, DocumentTextAndConsoleFormats) {
  List<Old> l;
  l.add(3, "A/B", 0.5f, 0.001f);
  l.add(-7, "", 1234567.0f, 1e-6f);
  std::string doc;
  capture_stdout([&] { EXPECT_EQ(0, dump(&l, nullptr, 3, -1, &doc)); });
  EXPECT_EQ(kHead +
                "<CHANNEL>\n<INDEX>3</INDEX>\n<PROP>A/B</PROP>\n<DABS>0.500000</DABS>\n<DREL>0.001000</DREL>\n</"
                "CHANNEL>\n"
                "<CHANNEL>\n<INDEX>-7</INDEX>\n<PROP></PROP>\n<DABS>1234567.000000</DABS>\n<DREL>0.000001</DREL>\n"
                "</CHANNEL>\n</ENVINDEXDICT>\n\n",
            without_date(doc));
  List<Old> empty;
  capture_stdout([&] { EXPECT_EQ(0, dump(&empty, nullptr, 3, -1, &doc)); });
  EXPECT_EQ(kHead + "</ENVINDEXDICT>\n\n", without_date(doc));

  TempFile text;
  capture_stdout([&] { EXPECT_EQ(0, dump(&l, text.c_path(), 1, -1, nullptr)); });
  EXPECT_EQ("3\tA/B\t0.500000\t0.001000\n-7\t!!!UNDEFINED!!!\t1234567.000000\t0.000001\n", text.read());

  for (int mode : {0, 1, 2, 3, 7}) {
    int rc = -1;
    EXPECT_EQ(
        "-------------- 1 -----------------\n Index : 3\n Channel: A/B DABS 0.5 DREL 0.001\n"
        "-------------- 2 -----------------\n Index : -7\n Channel:  DABS 1.23457e+06 DREL 1e-06\n",
        capture_stdout([&] { rc = dump(&l, nullptr, mode, -1, nullptr); }));
    EXPECT_EQ(0, rc);
  }
}

TYPED_TEST(EnvDict, WriterMessagesAndResults) {
  const std::string w = who(static_cast<TypeParam*>(nullptr));
  TypeParam l;
  l.add(1, "P", 1.0f, 2.0f);
  int rc = 0;
  EXPECT_EQ(w + " invalid argument: '\n",
            capture_stdout([&] { rc = dump(static_cast<TypeParam*>(nullptr), nullptr, 2, -1, nullptr); }));
  EXPECT_EQ(2, rc);

  std::string bad = "/nonexistent/dir/dict.xml", err;
  EXPECT_EQ(w + " failed to open file: '" + bad + "'\n",
            capture_stdout([&] { err = capture_stderr([&] { rc = dump(&l, &bad[0], 2, -1, nullptr); }); }));
  EXPECT_EQ("fopen: No such file or directory\n", err);
  EXPECT_EQ(1, rc);

  // Mode 3 with a string and a file: the string gets the document, the file stays empty.
  TempFile f;
  std::string doc;
  EXPECT_EQ(w + "  file: '" + f.path() + "' has been created\n" + w + "  file: '" + f.path() + "' has been closed\n",
            capture_stdout([&] { rc = dump(&l, f.c_path(), 3, -1, &doc); }));
  EXPECT_EQ(0, rc);
  EXPECT_EQ("", f.read());
  EXPECT_NE(std::string::npos, doc.find("<PROP>P</PROP>"));

  const std::string failed = std::is_same<TypeParam, List<Old>>::value
                                 ? "dump_env_index_dict() failed to write \n"
                                 : "dump_env_index_dict_2010()  failed to write\n";
  EXPECT_EQ(failed, capture_stdout([&] { rc = dump(&l, nullptr, 2, 987654, nullptr); }));
  EXPECT_EQ(2, rc);

  // A file whose writes fail is reported, not taken for success.
  std::string full = "/dev/full";
  EXPECT_EQ(w + "  file: '/dev/full' has been created\n" + w + " failed to write file: '/dev/full'\n",
            capture_stdout([&] { rc = dump(&l, &full[0], 2, -1, nullptr); }));
  EXPECT_EQ(2, rc);
  capture_stdout([&] { rc = dump(&l, &full[0], 1, -1, nullptr); });
  EXPECT_EQ(2, rc);

  std::string out;
  err = capture_stderr([&] { out = capture_stdout([&] { rc = convert("<CHANNEL/>", &l, nullptr, 2); }); });
  EXPECT_EQ(3, rc);
  EXPECT_EQ("Failed to parse ENV INDEX DICT list\n", out);
  EXPECT_EQ("WRONG root tag: 'CHANNEL' must be 'ENVINDEXDICT'\n", err);
  capture_stderr([&] {  // entries read before the error are released
    capture_stdout([&] {
      EXPECT_EQ(3, convert(dict("<CHANNEL><INDEX>1</INDEX><PROP>A</PROP></CHANNEL>") + "<", &l, nullptr, 2));
    });
  });
}

TYPED_TEST(EnvDict, WrittenDictionaryReadsBackToTheSameEntries) {
  TypeParam l;
  l.add(0, "plain/name", 0.125f, 0.5f);
  l.add(-3, "a & b <c> \"d\" 'e' ]]>", 123.456789f, 1e-6f);
  l.add(4, "tiny", 1e-9f, -2.5e-7f);
  l.add(2147483647, "tab\there  and spaces ", 0.0f, 99999.5f);
  l.add(5, std::string(sizeof(l.v[0]->data.env_prop) - 1, 'L'), 1.0f, 2.0f);
  for (int i = 0; i < 2000; ++i) l.add(i, "N/" + std::to_string(i), 0.5f * i, 0.25f);

  std::string doc;
  capture_stdout([&] { EXPECT_EQ(0, dump(&l, nullptr, 3, -1, &doc)); });
  TypeParam from_string;
  EXPECT_EQ(0, read(doc, from_string));
  EXPECT_EQ(l.exact_summary(), from_string.exact_summary());

  // Mode 2 writes the same document to the file and the descriptor.
  TempFile f, d;
  const int fd = ::open(d.path().c_str(), O_WRONLY | O_TRUNC);
  ASSERT_GE(fd, 0);
  capture_stdout([&] { EXPECT_EQ(0, dump(&l, f.c_path(), 2, fd, nullptr)); });
  ::close(fd);
  EXPECT_EQ(f.read(), d.read());
  TypeParam from_file;
  EXPECT_EQ(0, readf(f.c_path(), from_file));
  EXPECT_EQ(l.exact_summary(), from_file.exact_summary());

  TempFile again;
  capture_stdout([&] { EXPECT_EQ(0, convert(doc, &l, again.c_path(), 2)); });
  EXPECT_EQ(without_date(doc), without_date(again.read()));
}

// Deltas that six decimals would lose are written in the shortest text that
// reads back exactly, in the document and in the text file.
TYPED_TEST(EnvDict, SmallDeltasAreKeptExactly) {
  TypeParam l;
  l.add(1, "BPM/X", 1e-9f, 2.5e-7f);
  l.add(2, "BPM/Y", 0.5f, 3.0e-45f);
  l.add(3, "BPM/Z", 0.1234567f, -7.0e-38f);
  std::string doc;
  capture_stdout([&] { EXPECT_EQ(0, dump(&l, nullptr, 3, -1, &doc)); });
  EXPECT_NE(std::string::npos, doc.find("<DABS>1e-09</DABS>\n<DREL>2.5e-07</DREL>\n")) << doc;
  EXPECT_NE(std::string::npos, doc.find("<DABS>0.500000</DABS>\n<DREL>3e-45</DREL>\n")) << doc;
  EXPECT_NE(std::string::npos, doc.find("<DABS>0.1234567</DABS>\n<DREL>-7e-38</DREL>\n")) << doc;
  TypeParam back;
  EXPECT_EQ(0, read(doc, back));
  EXPECT_EQ(l.exact_summary(), back.exact_summary());

  TempFile text;
  capture_stdout([&] { EXPECT_EQ(0, dump(&l, text.c_path(), 1, -1, nullptr)); });
  EXPECT_EQ("1\tBPM/X\t1e-09\t2.5e-07\n2\tBPM/Y\t0.500000\t3e-45\n3\tBPM/Z\t0.1234567\t-7e-38\n", text.read());
}

// Found by fuzzing: non-ASCII names read back as other characters after a
// write, and a name cut at the field's size could end in half a character.
TYPED_TEST(EnvDict, NonAsciiNamesRoundTripAndAreCutAtCharacters) {
  TypeParam l;
  const std::string name = "Vakuum \xc3\xbc \xe2\x82\xac";
  const std::string umlauts = [] {
    std::string u;
    for (int i = 0; i < 200; ++i) u += "\xc3\xbc";
    return u;
  }();
  ASSERT_EQ(read(dict("<CHANNEL><INDEX>1</INDEX><PROP>" + name +
                      "</PROP></CHANNEL>"
                      "<CHANNEL><INDEX>2</INDEX><PROP>xy" +
                      umlauts + "</PROP></CHANNEL>"),
                 l),
            0);
  ASSERT_EQ(l.v.size(), 2u);
  EXPECT_EQ(std::string(l.v[0]->data.env_prop), name);
  const std::string cut = l.v[1]->data.env_prop;
  const std::size_t cap = sizeof l.v[1]->data.env_prop - 1;
  EXPECT_EQ(cut.size(), cap - 1);  // "xy" and whole two-byte characters only
  EXPECT_EQ(cut, "xy" + umlauts.substr(0, cap - 1 - 2));
  std::string doc;
  ASSERT_EQ(dump(&l, nullptr, 3, -1, &doc), 0);
  TypeParam back;
  ASSERT_EQ(read(doc, back), 0);
  EXPECT_EQ(back.summary(), l.summary());
}

// The element dispatch: names are exact and case-sensitive; near misses
// (other case, prefixes, longer names, names of the other branches) change
// nothing.

TEST(ReaderDispatch, DictionaryNamesAreExact) {
  std::string dict =
      "<ENVINDEXDICT><CHANNEL><INDEX>4</INDEX><INDEXX>9</INDEXX><Index>9</Index><PROP>E/1</PROP>"
      "<PROPS>x</PROPS><DABS>0.25</DABS><DAB>9</DAB><DREL>-0.5e1</DREL><DRELL>9</DRELL></CHANNEL>"
      "<CHANNELS>x</CHANNELS><Channel>x</Channel></ENVINDEXDICT>";
  std::vector<qal3_env_index_dictionary_entry_2010*> entries;
  ASSERT_EQ(parse_env_index_dict_list_read_2010(&dict[0], &entries), 0);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]->index, 4);
  EXPECT_STREQ(entries[0]->data.env_prop, "E/1");
  EXPECT_EQ(entries[0]->data.env_ch_abs_delta, 0.25f);
  EXPECT_EQ(entries[0]->data.env_ch_rel_delta, -5.0f);
  for (auto* e : entries) std::free(e);
}
