// Channel description writer: both XML formats byte for byte, the
// listing and table modes, axis parameters, repeated properties, escaping
// and round trips, destinations and their failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "chan_test_util.h"
#include "parse_chan_descr.h"
#include "test_util.h"

namespace chan_writer_test {
namespace {

using testutil::capture_stderr;
using testutil::capture_stdout;

using chantest::add_bit;
using chantest::add_dim;
using chantest::add_stat;
using chantest::List;
using chantest::ListGuard;
using chantest::make;

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n";

// Writes mode 2 into a string.
std::string to_string(List& l, int format, std::vector<dim_params*>* dims = nullptr, int* rc = nullptr) {
  std::string s;
  const int r = dump_chan_desr(&l, nullptr, 2, format, -1, &s, dims);
  if (rc) *rc = r;
  EXPECT_EQ(r, 0);
  return s;
}

// Removes the isodate line of a document written to a file.
std::string drop_isodate(const std::string& s) {
  const auto a = s.find("\t<isodate>");
  if (a == std::string::npos) return s;
  const auto b = s.find('\n', a);
  return s.substr(0, a) + s.substr(b + 1);
}

// --- CHANDESCRIPTIONS, byte for byte -----------------------------------------------

TEST(ChanWriterChandescriptions, ExactDocument) {
  ListGuard g;
  chan_descr_2010* d = make(g.list, "FLASH/BPM/X", "BPMX");
  d->stream = 1;
  d->ev_type = 5;
  d->dtype = 33;
  d->db_key = 12;
  d->count = 3;
  std::strcpy(d->sb_name, "SB");
  d->set_point = 1;
  std::strcpy(d->subsystem, "DIAG");
  std::strcpy(d->units, "mm");
  std::strcpy(d->prop_desc, "position");
  d->max_size = 4;
  add_bit(d, 3, "Ready", "device ready");
  dim_descr* dm = add_dim(d, 0, "time", "us", "time axis");
  add_stat(dm, 1, "mean", "mm", "mean value");
  make(g.list, "EMPTY");
  const std::string expected =
      kDecl +
      "<CHANDESCRIPTIONS>\n"
      "<CHANNEL>\n"
      "<STREAM>1</STREAM>\n<EVTYPE>5</EVTYPE>\n<DTYPE>33</DTYPE>\n<DB_KEY>12</DB_KEY>\n<COUNT>3</COUNT>\n"
      "<SB_NAME>SB</SB_NAME>\n<PROP>FLASH/BPM/X</PROP>\n<NAME>BPMX</NAME>\n<SETPOINT>1</SETPOINT>\n"
      "<SUBSYSTEM>DIAG</SUBSYSTEM>\n<UNITS>mm</UNITS>\n<DESC>position</DESC>\n<SIZE>4</SIZE>\n"
      "<BIT>3\n<BIT_NAME>Ready</BIT_NAME>\n<BIT_DESCR>device ready</BIT_DESCR>\n</BIT>\n"
      "<DIM>0\n<DIM_NAME>time</DIM_NAME>\n<DIM_UNITS>us</DIM_UNITS>\n<DIM_DESCR>time axis</DIM_DESCR>\n"
      "<STAT>1\n<STAT_NAME>mean</STAT_NAME>\n<STAT_UNITS>mm</STAT_UNITS>\n<STAT_DESCR>mean "
      "value</STAT_DESCR>\n</STAT>\n"
      "</DIM>\n"
      "</CHANNEL>\n"
      "<CHANNEL>\n"
      "<STREAM>0</STREAM>\n<EVTYPE>0</EVTYPE>\n<DTYPE>0</DTYPE>\n<DB_KEY>-1</DB_KEY>\n<COUNT>0</COUNT>\n"
      "<SB_NAME></SB_NAME>\n<PROP>EMPTY</PROP>\n<NAME>!!!UNDEFINED!!!</NAME>\n<SETPOINT>0</SETPOINT>\n"
      "<SUBSYSTEM></SUBSYSTEM>\n<UNITS></UNITS>\n<DESC></DESC>\n<SIZE>1</SIZE>\n"
      "</CHANNEL>\n"
      "</CHANDESCRIPTIONS>\n\n";
  EXPECT_EQ(to_string(g.list, 0), expected);
}

TEST(ChanWriterChandescriptions, FileGetsTheIsodateLine) {
  ListGuard g;
  make(g.list, "A", "a");
  testutil::TempFile f;
  EXPECT_EQ(dump_chan_desr(&g.list, f.c_path(), 2, 0, -1, nullptr, nullptr), 0);
  const std::string text = f.read();
  ASSERT_EQ(text.rfind(kDecl + "<CHANDESCRIPTIONS>\n\t<isodate>", 0), 0u) << text;
  const auto line_end = text.find('\n', kDecl.size() + 19);
  const std::string line = text.substr(kDecl.size() + 19, line_end - kDecl.size() - 19);
  // "\t<isodate>YYYY-MM-DDThh:mm:ss</isodate>"
  ASSERT_EQ(line.size(), 10u + 19u + 10u) << line;
  EXPECT_EQ(line.substr(29), "</isodate>");
  // The same document without the line is what the string receives.
  EXPECT_EQ(drop_isodate(text), to_string(g.list, 0));
}

TEST(ChanWriterChandescriptions, WrittenDocumentReadsBack) {
  ListGuard g;
  chan_descr_2010* d = make(g.list, "P1", "N1");
  d->stream = 2;
  d->ev_type = 7;
  d->dtype = 40;
  d->db_key = 99;
  d->count = 5;
  d->set_point = 1;
  d->max_size = 8;
  std::strcpy(d->sb_name, "S");
  std::strcpy(d->subsystem, "SUB");
  std::strcpy(d->units, "V");
  std::strcpy(d->prop_desc, "desc");
  add_bit(d, 0, "b0", "bit zero");
  add_bit(d, 7, "b7", "");
  dim_descr* x = add_dim(d, 0, "x", "mm", "x axis");
  add_stat(x, 0, "min", "mm", "minimum");
  add_stat(x, 3, "max", "mm", "maximum");
  add_dim(d, 1, "y", "", "");
  make(g.list, "P2");
  std::string doc = to_string(g.list, 0);
  ListGuard back;
  ASSERT_EQ(parse_descr_list_read(&doc[0], &back.list, false, false), 0);
  ASSERT_EQ(back.size(), 2u);
  const chan_descr_2010* r = back[0];
  EXPECT_EQ(r->stream, 2);
  EXPECT_EQ(r->ev_type, 7u);
  EXPECT_EQ(r->dtype, 40u);
  EXPECT_EQ(r->db_key, 99);
  EXPECT_EQ(r->count, 5);
  EXPECT_EQ(r->set_point, 1);
  EXPECT_EQ(r->max_size, 8);
  EXPECT_STREQ(r->sb_name, "S");
  ASSERT_EQ(r->nbits, 2);
  EXPECT_STREQ(r->bits[0]->bit_desc, "bit zero");
  EXPECT_EQ(r->bits[1]->bit, 7);
  ASSERT_EQ(r->ndims, 2);
  ASSERT_EQ(r->dims[0]->nstats, 2);
  EXPECT_EQ(r->dims[0]->stats[1]->stat, 3);
  EXPECT_STREQ(r->dims[0]->stats[1]->stat_desc, "maximum");
  EXPECT_STREQ(back[1]->daq_name, "!!!UNDEFINED!!!");
}

// --- DAQvariables, byte for byte ------------------------------------------------------

TEST(ChanWriterDaqvariables, EmptyListToAFile) {
  List l;
  testutil::TempFile f;
  EXPECT_EQ(dump_chan_desr(&l, f.c_path(), 2, 1, -1, nullptr, nullptr), 0);
  EXPECT_EQ(f.read(), kDecl + "<DAQvariables>\n</DAQvariables>\n\n");
}

TEST(ChanWriterDaqvariables, ExactDocument) {
  ListGuard g;
  chan_descr_2010* f = make(g.list, "P/F", "F");
  f->ev_type = 1;
  f->db_key = 3;
  std::strcpy(f->units, "V");
  chan_descr_2010* b = make(g.list, "P/B", "B");
  b->ev_type = 6;  // local
  add_bit(b, 0, "on", "switched on");
  add_bit(b, 4, "err", "error");
  chan_descr_2010* m = make(g.list, "P/M");
  m->ev_type = 20;  // ML
  m->max_size = 10;
  m->set_point = 1;
  std::strcpy(m->sb_name, "SB");
  std::strcpy(m->subsystem, "RF");
  std::strcpy(m->prop_desc, "matrix");
  add_bit(m, 1, "x", "ignored in name");
  add_dim(m, 0, "t", "us", "time");
  const std::string expected =
      kDecl +
      "<DAQvariables>\n"
      "<DaqFloat>\n<evType>1</evType>\n<nexol>P/F</nexol>\n<daqName>F</daqName>\n<DBKey>3</DBKey>\n"
      "<setPoint>0</setPoint>\n<sbName></sbName>\n<subSystem></subSystem>\n<description></description>\n"
      "<units>V</units>\n<freq>1</freq>\n</DaqFloat>\n"
      "<DaqBits>\n<evType>6</evType>\n<nexol>P/B</nexol>\n<daqName>B</daqName>\n<DBKey>-1</DBKey>\n"
      "<setPoint>0</setPoint>\n<sbName></sbName>\n<subSystem></subSystem>\n<description></description>\n"
      "<units></units>\n<bitTitle bit=\"0\">switched on</bitTitle>\n<bitTitle bit=\"4\">error</bitTitle>\n"
      "<freq>-1</freq>\n</DaqBits>\n"
      "<DaqFloatMatrix>\n<evType>20</evType>\n<nexol>P/M</nexol>\n<daqName>!!!UNDEFINED!!!</daqName>\n"
      "<DBKey>-1</DBKey>\n<setPoint>1</setPoint>\n<sbName>SB</sbName>\n<subSystem>RF</subSystem>\n"
      "<description>matrix</description>\n<units></units>\n<firstIndex>0</firstIndex>\n"
      "<lastIndex>9</lastIndex>\n<bitTitle bit=\"1\">ignored in name</bitTitle>\n"
      "<dimension id=\"0\">\n<name>t</name>\n<description>time</description>\n<units>us</units>\n"
      "</dimension>\n<freq>-1</freq>\n</DaqFloatMatrix>\n"
      "</DAQvariables>\n\n";
  EXPECT_EQ(to_string(g.list, 1), expected);
}

TEST(ChanWriterDaqvariables, ElementChoice) {
  ListGuard g;
  chan_descr_2010* bits1 = make(g.list, "A");
  add_bit(bits1, 0, "a", "");
  add_bit(bits1, 1, "b", "");
  chan_descr_2010* bits4 = make(g.list, "B");
  bits4->max_size = 4;
  add_bit(bits4, 0, "a", "");
  chan_descr_2010* zero = make(g.list, "C");
  zero->max_size = 0;  // not 1: matrix, but no indices
  make(g.list, "D");
  const std::string s = to_string(g.list, 1);
  const auto a = s.find("<DaqBits>\n<evType>0</evType>\n<nexol>A</nexol>");
  const auto b = s.find("<DaqFloatMatrix>\n<evType>0</evType>\n<nexol>B</nexol>");
  const auto c = s.find("<DaqFloatMatrix>\n<evType>0</evType>\n<nexol>C</nexol>");
  const auto d = s.find("<DaqFloat>\n<evType>0</evType>\n<nexol>D</nexol>");
  EXPECT_NE(a, std::string::npos);
  EXPECT_NE(b, std::string::npos);
  EXPECT_NE(c, std::string::npos);
  ASSERT_NE(d, std::string::npos);
  EXPECT_NE(s.find("<lastIndex>3</lastIndex>", b), std::string::npos);
  EXPECT_EQ(s.find("firstIndex", c), std::string::npos);  // neither C nor D
}

TEST(ChanWriterDaqvariables, ReadsBackAsFarAsTheFormatCarries) {
  ListGuard g;
  chan_descr_2010* m = make(g.list, "P/M", "M");
  m->ev_type = 3;
  m->stream = 4;                  // not carried
  m->dtype = 9;                   // not carried
  m->count = 2;                   // not carried
  m->db_key = 77;                 // written, not read
  std::strcpy(m->sb_name, "SB");  // written, not read
  m->set_point = 1;
  m->max_size = 10;
  std::strcpy(m->subsystem, "RF");
  std::strcpy(m->prop_desc, "d");
  std::strcpy(m->units, "V");
  dim_descr* x = add_dim(m, 2, "x", "mm", "x axis");
  add_stat(x, 0, "mean", "", "");  // not carried
  chan_descr_2010* b = make(g.list, "P/B", "B");
  add_bit(b, 5, "name5", "desc5");
  std::string doc = to_string(g.list, 1);
  ListGuard back;
  ASSERT_EQ(parse_descr_list_read(&doc[0], &back.list, false, false), 0);
  ASSERT_EQ(back.size(), 2u);
  const chan_descr_2010* r = back[0];
  EXPECT_STREQ(r->prop_name, "P/M");
  EXPECT_STREQ(r->daq_name, "M");
  EXPECT_EQ(r->ev_type, 3u);
  EXPECT_EQ(r->set_point, 1);
  EXPECT_EQ(r->max_size, 10);
  EXPECT_STREQ(r->subsystem, "RF");
  EXPECT_STREQ(r->prop_desc, "d");
  EXPECT_STREQ(r->units, "V");
  EXPECT_EQ(r->stream, 0);
  EXPECT_EQ(r->dtype, 0u);
  EXPECT_EQ(r->count, 0);
  EXPECT_EQ(r->db_key, 77);
  EXPECT_STREQ(r->sb_name, "SB");
  ASSERT_EQ(r->ndims, 1);
  EXPECT_EQ(r->dims[0]->dim, 2);
  EXPECT_STREQ(r->dims[0]->dim_name, "x");
  EXPECT_STREQ(r->dims[0]->units, "mm");
  EXPECT_STREQ(r->dims[0]->dim_desc, "x axis");
  EXPECT_EQ(r->dims[0]->nstats, 0);
  // bit titles: the description is written and read into the name and the description
  ASSERT_EQ(back[1]->nbits, 1);
  EXPECT_EQ(back[1]->bits[0]->bit, 5);
  EXPECT_STREQ(back[1]->bits[0]->bit_name, "desc5");
  EXPECT_STREQ(back[1]->bits[0]->bit_desc, "desc5");
}

// --- escaping: markup characters in record text read back as they were ---------------------

void fill_nasty(List& l) {
  chan_descr_2010* d = make(l, "A&B<C>\"D\"", "n&<>\"");
  std::strcpy(d->prop_desc, "x < y && y > \"z\"");
  std::strcpy(d->units, "&lt;<>");
  std::strcpy(d->sb_name, "sb&\"");
  std::strcpy(d->subsystem, "<sub>");
  d->max_size = 3;
  add_bit(d, 1, "b&<", "d>\"&amp;");
  dim_descr* dm = add_dim(d, 0, "dn<&>", "u\"&", "dd&<>\"");
  add_stat(dm, 2, "s&<>", "su<", "sd\"&>");
  chan_descr_2010* e = make(l, "]]>&#38;", "x");
  std::strcpy(e->prop_desc, "tab\there");
}

TEST(ChanWriterEscaping, ChandescriptionsRoundTripKeepsEveryText) {
  ListGuard g;
  fill_nasty(g.list);
  std::string doc = to_string(g.list, 0);
  EXPECT_NE(doc.find("<PROP>A&amp;B&lt;C&gt;&quot;D&quot;</PROP>"), std::string::npos) << doc;
  ListGuard back;
  ASSERT_EQ(parse_descr_list_read(&doc[0], &back.list, false, false), 0) << doc;
  ASSERT_EQ(back.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const chan_descr_2010* a = g[i];
    const chan_descr_2010* b = back[i];
    EXPECT_STREQ(b->prop_name, a->prop_name);
    EXPECT_STREQ(b->daq_name, a->daq_name);
    EXPECT_STREQ(b->prop_desc, a->prop_desc);
    EXPECT_STREQ(b->units, a->units);
    EXPECT_STREQ(b->sb_name, a->sb_name);
    EXPECT_STREQ(b->subsystem, a->subsystem);
    ASSERT_EQ(b->nbits, a->nbits);
    for (int k = 0; k < a->nbits; ++k) {
      EXPECT_STREQ(b->bits[k]->bit_name, a->bits[k]->bit_name);
      EXPECT_STREQ(b->bits[k]->bit_desc, a->bits[k]->bit_desc);
    }
    ASSERT_EQ(b->ndims, a->ndims);
    for (int k = 0; k < a->ndims; ++k) {
      EXPECT_STREQ(b->dims[k]->dim_name, a->dims[k]->dim_name);
      EXPECT_STREQ(b->dims[k]->dim_desc, a->dims[k]->dim_desc);
      EXPECT_STREQ(b->dims[k]->units, a->dims[k]->units);
      ASSERT_EQ(b->dims[k]->nstats, a->dims[k]->nstats);
      EXPECT_STREQ(b->dims[k]->stats[0]->stat_name, a->dims[k]->stats[0]->stat_name);
      EXPECT_STREQ(b->dims[k]->stats[0]->stat_desc, a->dims[k]->stats[0]->stat_desc);
      EXPECT_STREQ(b->dims[k]->stats[0]->units, a->dims[k]->stats[0]->units);
    }
  }
  // Written again, the document is the same.
  EXPECT_EQ(to_string(back.list, 0), doc);
}

TEST(ChanWriterEscaping, DaqvariablesRoundTripKeepsEveryCarriedText) {
  ListGuard g;
  fill_nasty(g.list);
  chan_descr_2010* bits = make(g.list, "bits&<>\"", "b");
  add_bit(bits, 6, "unused", "t&<>\"itle");
  std::string doc = to_string(g.list, 1);
  ListGuard back;
  ASSERT_EQ(parse_descr_list_read(&doc[0], &back.list, false, false), 0) << doc;
  ASSERT_EQ(back.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_STREQ(back[i]->prop_name, g[i]->prop_name);
    EXPECT_STREQ(back[i]->daq_name, g[i]->daq_name);
    EXPECT_STREQ(back[i]->prop_desc, g[i]->prop_desc);
    EXPECT_STREQ(back[i]->units, g[i]->units);
    EXPECT_STREQ(back[i]->subsystem, g[i]->subsystem);
  }
  EXPECT_EQ(back[0]->nbits, 0);  // bit titles are read only inside DaqBits
  ASSERT_EQ(back[2]->nbits, 1);
  EXPECT_STREQ(back[2]->bits[0]->bit_name, "t&<>\"itle");
  EXPECT_STREQ(back[0]->dims[0]->dim_name, g[0]->dims[0]->dim_name);
  EXPECT_STREQ(back[0]->dims[0]->dim_desc, g[0]->dims[0]->dim_desc);
  EXPECT_STREQ(back[0]->dims[0]->units, g[0]->dims[0]->units);
}

// --- repeated properties --------------------------------------------------------------

TEST(ChanWriterRepeats, OnlyTheFirstOfAPropertyIsWrittenInEveryMode) {
  ListGuard g;
  make(g.list, "A", "first");
  make(g.list, "B", "b");
  make(g.list, "A", "second");
  std::string s = to_string(g.list, 0);
  EXPECT_NE(s.find("<NAME>first</NAME>"), std::string::npos);
  EXPECT_EQ(s.find("second"), std::string::npos);
  s = to_string(g.list, 1);
  EXPECT_NE(s.find("<daqName>first</daqName>"), std::string::npos);
  EXPECT_EQ(s.find("second"), std::string::npos);
  for (int mode : {1, 3}) {
    testutil::TempFile f;
    capture_stdout([&] { EXPECT_EQ(dump_chan_desr(&g.list, f.c_path(), mode, 0, -1, nullptr, nullptr), 0); });
    const std::string text = f.read();
    EXPECT_NE(text.find("first"), std::string::npos) << mode;
    EXPECT_EQ(text.find("second"), std::string::npos) << mode;
  }
}

// --- mode 1 and mode 3 -----------------------------------------------------------------

TEST(ChanWriterListing, ExactText) {
  ListGuard g;
  chan_descr_2010* d = make(g.list, "P", "N");
  d->stream = 1;
  d->ev_type = 0x20;
  d->set_point = 1;
  std::strcpy(d->prop_desc, "desc");
  std::strcpy(d->units, "V");
  d->max_size = 3;
  add_bit(d, 2, "bn", "bd");
  dim_descr* dm = add_dim(d, 0, "dn", "du", "dd");
  add_stat(dm, 4, "sn", "su", "sd");
  add_dim(d, 1, "e", "", "");
  make(g.list, "Q");
  testutil::TempFile f;
  EXPECT_EQ(dump_chan_desr(&g.list, f.c_path(), 1, 1, -1, nullptr, nullptr), 0);
  EXPECT_EQ(f.read(),
            "1\t32\tN\tP\t1\t\"desc\"\t\"V\"\t3\t1\t2\n"
            "2\tbn\t\"bd\"\n"
            "0\tdn\t\"du\"\t\"dd\"\n"
            "1\n"
            "4\tsn\t\"su\"\t\"sd\"\n"
            "1\te\t\"\"\t\"\"\n"
            "0\n"
            "0\t0\t!!!UNDEFINED!!!\tQ\t0\t\"\"\t\"\"\t1\t0\t0\n");
}

TEST(ChanWriterTable, ExactTextAndTypeNames) {
  ListGuard g;
  make(g.list, "A", "CAM1")->dtype = 0x80000002;
  make(g.list, "B", "B")->dtype = 0;
  chan_descr_2010* c = make(g.list, "C", "C");
  c->dtype = 0x80000000;
  c->max_size = 7;
  make(g.list, "D", "D")->dtype = 0x2 | 0x8;
  testutil::TempFile f;
  const std::string out =
      capture_stdout([&] { EXPECT_EQ(dump_chan_desr(&g.list, f.c_path(), 3, 0, -1, nullptr, nullptr), 0); });
  char line[128];
  std::string expected;
  std::snprintf(line, sizeof line, "%50s\t%d\t%s\n", "CAM1", 1, block_name_itoa(33));
  expected += line;
  std::snprintf(line, sizeof line, "%50s\t%d\t%s\n", "B", 1, "UNKNOWN");
  expected += line;
  std::snprintf(line, sizeof line, "%50s\t%d\t%s\n", "C", 7, "UNKNOWN");
  expected += line;
  std::snprintf(line, sizeof line, "%50s\t%d\t%s\n", "D", 1, block_name_itoa(1));
  expected += line;
  EXPECT_EQ(f.read(), expected);
  EXPECT_EQ(std::string(block_name_itoa(33)), "UPD_BLOCK_2010");
  EXPECT_EQ(out, "\n\n\n");  // one empty line per non-zero dtype
}

TEST(ChanWriterModes, ListingAndTableWriteNothingWithoutAFile) {
  ListGuard g;
  make(g.list, "A", "a");
  std::string s;
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(dump_chan_desr(&g.list, nullptr, 1, 0, -1, &s, nullptr), 0); }), "");
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(dump_chan_desr(&g.list, nullptr, 3, 0, -1, &s, nullptr), 0); }), "");
  EXPECT_EQ(s, "");
}

TEST(ChanWriterModes, OtherModesWriteNothingPerChannel) {
  ListGuard g;
  make(g.list, "A", "a");
  testutil::TempFile f("old content");
  std::string s;
  EXPECT_EQ(dump_chan_desr(&g.list, f.c_path(), 7, 0, -1, &s, nullptr), 0);
  EXPECT_EQ(f.read(), "");
  EXPECT_EQ(s, "");
}

TEST(ChanWriterModes, NoDestinationPrintsTheList) {
  ListGuard g;
  make(g.list, "A", "a");
  make(g.list, "A", "dup");
  std::string printed = capture_stdout([&] { print_qal3_chan_descr(&g.list); });
  for (int mode : {1, 2, 3, 0}) {
    for (int format : {0, 1}) {
      std::string out =
          capture_stdout([&] { EXPECT_EQ(dump_chan_desr(&g.list, nullptr, mode, format, -1, nullptr, nullptr), 0); });
      EXPECT_EQ(out, printed) << mode;
    }
  }
  char empty[] = "";
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(dump_chan_desr(&g.list, empty, 2, 0), 0); }), printed);
  List none;
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(dump_chan_desr(&none, nullptr, 2, 0), 0); }), "");
}

// --- axis parameters -------------------------------------------------------------------------

qal3_image_ext_frame_head image(int width, int aoi_width, int hbin, int ispare4) {
  qal3_image_ext_frame_head h{};
  h.width = width;
  h.aoi_width = aoi_width;
  h.height = 480;
  h.aoi_height = 0;
  h.x_start = 10;
  h.y_start = 20;
  h.hbin = hbin;
  h.vbin = 0;
  h.bpp = 2;
  h.ebitpp = 0;
  h.ispare4 = ispare4;
  return h;
}

TEST(ChanWriterAxis, ImageEntryWithoutDimensionRecords) {
  ListGuard g;
  make(g.list, "P/CAM", "CAM1");
  qal3_image_ext_frame_head heads[2] = {image(640, 0, 0, -1), image(640, 320, 2, 1)};
  heads[1].vbin = 3;
  heads[1].ebitpp = 12;
  heads[1].fspare2 = 1.5f;
  heads[1].fspare3 = 0.25f;
  heads[1].ispare3 = 100;
  heads[1].ispare2 = 4;
  heads[1].fspare4 = 2.0f;
  char name[] = "CAM1";
  dim_params p{name, 2, nullptr, heads};
  std::vector<dim_params*> dims{&p};
  const std::string s = to_string(g.list, 0, &dims);
  const std::string expected_dims =
      "<SIZE>1</SIZE>\n"
      "<DIM>0\n<DIM_XSTART>10</DIM_XSTART>\n<DIM_WIDTH>640</DIM_WIDTH>\n<DIM_YSTART>20</DIM_YSTART>\n"
      "<DIM_HEIGHT>480</DIM_HEIGHT>\n<DIM_BPP>2</DIM_BPP>\n</DIM>\n"
      "<DIM>1\n<DIM_XSTART>10</DIM_XSTART>\n<DIM_WIDTH>320</DIM_WIDTH>\n<DIM_XBIN>2</DIM_XBIN>\n"
      "<DIM_YSTART>20</DIM_YSTART>\n<DIM_HEIGHT>480</DIM_HEIGHT>\n<DIM_YBIN>3</DIM_YBIN>\n"
      "<DIM_BPP>2</DIM_BPP>\n<DIM_EBITPP>12</DIM_EBITPP>\n<DIM_UNSIGNED>1</DIM_UNSIGNED>\n"
      "<DIM_START>1.500000e+00</DIM_START>\n<DIM_INC>2.500000e-01</DIM_INC>\n<DIM_NDATA>100</DIM_NDATA>\n"
      "<DIM_GROUPS>4</DIM_GROUPS>\n<DIM_GROUP_INC>2.000000e+00</DIM_GROUP_INC>\n</DIM>\n"
      "</CHANNEL>\n";
  EXPECT_NE(s.find(expected_dims), std::string::npos) << s;
  // Axis elements are never read: the document reads back with two dims.
  ListGuard back;
  std::string doc = s;
  ASSERT_EQ(parse_descr_list_read(&doc[0], &back.list, false, false), 0);
  EXPECT_EQ(back[0]->ndims, 2);
}

TEST(ChanWriterAxis, SpectrumEntryWithDimensionRecords) {
  ListGuard g;
  chan_descr_2010* d = make(g.list, "P/S", "SPEC");
  add_dim(d, 1, "second", "", "");
  add_dim(d, 0, "first", "", "");
  add_dim(d, 2, "beyond", "", "");     // dim == num: no axis elements
  add_dim(d, -1, "negative", "", "");  // negative: no axis elements
  qal3_spect_header_2010 sp[2] = {{0.5f, 0.125f, 1024, 2, 10.0f}, {-1.0f, 2.0f, 8, 1, 0.0f}};
  qal3_image_ext_frame_head im[2] = {image(100, 0, 0, -1), image(200, 0, 0, -1)};
  char name[] = "SPEC";
  dim_params p{name, 2, sp, im};
  std::vector<dim_params*> dims{&p};
  const std::string s = to_string(g.list, 0, &dims);
  EXPECT_NE(s.find("<DIM>1\n<DIM_NAME>second</DIM_NAME>\n<DIM_UNITS></DIM_UNITS>\n<DIM_DESCR></DIM_DESCR>\n"
                   "<DIM_START>-1.000000e+00</DIM_START>\n<DIM_INC>2.000000e+00</DIM_INC>\n"
                   "<DIM_NDATA>8</DIM_NDATA>\n<DIM_GROUPS>1</DIM_GROUPS>\n<DIM_GROUP_INC>0.000000e+00</DIM_GROUP_INC>\n"
                   "<DIM_XSTART>10</DIM_XSTART>\n<DIM_WIDTH>200</DIM_WIDTH>\n"),
            std::string::npos)
      << s;
  EXPECT_NE(
      s.find("<DIM>0\n<DIM_NAME>first</DIM_NAME>\n<DIM_UNITS></DIM_UNITS>\n<DIM_DESCR></DIM_DESCR>\n"
             "<DIM_START>5.000000e-01</DIM_START>\n<DIM_INC>1.250000e-01</DIM_INC>\n"
             "<DIM_NDATA>1024</DIM_NDATA>\n<DIM_GROUPS>2</DIM_GROUPS>\n<DIM_GROUP_INC>1.000000e+01</DIM_GROUP_INC>\n"
             "<DIM_XSTART>10</DIM_XSTART>\n<DIM_WIDTH>100</DIM_WIDTH>\n"),
      std::string::npos)
      << s;
  EXPECT_NE(s.find("<DIM>2\n<DIM_NAME>beyond</DIM_NAME>\n<DIM_UNITS></DIM_UNITS>\n<DIM_DESCR></DIM_DESCR>\n</DIM>\n"),
            std::string::npos);
  EXPECT_NE(
      s.find("<DIM>-1\n<DIM_NAME>negative</DIM_NAME>\n<DIM_UNITS></DIM_UNITS>\n<DIM_DESCR></DIM_DESCR>\n</DIM>\n"),
      std::string::npos);
}

// An axis value that "%e" with six decimals would change is written in the
// shortest text that reads back exactly.
TEST(ChanWriterAxis, ValuesKeepEveryDigit) {
  ListGuard g;
  chan_descr_2010* d = make(g.list, "P/S", "SPEC");
  add_dim(d, 0, "x", "", "");
  qal3_spect_header_2010 sp[1] = {{1.23456789f, 1e-7f, 16, 1, 3.0000002f}};
  char name[] = "SPEC";
  dim_params p{name, 1, sp, nullptr};
  std::vector<dim_params*> dims{&p};
  const std::string s = to_string(g.list, 0, &dims);
  EXPECT_NE(s.find("<DIM_START>1.2345679</DIM_START>\n<DIM_INC>1.000000e-07</DIM_INC>\n"
                   "<DIM_NDATA>16</DIM_NDATA>\n<DIM_GROUPS>1</DIM_GROUPS>\n"
                   "<DIM_GROUP_INC>3.0000002</DIM_GROUP_INC>\n"),
            std::string::npos)
      << s;
}

TEST(ChanWriterAxis, EntryChoice) {
  ListGuard g;
  make(g.list, "P1", "CAM");
  make(g.list, "P2");  // "!!!UNDEFINED!!!"
  make(g.list, "P3", "OTHER");
  qal3_spect_header_2010 a{1.0f, 1.0f, 11, 1, 0.0f};
  qal3_spect_header_2010 b{2.0f, 1.0f, 22, 1, 0.0f};
  qal3_spect_header_2010 c{3.0f, 1.0f, 33, 1, 0.0f};
  qal3_spect_header_2010 u{4.0f, 1.0f, 44, 1, 0.0f};
  char cam[] = "CAM", undef[] = "!!!UNDEFINED!!!";
  dim_params no_name{nullptr, 1, &a, nullptr};
  dim_params zero{cam, 0, &a, nullptr};
  dim_params no_arrays{cam, 1, nullptr, nullptr};
  dim_params first{cam, 1, &b, nullptr};
  dim_params second{cam, 1, &c, nullptr};
  dim_params for_undefined{undef, 1, &u, nullptr};
  std::vector<dim_params*> dims{nullptr, &no_name, &zero, &no_arrays, &first, &second, &for_undefined};
  const std::string s = to_string(g.list, 0, &dims);
  EXPECT_NE(s.find("<NAME>CAM</NAME>"), std::string::npos);
  EXPECT_NE(s.find("<DIM_NDATA>22</DIM_NDATA>"), std::string::npos) << s;
  EXPECT_EQ(s.find("<DIM_NDATA>11</DIM_NDATA>"), std::string::npos);
  EXPECT_EQ(s.find("<DIM_NDATA>33</DIM_NDATA>"), std::string::npos);
  EXPECT_NE(s.find("<DIM_NDATA>44</DIM_NDATA>"), std::string::npos);  // matched by the written name
  // No entry for OTHER: no dimensions written.
  const auto other = s.find("<NAME>OTHER</NAME>");
  ASSERT_NE(other, std::string::npos);
  EXPECT_EQ(s.find("<DIM>", other), std::string::npos);
  // Axis parameters are not used in DAQvariables.
  EXPECT_EQ(to_string(g.list, 1, &dims).find("DIM_"), std::string::npos);
}

TEST(ChanWriterAxis, NegativeNumWritesNoDimensions) {
  ListGuard g;
  make(g.list, "P", "N");
  qal3_spect_header_2010 a{};
  char n[] = "N";
  dim_params p{n, -3, &a, nullptr};
  std::vector<dim_params*> dims{&p};
  EXPECT_EQ(to_string(g.list, 0, &dims).find("<DIM>"), std::string::npos);
}

// --- arguments and destinations -------------------------------------------------------

TEST(ChanWriterArgs, InvalidArguments) {
  ListGuard g;
  make(g.list, "A");
  for (int format : {-1, 2}) {
    std::string out = capture_stdout([&] { EXPECT_EQ(dump_chan_desr(&g.list, nullptr, 2, format), 2); });
    EXPECT_EQ(out, "dump_chan_desr() invalid argument: '\n");
  }
  std::string out = capture_stdout([&] { EXPECT_EQ(dump_chan_desr(nullptr, nullptr, 2, 0), 2); });
  EXPECT_EQ(out, "dump_chan_desr() invalid argument: '\n");
}

TEST(ChanWriterArgs, FileThatCannotBeOpened) {
  ListGuard g;
  make(g.list, "A");
  char path[] = "/nonexistent-dir/qal3/out.xml";
  std::string err;
  const std::string out =
      capture_stdout([&] { err = capture_stderr([&] { EXPECT_EQ(dump_chan_desr(&g.list, path, 2, 0), 1); }); });
  EXPECT_EQ(out, "dump_chan_desr() failed to open file: '/nonexistent-dir/qal3/out.xml'\n");
  EXPECT_EQ(err.rfind("fopen: ", 0), 0u) << err;
}

TEST(ChanWriterArgs, AllDestinationsGetTheSameDocument) {
  ListGuard g;
  make(g.list, "A", "a");
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  testutil::TempFile f;
  std::string s = "kept:";
  EXPECT_EQ(dump_chan_desr(&g.list, f.c_path(), 2, 1, fds[1], &s, nullptr), 0);
  close(fds[1]);
  std::string piped;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) piped.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  EXPECT_EQ(f.read(), piped);
  EXPECT_EQ(s, "kept:" + piped);
  // Format 0: only the file gets the isodate line.
  std::string s0;
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_EQ(dump_chan_desr(&g.list, f.c_path(), 2, 0, fds[1], &s0, nullptr), 0);
  close(fds[1]);
  piped.clear();
  while ((n = read(fds[0], buf, sizeof buf)) > 0) piped.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  EXPECT_EQ(piped, s0);
  EXPECT_NE(s0.find("<isodate>"), std::string::npos);  // the file was open while building
  EXPECT_EQ(f.read(), s0);
}

TEST(ChanWriterFailures, DescriptorWriteFailureGivesTwo) {
  ListGuard g;
  make(g.list, "A", "a");
  const int fd = open("/dev/full", O_WRONLY);
  ASSERT_GE(fd, 0);
  std::string s;
  const std::string out =
      capture_stdout([&] { EXPECT_EQ(dump_chan_desr(&g.list, nullptr, 2, 0, fd, &s, nullptr), 2); });
  close(fd);
  EXPECT_EQ(out, "dump_chan_desr()  write failed\n");
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  signal(SIGPIPE, SIG_IGN);
  capture_stdout([&] { EXPECT_EQ(dump_chan_desr(&g.list, nullptr, 2, 1, fds[1], nullptr, nullptr), 2); });
  close(fds[1]);
  capture_stdout([&] { EXPECT_EQ(dump_chan_desr(&g.list, nullptr, 2, 1, 987654, nullptr, nullptr), 2); });
}

TEST(ChanWriterFailures, FileWriteFailureGivesTwo) {
  ListGuard g;
  for (int i = 0; i < 200; ++i) make(g.list, ("PROP" + std::to_string(i)).c_str(), "n");
  char full[] = "/dev/full";
  for (int mode : {1, 2, 3}) {
    std::string out =
        capture_stdout([&] { EXPECT_EQ(dump_chan_desr(&g.list, full, mode, 0, -1, nullptr, nullptr), 2) << mode; });
    EXPECT_NE(out.find("dump_chan_desr()  write failed\n"), std::string::npos) << mode;
  }
}

std::atomic<int> g_alarms{0};
extern "C" void on_alarm(int) { g_alarms.fetch_add(1); }

TEST(ChanWriterFailures, InterruptedAndShortDescriptorWritesAreContinued) {
  ListGuard g;
  for (int i = 0; i < 20000; ++i) {
    chan_descr_2010* d = make(g.list, ("FLASH.DIAG/CHANNEL/" + std::to_string(i)).c_str(), "n");
    std::strcpy(d->prop_desc, "a description that makes the document larger than any pipe buffer");
  }
  std::string expected;
  ASSERT_EQ(dump_chan_desr(&g.list, nullptr, 2, 0, -1, &expected, nullptr), 0);
  ASSERT_GT(expected.size(), 1000000u);

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  // A slow reader that never takes the signal.
  std::string got;
  std::thread reader([&] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    char buf[8192];
    ssize_t n;
    int k = 0;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) {
      got.append(buf, static_cast<std::size_t>(n));
      if (++k % 8 == 0) usleep(1000);
    }
  });
  struct sigaction sa {};
  sa.sa_handler = on_alarm;
  sa.sa_flags = 0;  // no SA_RESTART: write returns early with a short count or EINTR
  struct sigaction old {};
  sigaction(SIGALRM, &sa, &old);
  itimerval tv{};
  tv.it_interval.tv_usec = 500;
  tv.it_value.tv_usec = 500;
  setitimer(ITIMER_REAL, &tv, nullptr);
  const int r = dump_chan_desr(&g.list, nullptr, 2, 0, fds[1], nullptr, nullptr);
  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &old, nullptr);
  close(fds[1]);
  reader.join();
  close(fds[0]);
  EXPECT_EQ(r, 0);
  EXPECT_GT(g_alarms.load(), 0);
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
}

// --- dump_chan_desr_from_xml ---------------------------------------------------------------

TEST(ChanWriterFromXml, ReadFailureGivesThree) {
  char bad[] = "<CHANNELS/>";
  std::string out;
  capture_stderr([&] { out = capture_stdout([&] { EXPECT_EQ(dump_chan_desr_from_xml(bad, nullptr, 2, 0, -1), 3); }); });
  EXPECT_EQ(out, "Failed to parse CHANDESCR list\n");
  char broken[] = "<CHANDESCRIPTIONS><CHANNEL><PROP>A</PROP></CHANNEL>";
  capture_stderr(
      [&] { out = capture_stdout([&] { EXPECT_EQ(dump_chan_desr_from_xml(broken, nullptr, 2, 0, -1), 3); }); });
  EXPECT_EQ(out, "Failed to parse CHANDESCR list\n");
  capture_stderr(
      [&] { out = capture_stdout([&] { EXPECT_EQ(dump_chan_desr_from_xml(nullptr, nullptr, 2, 0, -1), 3); }); });
}

TEST(ChanWriterFromXml, ConvertsWithMasks) {
  char doc[] =
      "<CHANDESCRIPTIONS><CHANNEL><EVTYPE>5</EVTYPE><DTYPE>33</DTYPE><PROP>A</PROP><NAME>a</NAME>"
      "</CHANNEL><CHANNEL><PROP>A</PROP></CHANNEL></CHANDESCRIPTIONS>";
  testutil::TempFile f;
  EXPECT_EQ(dump_chan_desr_from_xml(doc, f.c_path(), 2, 1, -1), 0);
  const std::string daq = f.read();
  EXPECT_NE(daq.find("<evType>32</evType>"), std::string::npos) << daq;
  EXPECT_EQ(daq.find("!!!UNDEFINED"), std::string::npos);  // the repeat is not written
  EXPECT_EQ(dump_chan_desr_from_xml(doc, f.c_path(), 2, 0, -1), 0);
  const std::string chan = f.read();
  EXPECT_NE(chan.find("<EVTYPE>32</EVTYPE>\n<DTYPE>-2147483646</DTYPE>"), std::string::npos) << chan;
  EXPECT_EQ(dump_chan_desr_from_xml(doc, f.c_path(), 1, 0, -1), 0);
  EXPECT_EQ(f.read().substr(0, 7), "0\t32\ta\t");
  const int fd = open("/dev/full", O_WRONLY);
  capture_stdout([&] { EXPECT_EQ(dump_chan_desr_from_xml(doc, nullptr, 2, 0, fd), 2); });
  close(fd);
}

// Found by fuzzing: non-ASCII text went out as raw UTF-8 bytes under the
// ISO-8859-1 declaration and read back as other characters; a text cut at a
// field's size could end in half a character, which no document can carry.
TEST(ChanWriterRoundTrip, NonAsciiTextInBothFormats) {
  ListGuard g;
  chan_descr_2010* d = make(g.list, "R\xc3\xb6hre/\xe2\x82\xac", "K\xc3\xa4lte");
  std::snprintf(d->prop_desc, sizeof d->prop_desc, "%s",
                "Temperatur \xc2\xb0"
                "C \xf0\x9f\x98\x80");
  add_bit(d, 2, "b\xc3\xa9", "d\xc3\xa9");
  for (int format : {0, 1}) {
    std::string doc;
    ASSERT_EQ(dump_chan_desr(&g.list, nullptr, 2, format, -1, &doc), 0);
    EXPECT_EQ(doc.find_first_of("\x80\xff"), std::string::npos) << doc;  // an ASCII document
    ListGuard back;
    ASSERT_EQ(parse_descr_list_read(&doc[0], &back.list, false, false), 0) << doc;
    ASSERT_EQ(back.size(), 1u);
    EXPECT_STREQ(back[0]->prop_name, d->prop_name);
    EXPECT_STREQ(back[0]->daq_name, d->daq_name);
    EXPECT_STREQ(back[0]->prop_desc, d->prop_desc);
    ASSERT_EQ(back[0]->nbits, 1);
    EXPECT_STREQ(back[0]->bits[0]->bit_name, format == 0 ? "b\xc3\xa9" : "d\xc3\xa9");
  }

  // 300 two-byte characters after one ASCII byte: the property keeps the
  // ASCII byte and 127 whole characters (255 bytes); the units, whose field
  // has 15 bytes, keep 7 whole characters of "\xc3\xa9" after "m".
  std::string prop = "P";
  for (int i = 0; i < 300; ++i) prop += "\xc3\xa9";
  std::string units = "m";
  for (int i = 0; i < 10; ++i) units += "\xc3\xa9";
  std::string doc =
      "<CHANDESCRIPTIONS><CHANNEL><PROP>" + prop + "</PROP><UNITS>" + units + "</UNITS></CHANNEL></CHANDESCRIPTIONS>";
  ListGuard cut;
  ASSERT_EQ(parse_descr_list_read(&doc[0], &cut.list, false, false), 0);
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(std::string(cut[0]->prop_name), prop.substr(0, 255));
  EXPECT_EQ(std::string(cut[0]->units), units.substr(0, 15));
  std::string more =
      "<CHANDESCRIPTIONS><CHANNEL><PROP>Q" + prop + "</PROP><UNITS>x" + units + "</UNITS></CHANNEL></CHANDESCRIPTIONS>";
  ASSERT_EQ(parse_descr_list_read(&more[0], &cut.list, false, false), 0);
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(std::string(cut[1]->prop_name), ("Q" + prop).substr(0, 254));
  EXPECT_EQ(std::string(cut[1]->units), ("x" + units).substr(0, 14));
}

// Found by fuzzing: a channel of size 1 with dimensions was written as
// "DaqFloat" with "dimension" elements, which the reader takes only inside
// "DaqFloatMatrix": the last dimension's description and units came back as
// the channel's own.
TEST(ChanWriterRoundTrip, DimensionsOfAScalarDoNotReplaceItsDescription) {
  ListGuard g;
  chan_descr_2010* d = make(g.list, "P", "p");
  std::snprintf(d->prop_desc, sizeof d->prop_desc, "%s", "channel");
  std::snprintf(d->units, sizeof d->units, "%s", "V");
  add_dim(d, 0, "x", "mm", "axis");
  std::string doc;
  ASSERT_EQ(dump_chan_desr(&g.list, nullptr, 2, 1, -1, &doc), 0);
  EXPECT_EQ(doc.find("<dimension"), std::string::npos) << doc;
  ListGuard back;
  ASSERT_EQ(parse_descr_list_read(&doc[0], &back.list, false, false), 0);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_STREQ(back[0]->prop_desc, "channel");
  EXPECT_STREQ(back[0]->units, "V");
  EXPECT_EQ(back[0]->ndims, 0);
}
}  // namespace
}  // namespace chan_writer_test
