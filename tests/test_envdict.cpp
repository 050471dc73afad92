// Environment index dictionary: reading, the three output forms, messages of
// both layouts, round trips and hostile input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "parse_env_index_dictionary.h"
#include "test_util.h"

using testutil::capture_stderr;
using testutil::capture_stdout;
using testutil::TempFile;

namespace {

// A list of entries that frees them with free(), as callers do.
template <class Entry>
struct List {
  std::vector<Entry*> v;
  ~List() {
    for (Entry* e : v) std::free(e);
  }
  Entry& operator[](std::size_t i) { return *v.at(i); }
  std::size_t size() const { return v.size(); }
};
using OldList = List<qal3_env_index_dictionary_entry>;
using NewList = List<qal3_env_index_dictionary_entry_2010>;

// The layout-dependent entry points, so that tests run over both.
struct OldApi {
  using Entry = qal3_env_index_dictionary_entry;
  static constexpr const char* who = "dump_env_index_dict()";
  static constexpr const char* write_failed = "dump_env_index_dict() failed to write \n";
  static int read(const std::string& xml, List<Entry>& l) {
    std::string copy = xml;
    return parse_env_index_dict_list_read(&copy[0], &l.v);
  }
  static int readf(char* f, List<Entry>& l) { return parse_env_index_dict_readf(f, &l.v); }
  static int dump(std::vector<Entry*>* l, char* f, int mode, int fd, std::string* s) {
    return dump_env_index_dict(l, f, mode, fd, s);
  }
  static int convert(const std::string& xml, char* f, int mode, int fd) {
    std::string copy = xml;
    return dump_env_index_dict(&copy[0], f, mode, fd);
  }
};
struct NewApi {
  using Entry = qal3_env_index_dictionary_entry_2010;
  static constexpr const char* who = "dump_env_index_dict_2010()";
  static constexpr const char* write_failed = "dump_env_index_dict_2010()  failed to write\n";
  static int read(const std::string& xml, List<Entry>& l) {
    std::string copy = xml;
    return parse_env_index_dict_list_read_2010(&copy[0], &l.v);
  }
  static int readf(char* f, List<Entry>& l) { return parse_env_index_dict_readf_2010(f, &l.v); }
  static int dump(std::vector<Entry*>* l, char* f, int mode, int fd, std::string* s) {
    return dump_env_index_dict_2010(l, f, mode, fd, s);
  }
  static int convert(const std::string& xml, char* f, int mode, int fd) {
    std::string copy = xml;
    return dump_env_index_dict_2010(&copy[0], f, mode, fd);
  }
};

template <class Entry>
Entry* make_entry(int index, const std::string& prop, float dabs, float drel) {
  auto* e = static_cast<Entry*>(std::calloc(1, sizeof(Entry)));
  e->index = index;
  std::strncpy(e->data.env_prop, prop.c_str(), sizeof e->data.env_prop - 1);
  e->data.env_ch_abs_delta = dabs;
  e->data.env_ch_rel_delta = drel;
  return e;
}

std::string dict(const std::string& channels) {
  return "<ENVINDEXDICT>\n" + channels + "</ENVINDEXDICT>\n";
}

// The document with its time stamp replaced by a fixed one.
std::string without_date(const std::string& doc) {
  static const std::regex date("<isodate>\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d</isodate>");
  return std::regex_replace(doc, date, "<isodate>DATE</isodate>");
}

const char kHeader[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n";

template <class Api>
class EnvDictBoth : public ::testing::Test {};
using Layouts = ::testing::Types<OldApi, NewApi>;
TYPED_TEST_SUITE(EnvDictBoth, Layouts);

}  // namespace

// ------------------------------------------------------------------ reading

TEST(EnvDictRead, EntryAppearsOnceWhateverTheOrderOfIndexAndProp) {
  OldList l;
  EXPECT_EQ(0, OldApi::read(dict("<CHANNEL><INDEX>4</INDEX><PROP>A</PROP><DABS>1.5</DABS></CHANNEL>"
                                 "<CHANNEL><PROP>B</PROP><INDEX>5</INDEX><DREL>0.25</DREL></CHANNEL>"
                                 // a repeated INDEX updates but does not append again
                                 "<CHANNEL><INDEX>6</INDEX><PROP>C</PROP><INDEX>7</INDEX></CHANNEL>"),
                            l));
  ASSERT_EQ(3u, l.size());
  EXPECT_EQ(4, l[0].index);
  EXPECT_STREQ("A", l[0].data.env_prop);
  EXPECT_FLOAT_EQ(1.5f, l[0].data.env_ch_abs_delta);
  EXPECT_FLOAT_EQ(0.0f, l[0].data.env_ch_rel_delta);
  EXPECT_EQ(5, l[1].index);
  EXPECT_STREQ("B", l[1].data.env_prop);
  EXPECT_FLOAT_EQ(0.0f, l[1].data.env_ch_abs_delta);
  EXPECT_FLOAT_EQ(0.25f, l[1].data.env_ch_rel_delta);
  EXPECT_EQ(7, l[2].index);
}

TEST(EnvDictRead, IncompleteChannelsYieldNothingAndFieldsAfterTheEndUpdateTheLastEntry) {
  OldList l;
  EXPECT_EQ(0, OldApi::read(dict("<CHANNEL><INDEX>1</INDEX></CHANNEL>"
                                 "<CHANNEL><INDEX>2</INDEX><PROP></PROP></CHANNEL>"
                                 "<CHANNEL><PROP>   </PROP><INDEX>3</INDEX></CHANNEL>"
                                 "<INDEX>99</INDEX><PROP>outside</PROP>"
                                 "<CHANNEL><INDEX> 42abc</INDEX><PROP>X</PROP><DREL>abc</DREL></CHANNEL>"
                                 "<DABS>2.5</DABS>"),
                            l));
  // The blank PROP counts as none; the fields after that channel's end
  // complete it.
  ASSERT_EQ(2u, l.size());
  EXPECT_EQ(99, l[0].index);
  EXPECT_STREQ("outside", l[0].data.env_prop);
  EXPECT_EQ(42, l[1].index);
  EXPECT_STREQ("X", l[1].data.env_prop);
  EXPECT_FLOAT_EQ(0.0f, l[1].data.env_ch_rel_delta);
  EXPECT_FLOAT_EQ(2.5f, l[1].data.env_ch_abs_delta);

  OldList n;
  EXPECT_EQ(0, OldApi::read(dict("<CHANNEL><INDEX>abc</INDEX><PROP>P</PROP></CHANNEL>"), n));
  ASSERT_EQ(1u, n.size());
  EXPECT_EQ(0, n[0].index);
}

TEST(EnvDictRead, NullArgumentsGiveOne) {
  std::vector<qal3_env_index_dictionary_entry*> o;
  std::vector<qal3_env_index_dictionary_entry_2010*> n;
  char doc[] = "<ENVINDEXDICT/>";
  EXPECT_EQ(1, parse_env_index_dict_list_read(nullptr, &o));
  EXPECT_EQ(1, parse_env_index_dict_list_read(doc, nullptr));
  EXPECT_EQ(1, parse_env_index_dict_readf_2010(nullptr, &n));
  EXPECT_EQ(1, parse_env_index_dict_list_read_2010(doc, nullptr));
  EXPECT_EQ(0, parse_env_index_dict_list_read_2010(doc, &n));
  capture_stdout([] {
    EXPECT_EQ(3, dump_env_index_dict(nullptr, nullptr, 2, -1));
    EXPECT_EQ(3, dump_env_index_dict_2010(nullptr, nullptr, 2, -1));
  });
}

TEST(EnvDictRead, LongNamesAreCutToTheLayout) {
  const std::string name(300, 'n');
  const std::string doc = dict("<CHANNEL><INDEX>1</INDEX><PROP>" + name.substr(0, 100) +
                               "</PROP></CHANNEL><CHANNEL><INDEX>2</INDEX><PROP>" + name +
                               "</PROP></CHANNEL>");
  OldList o;
  NewList n;
  EXPECT_EQ(0, OldApi::read(doc, o));
  EXPECT_EQ(0, NewApi::read(doc, n));
  ASSERT_EQ(2u, o.size());
  ASSERT_EQ(2u, n.size());
  EXPECT_EQ(name.substr(0, 79), o[0].data.env_prop);
  EXPECT_EQ(name.substr(0, 100), n[0].data.env_prop);
  EXPECT_EQ(name.substr(0, 255), n[1].data.env_prop);
}

TYPED_TEST(EnvDictBoth, ResultCodesAndRootMessage) {
  List<typename TypeParam::Entry> l;
  std::string err = capture_stderr([&] {
    EXPECT_EQ(1, TypeParam::read("<CHANNEL><INDEX>1</INDEX><PROP>A</PROP></CHANNEL>", l));
  });
  EXPECT_EQ("WRONG root tag: 'CHANNEL' must be 'ENVINDEXDICT'\n", err);
  EXPECT_EQ(0u, l.size());

  // A missing file, no file, an empty document.
  std::string missing = "/nonexistent/qal3-envdict.xml";
  capture_stderr([&] {
    EXPECT_NE(0, TypeParam::readf(&missing[0], l));
    EXPECT_NE(0, TypeParam::readf(nullptr, l));
    EXPECT_NE(0, TypeParam::read("", l));
  });

  // The file reader gives what the memory reader gives; the list is appended to.
  TempFile f(dict("<CHANNEL><INDEX>8</INDEX><PROP>F</PROP></CHANNEL>"));
  EXPECT_EQ(0, TypeParam::readf(f.c_path(), l));
  EXPECT_EQ(0, TypeParam::readf(f.c_path(), l));
  ASSERT_EQ(2u, l.size());
  EXPECT_STREQ("F", l[1].data.env_prop);
}

TYPED_TEST(EnvDictBoth, BrokenDocumentsKeepWhatWasReadAndNeverCrash) {
  List<typename TypeParam::Entry> l;
  capture_stderr([&] {
    // Entries before the error stay; the error shows in the result.
    EXPECT_GT(TypeParam::read("<ENVINDEXDICT><CHANNEL><INDEX>1</INDEX><PROP>A</PROP></CHANNEL>"
                              "<CHANNEL><INDEX>2</INDEX><PROP>B</PROPX></CHANNEL>",
                              l),
              0);
    EXPECT_GE(l.size(), 1u);
    // Unread channel records, odd text and truncation.
    for (const char* doc : {"<ENVINDEXDICT><CHANNEL><INDEX>1", "<ENVINDEXDICT><CHANNEL>",
                            "<ENVINDEXDICT>\x01\xff</ENVINDEXDICT>", "<?xml version=\"1.0\"?>",
                            "<ENVINDEXDICT><CHANNEL><INDEX>99999999999999999999</INDEX>"
                            "<PROP>&#0;</PROP></CHANNEL></ENVINDEXDICT>"})
      TypeParam::read(doc, l);
  });

  // Nested entities end quickly with a failure and bring no entry.
  std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE ENVINDEXDICT [\n<!ENTITY a0 \"lol\">\n";
  for (int i = 1; i <= 8; ++i) {
    bomb += "<!ENTITY a" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) bomb += "&a" + std::to_string(i - 1) + ";";
    bomb += "\">\n";
  }
  bomb += "]>\n<ENVINDEXDICT><CHANNEL><INDEX>1</INDEX><PROP>&a8;</PROP></CHANNEL></ENVINDEXDICT>\n";
  List<typename TypeParam::Entry> b;
  const auto t0 = std::chrono::steady_clock::now();
  capture_stderr([&] { EXPECT_NE(0, TypeParam::read(bomb, b)); });
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ(0u, b.size());
}

// ------------------------------------------------------------------ writing

TEST(EnvDictWrite, DocumentLayoutAndTextFormat) {
  OldList l;
  l.v.push_back(make_entry<qal3_env_index_dictionary_entry>(3, "A/B", 0.5f, 0.001f));
  l.v.push_back(make_entry<qal3_env_index_dictionary_entry>(-7, "", 1e7f, 0.0f));
  std::string doc;
  capture_stdout([&] { EXPECT_EQ(0, OldApi::dump(&l.v, nullptr, 3, -1, &doc)); });
  EXPECT_EQ(std::string(kHeader) +
                "<ENVINDEXDICT>\n\t<isodate>DATE</isodate>\n"
                "<CHANNEL>\n<INDEX>3</INDEX>\n<PROP>A/B</PROP>\n<DABS>0.500000</DABS>\n"
                "<DREL>0.001000</DREL>\n</CHANNEL>\n"
                "<CHANNEL>\n<INDEX>-7</INDEX>\n<PROP></PROP>\n<DABS>10000000.000000</DABS>\n"
                "<DREL>0.000000</DREL>\n</CHANNEL>\n"
                "</ENVINDEXDICT>\n\n",
            without_date(doc));

  // An empty list still makes a whole document.
  OldList empty;
  capture_stdout([&] { EXPECT_EQ(0, OldApi::dump(&empty.v, nullptr, 3, -1, &doc)); });
  EXPECT_EQ(std::string(kHeader) + "<ENVINDEXDICT>\n\t<isodate>DATE</isodate>\n</ENVINDEXDICT>\n\n",
            without_date(doc));

  TempFile text;
  capture_stdout([&] { EXPECT_EQ(0, OldApi::dump(&l.v, text.c_path(), 1, -1, nullptr)); });
  EXPECT_EQ("3\tA/B\t0.500000\t0.001000\n-7\t!!!UNDEFINED!!!\t10000000.000000\t0.000000\n",
            text.read());
}

TEST(EnvDictWrite, ConsoleListingInAnyModeWithoutDestination) {
  NewList l;
  l.v.push_back(make_entry<qal3_env_index_dictionary_entry_2010>(0, "T1", 0.1f, 0.005f));
  l.v.push_back(make_entry<qal3_env_index_dictionary_entry_2010>(12, "", 1234567.0f, 1e-6f));
  const std::string expected =
      "-------------- 1 -----------------\n Index : 0\n Channel: T1 DABS 0.1 DREL 0.005\n"
      "-------------- 2 -----------------\n Index : 12\n Channel:  DABS 1.23457e+06 DREL 1e-06\n";
  for (int mode : {0, 1, 2, 3, 7}) {
    int rc = -1;
    EXPECT_EQ(expected, capture_stdout([&] { rc = NewApi::dump(&l.v, nullptr, mode, -1, nullptr); }))
        << "mode " << mode;
    EXPECT_EQ(0, rc);
  }
}

TYPED_TEST(EnvDictBoth, WriterMessages) {
  using Entry = typename TypeParam::Entry;
  const std::string who = TypeParam::who;
  List<Entry> l;
  l.v.push_back(make_entry<Entry>(1, "P", 1.0f, 2.0f));

  int rc = 0;
  EXPECT_EQ(who + " invalid argument: '\n",
            capture_stdout([&] { rc = TypeParam::dump(nullptr, nullptr, 2, -1, nullptr); }));
  EXPECT_EQ(2, rc);

  std::string bad = "/nonexistent/dir/dict.xml";
  std::string err;
  const std::string out = capture_stdout([&] {
    err = capture_stderr([&] { rc = TypeParam::dump(&l.v, &bad[0], 2, -1, nullptr); });
  });
  EXPECT_EQ(who + " failed to open file: '" + bad + "'\n", out);
  EXPECT_EQ("fopen: No such file or directory\n", err);
  EXPECT_EQ(1, rc);

  // Mode 3 with a string and a file: the string gets the document, the
  // file is created and stays empty.
  TempFile f;
  std::string doc;
  EXPECT_EQ(who + "  file: '" + f.path() + "' has been created\n" + who + "  file: '" + f.path() +
                "' has been closed\n",
            capture_stdout([&] { rc = TypeParam::dump(&l.v, f.c_path(), 3, -1, &doc); }));
  EXPECT_EQ(0, rc);
  EXPECT_EQ("", f.read());
  EXPECT_NE(std::string::npos, doc.find("<PROP>P</PROP>"));

  // A descriptor that cannot be written.
  EXPECT_EQ(TypeParam::write_failed,
            capture_stdout([&] { rc = TypeParam::dump(&l.v, nullptr, 2, 987654, nullptr); }));
  EXPECT_EQ(2, rc);

  // A file whose writes fail is reported, not taken for success.
  std::string full = "/dev/full";
  const std::string msgs =
      capture_stdout([&] { rc = TypeParam::dump(&l.v, &full[0], 2, -1, nullptr); });
  EXPECT_EQ(2, rc);
  EXPECT_EQ(who + "  file: '/dev/full' has been created\n" + who +
                " failed to write file: '/dev/full'\n",
            msgs);
  capture_stdout([&] { rc = TypeParam::dump(&l.v, &full[0], 1, -1, nullptr); });
  EXPECT_EQ(2, rc);
}

TYPED_TEST(EnvDictBoth, ModeTwoWritesTheSameDocumentToFileAndDescriptor) {
  using Entry = typename TypeParam::Entry;
  List<Entry> l;
  for (int i = 0; i < 2000; ++i)
    l.v.push_back(make_entry<Entry>(i, "NAME/" + std::to_string(i), 0.5f * i, 0.25f));
  TempFile f;
  TempFile d;
  const int fd = ::open(d.path().c_str(), O_WRONLY | O_TRUNC);
  ASSERT_GE(fd, 0);
  capture_stdout([&] { EXPECT_EQ(0, TypeParam::dump(&l.v, f.c_path(), 2, fd, nullptr)); });
  ::close(fd);
  EXPECT_GT(f.read().size(), 100000u);
  EXPECT_EQ(f.read(), d.read());
}

TYPED_TEST(EnvDictBoth, WrittenDictionaryReadsBackToTheSameEntries) {
  using Entry = typename TypeParam::Entry;
  List<Entry> l;
  l.v.push_back(make_entry<Entry>(0, "plain/name", 0.125f, 0.5f));
  l.v.push_back(make_entry<Entry>(-3, "a & b <c> \"d\" 'e'", 123.456789f, 1e-6f));
  l.v.push_back(make_entry<Entry>(2147483647, "tab\there  and spaces ", 0.0f, 99999.5f));
  l.v.push_back(make_entry<Entry>(5, std::string(sizeof(l[0].data.env_prop) - 1, 'L'), 1.0f, 2.0f));

  auto same = [&](List<Entry>& back) {
    ASSERT_EQ(l.size(), back.size());
    for (std::size_t i = 0; i < l.size(); ++i) {
      EXPECT_EQ(l[i].index, back[i].index);
      EXPECT_STREQ(l[i].data.env_prop, back[i].data.env_prop);
      EXPECT_NEAR(l[i].data.env_ch_abs_delta, back[i].data.env_ch_abs_delta, 1e-5);
      EXPECT_NEAR(l[i].data.env_ch_rel_delta, back[i].data.env_ch_rel_delta, 1e-5);
    }
  };

  std::string doc;
  capture_stdout([&] { EXPECT_EQ(0, TypeParam::dump(&l.v, nullptr, 3, -1, &doc)); });
  List<Entry> from_string;
  EXPECT_EQ(0, TypeParam::read(doc, from_string));
  same(from_string);

  TempFile f;
  capture_stdout([&] { EXPECT_EQ(0, TypeParam::dump(&l.v, f.c_path(), 2, -1, nullptr)); });
  List<Entry> from_file;
  EXPECT_EQ(0, TypeParam::readf(f.c_path(), from_file));
  same(from_file);

  // The conversion form writes what it reads.
  TempFile again;
  capture_stdout([&] { EXPECT_EQ(0, TypeParam::convert(doc, again.c_path(), 2, -1)); });
  EXPECT_EQ(without_date(doc), without_date(again.read()));
}

TYPED_TEST(EnvDictBoth, ConversionOfAnUnreadableDocument) {
  int rc = 0;
  std::string out;
  const std::string err = capture_stderr([&] {
    out = capture_stdout([&] {
      rc = TypeParam::convert("<CHANNEL><INDEX>1</INDEX></CHANNEL>", nullptr, 2, -1);
    });
  });
  EXPECT_EQ(3, rc);
  EXPECT_EQ("Failed to parse ENV INDEX DICT list\n", out);
  EXPECT_EQ("WRONG root tag: 'CHANNEL' must be 'ENVINDEXDICT'\n", err);

  // Entries read before a parser error are released, not leaked.
  capture_stderr([&] {
    capture_stdout([&] {
      EXPECT_EQ(3, TypeParam::convert("<ENVINDEXDICT><CHANNEL><INDEX>1</INDEX><PROP>A</PROP>"
                                      "</CHANNEL><CHANNEL>",
                                      nullptr, 2, -1));
      EXPECT_EQ(3, TypeParam::convert("", nullptr, 2, -1));
    });
  });
}
