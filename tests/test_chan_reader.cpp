// Channel description reader: both formats, every field rule,
// shift, delete_duplicated, merging (memory and file rules), messages, the
// file reader's differences, repeated property elements, hostile documents.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "chan_test_util.h"
#include "document_limits.h"
#include "parse_chan_descr.h"
#include "test_util.h"

namespace chan_reader_test {
namespace {

using testutil::capture_stderr;
using testutil::capture_stdout;

using chantest::List;
using chantest::ListGuard;

const char kHeader[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n";

std::string chandoc(const std::string& body) {
  return kHeader + std::string("<CHANDESCRIPTIONS>\n") + body + "</CHANDESCRIPTIONS>\n";
}
std::string daqdoc(const std::string& body) {
  return kHeader + std::string("<DAQvariables>\n") + body + "</DAQvariables>\n";
}

// The two readers over the same text.
enum class Via { memory, file };

int read(Via via, const std::string& doc, List* list, bool shift = false, bool dedup = false,
         std::string* out = nullptr, std::string* err = nullptr) {
  int r = -100;
  std::string o, e;
  if (via == Via::memory) {
    std::string text = doc;
    o = capture_stdout([&] { e = capture_stderr([&] { r = parse_descr_list_read(&text[0], list, shift, dedup); }); });
  } else {
    testutil::TempFile f(doc);
    o = capture_stdout(
        [&] { e = capture_stderr([&] { r = parse_descr_list_readf(f.c_path(), list, shift, dedup); }); });
  }
  if (out) *out = o;
  if (err) *err = e;
  return r;
}

class BothReaders : public ::testing::TestWithParam<Via> {};
INSTANTIATE_TEST_SUITE_P(Chan, BothReaders, ::testing::Values(Via::memory, Via::file),
                         [](const auto& info) { return std::string(info.param == Via::memory ? "Memory" : "File"); });

// --- arguments and the root element ------------------------------------------------

TEST(ChanReaderArgs, NullListGivesTwo) {
  char doc[] = "<CHANDESCRIPTIONS/>";
  EXPECT_EQ(parse_descr_list_read(doc, nullptr, false, false), 2);
  testutil::TempFile f(doc);
  EXPECT_EQ(parse_descr_list_readf(f.c_path(), nullptr, false, false), 2);
}

TEST(ChanReaderArgs, NullOrMissingDocumentFails) {
  ListGuard g;
  std::string err = capture_stderr([&] {
    EXPECT_GE(parse_descr_list_read(nullptr, &g.list, false, false), 1);
    char missing[] = "/nonexistent/qal3/descr.xml";
    EXPECT_GE(parse_descr_list_readf(missing, &g.list, false, false), 1);
    EXPECT_GE(parse_descr_list_readf(nullptr, &g.list, false, false), 1);
    char empty[] = "";
    EXPECT_GE(parse_descr_list_read(empty, &g.list, false, false), 1);
  });
  EXPECT_EQ(g.size(), 0u);
}

TEST_P(BothReaders, WrongRootTag) {
  ListGuard g;
  std::string err;
  EXPECT_EQ(read(GetParam(), std::string(kHeader) + "<CHANNELS><CHANNEL><PROP>A</PROP></CHANNEL></CHANNELS>", &g.list,
                 false, false, nullptr, &err),
            1);
  EXPECT_EQ(err, "WRONG root tag: 'CHANNELS' must be 'CHANDESCRIPTIONS or DAQvariables'\n");
  EXPECT_EQ(g.size(), 0u);
}

TEST_P(BothReaders, EmptyDocumentsOfBothFormats) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(), chandoc(""), &g.list), 0);
  EXPECT_EQ(read(GetParam(), daqdoc(""), &g.list), 0);
  EXPECT_EQ(read(GetParam(), "<CHANDESCRIPTIONS/>", &g.list), 0);
  EXPECT_EQ(g.size(), 0u);
}

// --- CHANDESCRIPTIONS ----------------------------------------------------------------

TEST_P(BothReaders, MinimalChannelGetsDefaults) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(), chandoc("<CHANNEL>\n<PROP>A</PROP>\n<NAME>a</NAME>\n</CHANNEL>\n"), &g.list), 0);
  ASSERT_EQ(g.size(), 1u);
  const chan_descr_2010* d = g[0];
  EXPECT_STREQ(d->prop_name, "A");
  EXPECT_STREQ(d->daq_name, "a");
  EXPECT_EQ(d->db_key, -1);
  EXPECT_EQ(d->max_size, 1);
  EXPECT_EQ(d->stream, 0);
  EXPECT_EQ(d->ev_type, 0u);
  EXPECT_EQ(d->dtype, 0u);
  EXPECT_EQ(d->count, 0);
  EXPECT_EQ(d->set_point, 0);
  EXPECT_EQ(d->nbits, 0);
  EXPECT_EQ(d->ndims, 0);
  EXPECT_STREQ(d->units, "");
  EXPECT_STREQ(d->sb_name, "");
}

const char kFullChannel[] =
    "<CHANNEL>\n"
    "<STREAM>2</STREAM>\n<EVTYPE>5</EVTYPE>\n<DTYPE>33</DTYPE>\n<DB_KEY>12</DB_KEY>\n"
    "<COUNT>4</COUNT>\n<SB_NAME>SB1</SB_NAME>\n<PROP>FLASH/X</PROP>\n<NAME>X1</NAME>\n"
    "<SETPOINT>1</SETPOINT>\n<SUBSYSTEM>DIAG</SUBSYSTEM>\n<UNITS>mm</UNITS>\n"
    "<DESC>position</DESC>\n<SIZE>16</SIZE>\n"
    "<BIT>3\n<BIT_NAME>Ready</BIT_NAME>\n<BIT_DESCR>device ready</BIT_DESCR>\n</BIT>\n"
    "<BIT>5\n<BIT_NAME>Err</BIT_NAME>\n</BIT>\n"
    "<DIM>0\n<DIM_NAME>time</DIM_NAME>\n<DIM_UNITS>us</DIM_UNITS>\n<DIM_DESCR>time axis</DIM_DESCR>\n"
    "<STAT>1\n<STAT_NAME>mean</STAT_NAME>\n<STAT_UNITS>mm</STAT_UNITS>\n<STAT_DESCR>mean value</STAT_DESCR>\n</STAT>\n"
    "<STAT>2\n<STAT_NAME>rms</STAT_NAME>\n</STAT>\n"
    "</DIM>\n"
    "<DIM>1\n<DIM_NAME>bunch</DIM_NAME>\n</DIM>\n"
    "</CHANNEL>\n";

TEST_P(BothReaders, EveryChandescriptionsField) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(), chandoc(kFullChannel), &g.list), 0);
  ASSERT_EQ(g.size(), 1u);
  const chan_descr_2010* d = g[0];
  EXPECT_EQ(d->stream, 2);
  EXPECT_EQ(d->ev_type, 5u);
  EXPECT_EQ(d->dtype, 33u);
  EXPECT_EQ(d->db_key, 12);
  EXPECT_EQ(d->count, 4);
  EXPECT_STREQ(d->sb_name, "SB1");
  EXPECT_STREQ(d->prop_name, "FLASH/X");
  EXPECT_STREQ(d->daq_name, "X1");
  EXPECT_EQ(d->set_point, 1);
  EXPECT_STREQ(d->subsystem, "DIAG");
  EXPECT_STREQ(d->units, "mm");
  EXPECT_STREQ(d->prop_desc, "position");
  EXPECT_EQ(d->max_size, 16);
  ASSERT_EQ(d->nbits, 2);
  ASSERT_EQ(d->bits.size(), 2u);
  EXPECT_EQ(d->bits[0]->bit, 3);
  EXPECT_STREQ(d->bits[0]->bit_name, "Ready");
  EXPECT_STREQ(d->bits[0]->bit_desc, "device ready");
  EXPECT_EQ(d->bits[1]->bit, 5);
  EXPECT_STREQ(d->bits[1]->bit_desc, "");
  ASSERT_EQ(d->ndims, 2);
  ASSERT_EQ(d->dims.size(), 2u);
  const dim_descr* t = d->dims[0];
  EXPECT_EQ(t->dim, 0);
  EXPECT_STREQ(t->dim_name, "time");
  EXPECT_STREQ(t->units, "us");
  EXPECT_STREQ(t->dim_desc, "time axis");
  ASSERT_EQ(t->nstats, 2);
  ASSERT_EQ(t->stats.size(), 2u);
  EXPECT_EQ(t->stats[0]->stat, 1);
  EXPECT_STREQ(t->stats[0]->stat_name, "mean");
  EXPECT_STREQ(t->stats[0]->units, "mm");
  EXPECT_STREQ(t->stats[0]->stat_desc, "mean value");
  EXPECT_STREQ(t->stats[1]->stat_name, "rms");
  EXPECT_EQ(d->dims[1]->dim, 1);
  EXPECT_EQ(d->dims[1]->nstats, 0);
  EXPECT_STREQ(d->dims[1]->dim_name, "bunch");
}

TEST_P(BothReaders, NumbersFollowStrtol) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(),
                 chandoc("<CHANNEL><PROP>A</PROP><STREAM>  42abc</STREAM><SIZE>x</SIZE>"
                         "<DB_KEY>-3</DB_KEY><COUNT>+7</COUNT><SETPOINT>0x10</SETPOINT></CHANNEL>"),
                 &g.list),
            0);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ(g[0]->stream, 42);
  EXPECT_EQ(g[0]->max_size, 0);
  EXPECT_EQ(g[0]->db_key, -3);
  EXPECT_EQ(g[0]->count, 7);
  EXPECT_EQ(g[0]->set_point, 0);
}

TEST_P(BothReaders, TextsAreCutToTheirArrays) {
  ListGuard g;
  const std::string p300(300, 'p'), u20 = "abcdefghijklmnopqrst", n70(70, 'n'), d90(90, 'd');
  EXPECT_EQ(read(GetParam(),
                 chandoc("<CHANNEL><PROP>" + p300 + "</PROP><UNITS>" + u20 + "</UNITS><SUBSYSTEM>" + n70 +
                         "</SUBSYSTEM><BIT>1<BIT_NAME>" + n70 + "</BIT_NAME><BIT_DESCR>" + d90 +
                         "</BIT_DESCR></BIT><DIM>0<DIM_UNITS>" + u20 + "</DIM_UNITS><DIM_DESCR>" + d90 +
                         "</DIM_DESCR></DIM></CHANNEL>"),
                 &g.list),
            0);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ(std::string(g[0]->prop_name), p300.substr(0, 255));
  EXPECT_STREQ(g[0]->units, "abcdefghijklmno");
  EXPECT_EQ(std::string(g[0]->subsystem), n70.substr(0, 63));
  EXPECT_EQ(std::string(g[0]->bits[0]->bit_name), n70.substr(0, 63));
  EXPECT_EQ(std::string(g[0]->bits[0]->bit_desc), d90.substr(0, 79));
  EXPECT_EQ(std::string(g[0]->dims[0]->units), u20.substr(0, 15));
  EXPECT_EQ(std::string(g[0]->dims[0]->dim_desc), d90.substr(0, 79));

  // An element's text is read up to the parser's limit; one character more is an error.
  for (const std::size_t length : {qal3::limits::kMaxTextUnits, qal3::limits::kMaxTextUnits + 1}) {
    ListGuard big;
    std::string err;
    const bool over = length > qal3::limits::kMaxTextUnits;
    const int rc = read(GetParam(), chandoc("<CHANNEL><PROP>" + std::string(length, 'p') + "</PROP></CHANNEL>"),
                        &big.list, false, false, nullptr, &err);
    EXPECT_EQ(rc != 0, over) << length;
    EXPECT_EQ(err.find("element text longer than 1048576 characters") != std::string::npos, over) << err;
    if (!over) {
      ASSERT_EQ(big.size(), 1u);
      EXPECT_EQ(std::string(big[0]->prop_name), p300.substr(0, 255));
    }
  }
}

TEST_P(BothReaders, ShiftMakesMasks) {
  ListGuard g;
  const std::string doc = chandoc(
      "<CHANNEL><EVTYPE>5</EVTYPE><DTYPE>33</DTYPE><PROP>A</PROP></CHANNEL>"
      "<CHANNEL><EVTYPE>31</EVTYPE><DTYPE>31</DTYPE><PROP>B</PROP></CHANNEL>"
      "<CHANNEL><EVTYPE>32</EVTYPE><DTYPE>62</DTYPE><PROP>C</PROP></CHANNEL>"
      "<CHANNEL><EVTYPE>-1</EVTYPE><DTYPE>63</DTYPE><PROP>D</PROP></CHANNEL>"
      "<CHANNEL><EVTYPE>99999999999</EVTYPE><DTYPE>-5</DTYPE><PROP>E</PROP></CHANNEL>"
      "<CHANNEL><EVTYPE>0</EVTYPE><DTYPE>0</DTYPE><PROP>F</PROP></CHANNEL>");
  EXPECT_EQ(read(GetParam(), doc, &g.list, true), 0);
  ASSERT_EQ(g.size(), 6u);
  EXPECT_EQ(g[0]->ev_type, 0x20u);
  EXPECT_EQ(g[0]->dtype, 0x80000002u);
  EXPECT_EQ(g[1]->ev_type, 0x80000000u);
  EXPECT_EQ(g[1]->dtype, 0x80000000u);
  EXPECT_EQ(g[2]->ev_type, 0u);  // outside 0..31
  EXPECT_EQ(g[2]->dtype, 0xC0000000u);
  EXPECT_EQ(g[3]->ev_type, 0u);
  EXPECT_EQ(g[3]->dtype, 0u);  // outside 0..62
  EXPECT_EQ(g[4]->ev_type, 0u);
  EXPECT_EQ(g[4]->dtype, 0u);
  EXPECT_EQ(g[5]->ev_type, 1u);
  EXPECT_EQ(g[5]->dtype, 1u);
  clean_chan_desr_list(&g.list);
  EXPECT_EQ(read(GetParam(), doc, &g.list, false), 0);
  ASSERT_EQ(g.size(), 6u);
  EXPECT_EQ(g[0]->ev_type, 5u);
  EXPECT_EQ(g[0]->dtype, 33u);
  EXPECT_EQ(g[3]->ev_type, 0xFFFFFFFFu);
}

TEST_P(BothReaders, ChannelWithoutPropIsNeverAppended) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(),
                 chandoc("<CHANNEL><NAME>a</NAME><BIT>1<BIT_NAME>x</BIT_NAME></BIT><DIM>0<STAT>1</STAT></DIM>"
                         "</CHANNEL><CHANNEL></CHANNEL><CHANNEL/><CHANNEL><PROP>B</PROP></CHANNEL>"
                         "<CHANNEL><NAME>last</NAME></CHANNEL>"),
                 &g.list),
            0);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_STREQ(g[0]->prop_name, "B");
}

TEST_P(BothReaders, FieldsAfterPropStillGoIntoTheRecord) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(), chandoc("<CHANNEL><PROP>A</PROP><NAME>n</NAME><EVTYPE>3</EVTYPE></CHANNEL>"), &g.list), 0);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_STREQ(g[0]->daq_name, "n");
  EXPECT_EQ(g[0]->ev_type, 3u);
}

TEST_P(BothReaders, SubElementsBeforeTheirRecordAreIgnored) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(),
                 chandoc("<CHANNEL><PROP>A</PROP><BIT_NAME>lost</BIT_NAME><BIT_DESCR>lost</BIT_DESCR>"
                         "<STAT>1</STAT><DIM_NAME>lost</DIM_NAME><DIM_UNITS>lost</DIM_UNITS>"
                         "<STAT_NAME>lost</STAT_NAME><STAT_UNITS>lost</STAT_UNITS></CHANNEL>"),
                 &g.list),
            0);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ(g[0]->nbits, 0);
  EXPECT_EQ(g[0]->ndims, 0);
  EXPECT_STREQ(g[0]->units, "");
}

TEST_P(BothReaders, NestingIsNotFollowed) {
  // Sub-elements apply to the most recent record of their kind wherever they
  // stand; unknown wrappers are transparent; values of an earlier channel's
  // sub-records do not leak into the next channel.
  ListGuard g;
  EXPECT_EQ(read(GetParam(),
                 chandoc("<CHANNEL><PROP>A</PROP><BIT>1</BIT><WRAP><BIT_NAME>late</BIT_NAME></WRAP>"
                         "<UNKNOWN>zzz</UNKNOWN></CHANNEL>"
                         "<CHANNEL><PROP>B</PROP><BIT_NAME>nope</BIT_NAME></CHANNEL>"),
                 &g.list),
            0);
  ASSERT_EQ(g.size(), 2u);
  EXPECT_STREQ(g[0]->bits[0]->bit_name, "late");
  EXPECT_EQ(g[1]->nbits, 0);
}

TEST_P(BothReaders, DimDescrWithoutDimensionFallsBackToTheDescription) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(), chandoc("<CHANNEL><PROP>A</PROP><DIM_DESCR>channel text</DIM_DESCR></CHANNEL>"), &g.list),
            0);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_STREQ(g[0]->prop_desc, "channel text");
}

TEST(ChanReaderFlavours, StatDescrWithoutStatistic) {
  const std::string doc = chandoc("<CHANNEL><PROP>A</PROP><DIM>0</DIM><STAT_DESCR>stat text</STAT_DESCR></CHANNEL>");
  ListGuard m, f;
  EXPECT_EQ(read(Via::memory, doc, &m.list), 0);
  EXPECT_EQ(read(Via::file, doc, &f.list), 0);
  EXPECT_STREQ(m[0]->prop_desc, "stat text");  // memory: falls back
  EXPECT_STREQ(f[0]->prop_desc, "");           // file: ignored
}

TEST(ChanReaderFlavours, DimKeepsTheStatisticInTheFileReader) {
  // After "DIM", statistic sub-elements before the next "STAT" go to the
  // previous dimension's last statistic in the file reader only.
  const std::string doc = chandoc(
      "<CHANNEL><PROP>A</PROP><DIM>0<STAT>1</STAT></DIM>"
      "<DIM>1<STAT_NAME>n</STAT_NAME><STAT_UNITS>u</STAT_UNITS><STAT_DESCR>d</STAT_DESCR></DIM></CHANNEL>");
  ListGuard m, f;
  EXPECT_EQ(read(Via::memory, doc, &m.list), 0);
  EXPECT_EQ(read(Via::file, doc, &f.list), 0);
  const stat_descr* ms = m[0]->dims[0]->stats[0];
  const stat_descr* fs = f[0]->dims[0]->stats[0];
  EXPECT_STREQ(ms->stat_name, "");
  EXPECT_STREQ(ms->units, "");
  EXPECT_STREQ(ms->stat_desc, "");
  EXPECT_STREQ(m[0]->prop_desc, "d");
  EXPECT_STREQ(fs->stat_name, "n");
  EXPECT_STREQ(fs->units, "u");
  EXPECT_STREQ(fs->stat_desc, "d");
  EXPECT_STREQ(f[0]->prop_desc, "");
}

TEST_P(BothReaders, ReadingTwiceWithAndWithoutDeleteDuplicated) {
  const std::string doc = chandoc("<CHANNEL><PROP>A</PROP></CHANNEL><CHANNEL><PROP>B</PROP></CHANNEL>");
  ListGuard plain, dedup;
  EXPECT_EQ(read(GetParam(), doc, &plain.list), 0);
  EXPECT_EQ(read(GetParam(), doc, &plain.list), 0);
  EXPECT_EQ(plain.size(), 4u);
  EXPECT_EQ(read(GetParam(), doc, &dedup.list, false, true), 0);
  EXPECT_EQ(read(GetParam(), doc, &dedup.list, false, true), 0);
  ASSERT_EQ(dedup.size(), 2u);
  EXPECT_STREQ(dedup[0]->prop_name, "A");
  EXPECT_STREQ(dedup[1]->prop_name, "B");
}

TEST_P(BothReaders, ChandescriptionsMergeRule) {
  // The found record takes ev_type and dtype when its own are 0, ORs the
  // stream, and takes nothing else; the rest of the channel is ignored.
  ListGuard g;
  const std::string doc = chandoc(
      "<CHANNEL><STREAM>1</STREAM><PROP>A</PROP><NAME>first</NAME></CHANNEL>"
      "<CHANNEL><STREAM>4</STREAM><EVTYPE>6</EVTYPE><DTYPE>2</DTYPE><DB_KEY>9</DB_KEY><PROP>A</PROP>"
      "<NAME>second</NAME><BIT>1</BIT></CHANNEL>"
      "<CHANNEL><EVTYPE>8</EVTYPE><DTYPE>3</DTYPE><PROP>A</PROP></CHANNEL>");
  EXPECT_EQ(read(GetParam(), doc, &g.list, false, true), 0);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ(g[0]->stream, 5);
  EXPECT_EQ(g[0]->ev_type, 6u);
  EXPECT_EQ(g[0]->dtype, 2u);
  EXPECT_EQ(g[0]->db_key, -1);
  EXPECT_STREQ(g[0]->daq_name, "first");
  EXPECT_EQ(g[0]->nbits, 0);
}

TEST_P(BothReaders, MergingFindsTheFirstRecordOfTheCallersList) {
  // Records already in the list take part; with two records of one property
  // the first one is found, as find_chan_entry finds it.
  ListGuard g;
  ASSERT_EQ(read(GetParam(), chandoc("<CHANNEL><PROP>A</PROP></CHANNEL><CHANNEL><PROP>A</PROP></CHANNEL>"), &g.list),
            0);
  ASSERT_EQ(g.size(), 2u);
  EXPECT_EQ(read(GetParam(), chandoc("<CHANNEL><STREAM>2</STREAM><EVTYPE>7</EVTYPE><PROP>A</PROP></CHANNEL>"), &g.list,
                 false, true),
            0);
  ASSERT_EQ(g.size(), 2u);
  EXPECT_EQ(g[0]->ev_type, 7u);
  EXPECT_EQ(g[0]->stream, 2);
  EXPECT_EQ(g[1]->ev_type, 0u);
  char a[] = "A";
  EXPECT_EQ(find_chan_entry(&g.list, a), g[0]);
}

TEST_P(BothReaders, LongPropertyNamesDoNotMatchTheirCutRecord) {
  // The lookup uses the whole text; the record holds the first 255
  // characters, so a 300-character property is never found again.
  ListGuard g;
  const std::string p300(300, 'q');
  const std::string doc = chandoc("<CHANNEL><PROP>" + p300 + "</PROP></CHANNEL>");
  EXPECT_EQ(read(GetParam(), doc, &g.list, false, true), 0);
  EXPECT_EQ(read(GetParam(), doc, &g.list, false, true), 0);
  EXPECT_EQ(g.size(), 2u);
  const std::string p255(255, 'q');
  EXPECT_EQ(
      read(GetParam(), chandoc("<CHANNEL><EVTYPE>3</EVTYPE><PROP>" + p255 + "</PROP></CHANNEL>"), &g.list, false, true),
      0);
  EXPECT_EQ(g.size(), 2u);
  EXPECT_EQ(g[0]->ev_type, 3u);
}

// --- a channel element with two property elements: the first one counts -----

TEST_P(BothReaders, TwoPropElementsAppendTheRecordOnce) {
  for (bool dedup : {false, true}) {
    ListGuard g;
    EXPECT_EQ(read(GetParam(),
                   chandoc("<CHANNEL><PROP>A</PROP><PROP>A</PROP><NAME>n</NAME></CHANNEL>"
                           "<CHANNEL><PROP>B</PROP><PROP>A</PROP><PROP>C</PROP><NAME>m</NAME></CHANNEL>"),
                   &g.list, false, dedup),
              0);
    ASSERT_EQ(g.size(), 2u) << dedup;
    EXPECT_STREQ(g[0]->prop_name, "A");
    EXPECT_STREQ(g[0]->daq_name, "n");
    EXPECT_STREQ(g[1]->prop_name, "B");  // the first property element names it
    EXPECT_STREQ(g[1]->daq_name, "m");
  }
}

TEST_P(BothReaders, TwoNexolElementsAppendTheRecordOnce) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(),
                 daqdoc("<DaqFloat><evType>1</evType><nexol>A</nexol><nexol>A</nexol><daqName>a</daqName></DaqFloat>"
                        "<DaqFloat><nexol>B</nexol><nexol>A</nexol><daqName>b</daqName></DaqFloat>"
                        "<DaqFloat><evType>2</evType><nexol>A</nexol><nexol>A</nexol></DaqFloat>"),
                 &g.list),
            0);
  ASSERT_EQ(g.size(), 2u);
  EXPECT_STREQ(g[0]->daq_name, "a");
  EXPECT_STREQ(g[1]->prop_name, "B");
  EXPECT_STREQ(g[1]->daq_name, "b");
}

// --- DAQvariables ----------------------------------------------------------------------

TEST_P(BothReaders, EveryDaqvariablesField) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(),
                 daqdoc("<DaqFloatMatrix>\n<evType>7</evType>\n<nexol>P/M</nexol>\n<daqName>M1</daqName>\n"
                        "<DBKey>44</DBKey>\n<setPoint>1</setPoint>\n<sbName>SB</sbName>\n"
                        "<subSystem>RF</subSystem>\n<description>matrix</description>\n<units>V</units>\n"
                        "<firstIndex>0</firstIndex>\n<lastIndex>9</lastIndex>\n"
                        "<dimension id=\"2\">\n<name>x</name>\n<description>x axis</description>\n"
                        "<units>mm</units>\n</dimension>\n"
                        "<dimension id=\"5\">\n<name>y</name>\n</dimension>\n"
                        "<freq>1</freq>\n</DaqFloatMatrix>\n"),
                 &g.list),
            0);
  ASSERT_EQ(g.size(), 1u);
  const chan_descr_2010* d = g[0];
  EXPECT_EQ(d->ev_type, 7u);
  EXPECT_STREQ(d->prop_name, "P/M");
  EXPECT_STREQ(d->daq_name, "M1");
  EXPECT_EQ(d->db_key, 44);
  EXPECT_STREQ(d->sb_name, "SB");
  EXPECT_EQ(d->set_point, 1);
  EXPECT_STREQ(d->subsystem, "RF");
  EXPECT_STREQ(d->prop_desc, "matrix");
  EXPECT_STREQ(d->units, "V");
  EXPECT_EQ(d->max_size, 10);
  ASSERT_EQ(d->ndims, 2);
  EXPECT_EQ(d->dims[0]->dim, 2);
  EXPECT_STREQ(d->dims[0]->dim_name, "x");
  EXPECT_STREQ(d->dims[0]->dim_desc, "x axis");
  EXPECT_STREQ(d->dims[0]->units, "mm");
  EXPECT_EQ(d->dims[1]->dim, 5);
  EXPECT_STREQ(d->dims[1]->dim_name, "y");
  EXPECT_EQ(d->dims[1]->nstats, 0);
}

TEST_P(BothReaders, DaqvariablesDefaultsAndShift) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(), daqdoc("<DaqFloat><evType>5</evType><nexol>A</nexol></DaqFloat>"), &g.list, true), 0);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ(g[0]->ev_type, 0x20u);
  EXPECT_EQ(g[0]->db_key, -1);
  EXPECT_EQ(g[0]->max_size, 1);
}

TEST_P(BothReaders, DimensionElementsOnlyInsideDaqFloatMatrix) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(),
                 daqdoc("<DaqFloat><nexol>A</nexol><description>d</description>"
                        "<dimension id=\"1\"><name>x</name><units>mm</units></dimension>"
                        "<bitTitle bit=\"1\">b</bitTitle></DaqFloat>"),
                 &g.list),
            0);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ(g[0]->ndims, 0);
  EXPECT_EQ(g[0]->nbits, 0);
  EXPECT_STREQ(g[0]->units, "mm");  // no dimension: the channel's units
  EXPECT_STREQ(g[0]->prop_desc, "d");
}

TEST_P(BothReaders, DescriptionBeforeTheFirstDimensionIsTheChannels) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(),
                 daqdoc("<DaqFloatMatrix><nexol>A</nexol><name>lost</name><description>chan</description>"
                        "<units>V</units><dimension id=\"0\"><description>dim</description></dimension>"
                        "<units>late</units></DaqFloatMatrix>"),
                 &g.list),
            0);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_STREQ(g[0]->prop_desc, "chan");
  EXPECT_STREQ(g[0]->units, "V");
  EXPECT_STREQ(g[0]->dims[0]->dim_desc, "dim");
  EXPECT_STREQ(g[0]->dims[0]->units, "late");  // nesting not followed
  EXPECT_STREQ(g[0]->dims[0]->dim_name, "");
}

TEST_P(BothReaders, BitTitleMakesOneBitRecord) {
  ListGuard g;
  std::string out;
  EXPECT_EQ(read(GetParam(),
                 daqdoc("<DaqBits>\n<nexol>A</nexol>\n<bitTitle bit=\"3\">Ready</bitTitle>\n"
                        "<bitTitle bit=\"4\">Busy</bitTitle>\n<bitTitle bit=\"4\">Again</bitTitle>\n</DaqBits>\n"),
                 &g.list, false, false, &out),
            0);
  EXPECT_EQ(out, "");
  ASSERT_EQ(g.size(), 1u);
  ASSERT_EQ(g[0]->nbits, 3);
  ASSERT_EQ(g[0]->bits.size(), 3u);
  EXPECT_EQ(g[0]->bits[0]->bit, 3);
  EXPECT_STREQ(g[0]->bits[0]->bit_name, "Ready");
  EXPECT_STREQ(g[0]->bits[0]->bit_desc, "Ready");  // the one title, as the writer writes it
  EXPECT_STREQ(g[0]->bits[1]->bit_name, "Busy");
  EXPECT_EQ(g[0]->bits[2]->bit, 4);
  EXPECT_STREQ(g[0]->bits[2]->bit_name, "Again");
}

TEST_P(BothReaders, BitTitleWithoutAttribute) {
  ListGuard g;
  std::string err;
  EXPECT_EQ(
      read(GetParam(),
           daqdoc("<DaqBits><nexol>A</nexol><bitTitle>Ready</bitTitle><bitTitle bit=\"1\">x</bitTitle></DaqBits>"),
           &g.list, false, false, nullptr, &err),
      1);
  EXPECT_EQ(err, "No attribute: bit found for bitTitle prop: A\n");
  ASSERT_EQ(g.size(), 1u);
  ASSERT_EQ(g[0]->nbits, 1);
  EXPECT_EQ(g[0]->bits[0]->bit, 1);
  EXPECT_STREQ(g[0]->bits[0]->bit_name, "x");
}

TEST_P(BothReaders, DimensionWithoutId) {
  ListGuard g;
  std::string err;
  EXPECT_EQ(read(GetParam(),
                 daqdoc("<DaqFloatMatrix><nexol>A</nexol><dimension><name>x</name></dimension>"
                        "<dimension idx=\"1\"/></DaqFloatMatrix>"),
                 &g.list, false, false, nullptr, &err),
            2);
  EXPECT_EQ(err,
            "No attribute: id found for dimension prop: A\n"
            "No attribute: id found for dimension prop: A\n");
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ(g[0]->ndims, 0);
}

TEST(ChanReaderFlavours, BitTitleWithoutTextMessageOnlyFromTheMemoryReader) {
  const std::string doc = daqdoc(
      "<DaqBits>\n<nexol>A</nexol>\n<bitTitle bit=\"3\"></bitTitle>\n<bitTitle bit=\"4\"/>\n"
      "<bitTitle bit=\"5\">  \t </bitTitle>\n<bitTitle bit=\"6\">ok</bitTitle>\n<bitTitle bit=\"7\"/>"
      "</DaqBits>\n<DaqBits><nexol>B</nexol><bitTitle bit=\"8\"/></DaqBits>");
  ListGuard m, f;
  std::string mout, fout;
  EXPECT_EQ(read(Via::memory, doc, &m.list, false, false, &mout), 0);
  EXPECT_EQ(read(Via::file, doc, &f.list, false, false, &fout), 0);
  EXPECT_EQ(mout,
            "bitTitle is not defined for bit  3 prop:A\n"
            "bitTitle is not defined for bit  4 prop:A\n"
            "bitTitle is not defined for bit  5 prop:A\n"
            "bitTitle is not defined for bit  7 prop:A\n"
            "bitTitle is not defined for bit  8 prop:B\n");
  EXPECT_EQ(fout, "");
  for (ListGuard* g : {&m, &f}) {
    ASSERT_EQ(g->size(), 2u);
    ASSERT_EQ((*g)[0]->nbits, 5);
    EXPECT_STREQ((*g)[0]->bits[0]->bit_name, "");
    EXPECT_STREQ((*g)[0]->bits[3]->bit_name, "ok");
    EXPECT_EQ((*g)[1]->nbits, 1);
  }
}

TEST(ChanReaderFlavours, DaqvariablesMergeMemoryTakesFileOrs) {
  const std::string doc = daqdoc(
      "<DaqFloat><evType>3</evType><nexol>A</nexol><daqName>first</daqName></DaqFloat>"
      "<DaqFloat><evType>4</evType><nexol>A</nexol><daqName>second</daqName></DaqFloat>"
      "<DaqFloat><evType>0</evType><nexol>B</nexol></DaqFloat>"
      "<DaqFloat><evType>2</evType><nexol>B</nexol></DaqFloat>");
  ListGuard m, f;
  EXPECT_EQ(read(Via::memory, doc, &m.list), 0);
  EXPECT_EQ(read(Via::file, doc, &f.list), 0);
  ASSERT_EQ(m.size(), 2u);
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(m[0]->ev_type, 3u);  // keeps the first non-zero
  EXPECT_EQ(f[0]->ev_type, 7u);  // ORs both
  EXPECT_EQ(m[1]->ev_type, 2u);
  EXPECT_EQ(f[1]->ev_type, 2u);
  EXPECT_STREQ(m[0]->daq_name, "first");
  EXPECT_STREQ(f[0]->daq_name, "first");
  // With shift the file reader builds the union of the event types.
  ListGuard fs;
  EXPECT_EQ(read(Via::file, doc, &fs.list, true), 0);
  EXPECT_EQ(fs[0]->ev_type, (1u << 3) | (1u << 4));
}

TEST_P(BothReaders, DaqvariablesMergeIgnoresTheRestOfTheElement) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(),
                 daqdoc("<DaqBits><nexol>A</nexol><bitTitle bit=\"1\">one</bitTitle></DaqBits>"
                        "<DaqBits><nexol>A</nexol><bitTitle bit=\"2\">two</bitTitle><units>V</units></DaqBits>"),
                 &g.list),
            0);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ(g[0]->nbits, 1);
  EXPECT_STREQ(g[0]->units, "");
}

TEST_P(BothReaders, DaqvariablesMergeSpansDocumentsAndFormats) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(), chandoc("<CHANNEL><PROP>A</PROP><NAME>c</NAME></CHANNEL>"), &g.list), 0);
  EXPECT_EQ(read(GetParam(), daqdoc("<DaqFloat><evType>4</evType><nexol>A</nexol></DaqFloat>"), &g.list), 0);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ(g[0]->ev_type, 4u);
}

TEST_P(BothReaders, LastIndexGivesTheSize) {
  ListGuard g;
  EXPECT_EQ(read(GetParam(),
                 daqdoc("<DaqFloat><nexol>A</nexol><lastIndex>9</lastIndex></DaqFloat>"
                        "<DaqFloat><nexol>B</nexol><lastIndex>2147483647</lastIndex></DaqFloat>"),
                 &g.list),
            0);
  EXPECT_EQ(g[0]->max_size, 10);
  EXPECT_EQ(g[1]->max_size, 2147483647);
}

// --- faults ------------------------------------------------------------------------------

TEST_P(BothReaders, FaultStopsTheReadAndKeepsWhatWasAppended) {
  ListGuard g;
  std::string err;
  const int r = read(GetParam(),
                     chandoc("<CHANNEL><PROP>A</PROP></CHANNEL><CHANNEL><PROP>B</PROP></CHANNEL>"
                             "<CHANNEL><PROP>C</PROP></WRONG></CHANNEL><CHANNEL><PROP>D</PROP></CHANNEL>"),
                     &g.list, false, false, nullptr, &err);
  EXPECT_GT(r, 0);
  EXPECT_FALSE(err.empty());
  ASSERT_GE(g.size(), 2u);
  EXPECT_LE(g.size(), 3u);
  EXPECT_STREQ(g[0]->prop_name, "A");
}

TEST_P(BothReaders, TruncatedDocumentsNeverCrash) {
  const std::string doc = chandoc(kFullChannel);
  for (std::size_t n = 0; n < doc.size(); n += 7) {
    ListGuard g;
    capture_stderr([&] { read(GetParam(), doc.substr(0, n), &g.list, n % 2 == 0, n % 3 == 0); });
  }
}

std::string mutate(std::string s, std::mt19937& rng) {
  static const char* const pieces[] = {"<",
                                       ">",
                                       "</CHANNEL>",
                                       "<CHANNEL>",
                                       "<PROP>A</PROP>",
                                       "<DIM>",
                                       "<STAT>1",
                                       "&amp;",
                                       "&",
                                       "<nexol>A</nexol>",
                                       "<bitTitle>",
                                       "<bitTitle bit=\"2\"/>",
                                       "<dimension/>",
                                       "\"",
                                       "<!--",
                                       "]]>",
                                       "<DaqBits>",
                                       "<BIT>9",
                                       "\x01",
                                       "\xff"};
  const int edits = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < edits && !s.empty(); ++i) {
    const std::size_t at = rng() % s.size();
    switch (rng() % 3) {
      case 0:
        s.erase(at, 1 + rng() % 8);
        break;
      case 1:
        s.insert(at, pieces[rng() % (sizeof pieces / sizeof *pieces)]);
        break;
      default:
        s[at] = static_cast<char>(rng() % 256);
        break;
    }
  }
  return s;
}

TEST_P(BothReaders, HostileDocumentsNeverCrashOrLeak) {
  std::mt19937 rng(12345);
  const std::string seeds[] = {
      chandoc(kFullChannel),
      daqdoc("<DaqBits><nexol>A</nexol><bitTitle bit=\"3\">Ready</bitTitle></DaqBits>"
             "<DaqFloatMatrix><nexol>B</nexol><dimension id=\"1\"><name>x</name></dimension></DaqFloatMatrix>"),
      chandoc("<CHANNEL><PROP>A</PROP><PROP>A</PROP></CHANNEL><CHANNEL><PROP>A</PROP></CHANNEL>"),
      // entity expansion and external references
      std::string("<?xml version=\"1.0\"?><!DOCTYPE CHANDESCRIPTIONS [<!ENTITY a \"aaaaaaaaaa\">"
                  "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                  "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
                  "<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                  "<CHANDESCRIPTIONS><CHANNEL><PROP>&e;&e;&e;</PROP><DESC>&x;</DESC></CHANNEL></CHANDESCRIPTIONS>"),
  };
  const int rounds = 60;
  for (const std::string& seed : seeds) {
    for (int i = 0; i < rounds; ++i) {
      ListGuard g;
      const std::string doc = i == 0 ? seed : mutate(seed, rng);
      capture_stdout([&] { capture_stderr([&] { read(GetParam(), doc, &g.list, i % 2, i % 3 != 0); }); });
      for (const chan_descr_2010* d : g.list) {
        ASSERT_LT(std::strlen(d->prop_name), sizeof d->prop_name);
        ASSERT_EQ(static_cast<std::size_t>(d->nbits), d->bits.size());
        ASSERT_EQ(static_cast<std::size_t>(d->ndims), d->dims.size());
      }
    }
  }
}

TEST_P(BothReaders, DeepNestingAndManyElements) {
  // As deep as the readers' nesting limit allows (deeper: the cost tests).
  const std::size_t levels = qal3::limits::kMaxDepth - 3;
  std::string body;
  for (std::size_t i = 0; i < levels; ++i) body += "<W>";
  body += "<CHANNEL><PROP>deep</PROP></CHANNEL>";
  for (std::size_t i = 0; i < levels; ++i) body += "</W>";
  ListGuard g;
  EXPECT_EQ(read(GetParam(), chandoc(body), &g.list), 0);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_STREQ(g[0]->prop_name, "deep");
}

// --- the indexed merge agrees with the first-match scan ------------------------------------

TEST_P(BothReaders, RandomDaqvariablesMergeMatchesTheModel) {
  std::mt19937 rng(777);
  for (int round = 0; round < 5; ++round) {
    // Pre-existing records in the caller's list, some with repeated names.
    ListGuard g;
    std::string pre;
    for (int i = 0; i < 20; ++i) pre += "<CHANNEL><PROP>p" + std::to_string(rng() % 15) + "</PROP></CHANNEL>";
    ASSERT_EQ(read(GetParam(), chandoc(pre), &g.list), 0);
    struct Model {
      std::string prop;
      unsigned ev;
      int stream;
    };
    std::vector<Model> model;
    for (const chan_descr_2010* d : g.list) model.push_back({d->prop_name, d->ev_type, d->stream});
    std::string body;
    for (int i = 0; i < 300; ++i) {
      const std::string prop = "p" + std::to_string(rng() % 40);
      const unsigned ev = rng() % 3 == 0 ? 0 : static_cast<unsigned>(rng() % 30);
      body += "<DaqFloat><evType>" + std::to_string(ev) + "</evType><nexol>" + prop + "</nexol></DaqFloat>";
      Model* found = nullptr;
      for (Model& m : model) {
        if (m.prop == prop) {
          found = &m;
          break;
        }
      }
      if (!found) {
        model.push_back({prop, ev, 0});
      } else if (GetParam() == Via::file) {
        found->ev |= ev;
      } else if (found->ev == 0) {
        found->ev = ev;
      }
    }
    ASSERT_EQ(read(GetParam(), daqdoc(body), &g.list), 0);
    ASSERT_EQ(g.size(), model.size());
    for (std::size_t i = 0; i < model.size(); ++i) {
      EXPECT_EQ(g[i]->prop_name, model[i].prop);
      EXPECT_EQ(g[i]->ev_type, model[i].ev) << model[i].prop;
    }
  }
}

// --- find_chan_entry --------------------------------------------------------------------

TEST(ChanFind, FirstExactCaseSensitiveMatch) {
  ListGuard g;
  char doc[] =
      "<CHANDESCRIPTIONS><CHANNEL><PROP>A</PROP><NAME>1</NAME></CHANNEL>"
      "<CHANNEL><PROP>a</PROP></CHANNEL><CHANNEL><PROP>A</PROP><NAME>2</NAME></CHANNEL>"
      "</CHANDESCRIPTIONS>";
  ASSERT_EQ(parse_descr_list_read(doc, &g.list, false, false), 0);
  char A[] = "A", a[] = "a", none[] = "B", prefix[] = "";
  EXPECT_STREQ(find_chan_entry(&g.list, A)->daq_name, "1");
  EXPECT_EQ(find_chan_entry(&g.list, a), g[1]);
  EXPECT_EQ(find_chan_entry(&g.list, none), nullptr);
  EXPECT_EQ(find_chan_entry(&g.list, prefix), nullptr);
  EXPECT_EQ(find_chan_entry(nullptr, A), nullptr);
  EXPECT_EQ(find_chan_entry(&g.list, nullptr), nullptr);
}

}  // namespace
}  // namespace chan_reader_test

// The element dispatch: names are exact and case-sensitive; near misses
// (other case, prefixes, longer names, names of the other branches) change
// nothing.

TEST(ReaderDispatch, ChannelDescriptionNamesAreExact) {
  std::string doc =
      "<CHANDESCRIPTIONS><CHANNEL><PROP>P/A</PROP><NAME>A</NAME>"
      "<NAMe>x</NAMe><NAMES>x</NAMES><NAM>x</NAM><Name>x</Name><DAQNAME>x</DAQNAME>"
      "<STREAM>3</STREAM><STREAMS>9</STREAMS><STRE>9</STRE><EVTYPE>2</EVTYPE><DTYPE>5</DTYPE>"
      "<DB_KEY>7</DB_KEY><DB_KE>9</DB_KE><COUNT>4</COUNT><SETPOINT>6</SETPOINT><SIZE>8</SIZE>"
      "<SB_NAME>SB</SB_NAME><SUBSYSTEM>SUB</SUBSYSTEM><UNITS>u</UNITS><DESC>d</DESC><DESCR>x</DESCR>"
      "<BIT>1<BIT_NAME>b</BIT_NAME><BIT_NAMEX>x</BIT_NAMEX><BIT_DESCR>bd</BIT_DESCR></BIT>"
      "<DIM>2<DIM_NAME>dn</DIM_NAME><DIM_UNITS>du</DIM_UNITS><DIM_DESCR>dd</DIM_DESCR><DIMS>x</DIMS>"
      "<STAT>3<STAT_NAME>sn</STAT_NAME><STAT_UNITS>su</STAT_UNITS><STAT_DESCR>sd</STAT_DESCR>"
      "<STATS>x</STATS><STAT_>x</STAT_></STAT></DIM><channel>x</channel><CHANNELS>x</CHANNELS>"
      "</CHANNEL></CHANDESCRIPTIONS>";
  std::vector<chan_descr_2010*> list;
  ASSERT_EQ(parse_descr_list_read(&doc[0], &list, false, false), 0);
  ASSERT_EQ(list.size(), 1u);
  const chan_descr_2010& c = *list[0];
  EXPECT_STREQ(c.prop_name, "P/A");
  EXPECT_STREQ(c.daq_name, "A");
  EXPECT_EQ(c.stream, 3);
  EXPECT_EQ(c.ev_type, 2u);
  EXPECT_EQ(c.dtype, 5u);
  EXPECT_EQ(c.db_key, 7);
  EXPECT_EQ(c.count, 4);
  EXPECT_EQ(c.set_point, 6);
  EXPECT_EQ(c.max_size, 8);
  EXPECT_STREQ(c.sb_name, "SB");
  EXPECT_STREQ(c.subsystem, "SUB");
  EXPECT_STREQ(c.units, "u");
  EXPECT_STREQ(c.prop_desc, "d");
  ASSERT_EQ(c.bits.size(), 1u);
  EXPECT_EQ(c.bits[0]->bit, 1);
  EXPECT_STREQ(c.bits[0]->bit_name, "b");
  EXPECT_STREQ(c.bits[0]->bit_desc, "bd");
  ASSERT_EQ(c.dims.size(), 1u);
  EXPECT_EQ(c.dims[0]->dim, 2);
  EXPECT_STREQ(c.dims[0]->dim_name, "dn");
  EXPECT_STREQ(c.dims[0]->units, "du");
  EXPECT_STREQ(c.dims[0]->dim_desc, "dd");
  ASSERT_EQ(c.dims[0]->stats.size(), 1u);
  EXPECT_EQ(c.dims[0]->stats[0]->stat, 3);
  EXPECT_STREQ(c.dims[0]->stats[0]->stat_name, "sn");
  EXPECT_STREQ(c.dims[0]->stats[0]->units, "su");
  EXPECT_STREQ(c.dims[0]->stats[0]->stat_desc, "sd");
  clean_chan_desr_list(&list);
}
