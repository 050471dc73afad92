// Channel description records and list utilities: tag access, the tag table, clones, clean, print (exact text), merge,
// loaders.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "chan_test_util.h"
#include "parse_chan_descr.h"
#include "test_util.h"

namespace chan_utils_test {
namespace {

using testutil::capture_stdout;

using chantest::add_bit;
using chantest::add_dim;
using chantest::add_stat;
using chantest::List;
using chantest::ListGuard;
using chantest::make;

// A dimension as the tests below use it: description "desc of NAME", units
// "mm", and `nstats` statistics s0, s1, ... in volts.
dim_descr* add_dim_with_stats(chan_descr_2010* d, int n, const char* name, int nstats = 0) {
  char desc[64];
  std::snprintf(desc, sizeof desc, "desc of %s", name);
  dim_descr* dm = add_dim(d, n, name, "mm", desc);
  for (int i = 0; i < nstats; ++i) {
    char stat_name[16], stat_desc[16];
    std::snprintf(stat_name, sizeof stat_name, "s%d", i);
    std::snprintf(stat_desc, sizeof stat_desc, "stat %d", i);
    add_stat(dm, i, stat_name, "V", stat_desc);
  }
  return dm;
}

std::vector<int> bit_numbers(const chan_descr_2010* d) {
  std::vector<int> v;
  for (const bit_descr* b : d->bits) v.push_back(b->bit);
  return v;
}

// --- tag table ---------------------------------------------------------------

TEST(ChanTags, TableHoldsTheEighteenRows) {
  const char* col0[18] = {
      "CHANDESCRIPTIONS", "CHANNEL",   "EVTYPE",  "STREAM", "PROP",  "NAME",     "DESC",      "UNITS", "SIZE", "BIT",
      "BIT_NAME",         "BIT_DESCR", "SB_NAME", "DTYPE",  "COUNT", "SETPOINT", "SUBSYSTEM", "DB_KEY"};
  for (int r = 0; r < 18; ++r) EXPECT_STREQ(tags[r][0], col0[r]) << r;
  EXPECT_STREQ(tags[7][1], "DIM_UNITS");
  EXPECT_STREQ(tags[7][2], "STAT_UNITS");
  EXPECT_STREQ(tags[9][1], "DIM");
  EXPECT_STREQ(tags[9][2], "STAT");
  EXPECT_STREQ(tags[10][1], "DIM_NAME");
  EXPECT_STREQ(tags[10][2], "STAT_NAME");
  EXPECT_STREQ(tags[11][1], "DIM_DESCR");
  EXPECT_STREQ(tags[11][2], "STAT_DESCR");
  int filled = 0;
  for (int r = 0; r < 18; ++r)
    for (int c = 1; c < 3; ++c) filled += tags[r][c] != nullptr;
  EXPECT_EQ(filled, 8);
}

TEST(ChanTags, RootTagAccessCoversFourteenRows) {
  EXPECT_STREQ(get_chan_descr_root_tag(9, 1), "DIM");
  EXPECT_STREQ(get_chan_descr_root_tag(0, 0), "CHANDESCRIPTIONS");
  EXPECT_STREQ(get_chan_descr_root_tag(13, 0), "DTYPE");
  EXPECT_STREQ(get_chan_descr_root_tag(11, 2), "STAT_DESCR");
  EXPECT_EQ(get_chan_descr_root_tag(14, 0), nullptr);
  EXPECT_EQ(get_chan_descr_root_tag(17, 0), nullptr);
  EXPECT_EQ(get_chan_descr_root_tag(0, 1), nullptr);  // empty cell
  EXPECT_EQ(get_chan_descr_root_tag(-1, 0), nullptr);
  EXPECT_EQ(get_chan_descr_root_tag(0, -1), nullptr);
  EXPECT_EQ(get_chan_descr_root_tag(0, 3), nullptr);
}

// --- clones ------------------------------------------------------------------

TEST(ChanClone, NullGivesNull) {
  EXPECT_EQ(qal3_clone_bit_descr(nullptr), nullptr);
  EXPECT_EQ(qal3_clone_stat_descr(nullptr), nullptr);
  EXPECT_EQ(qal3_clone_dim_descr(nullptr), nullptr);
}

TEST(ChanClone, BitAndStatCopiesAreEqualAndNew) {
  bit_descr b{};
  b.bit = 7;
  std::strcpy(b.bit_name, "Ready");
  std::strcpy(b.bit_desc, "device ready");
  bit_descr* bc = qal3_clone_bit_descr(&b);
  ASSERT_NE(bc, &b);
  EXPECT_EQ(bc->bit, 7);
  EXPECT_STREQ(bc->bit_name, "Ready");
  EXPECT_STREQ(bc->bit_desc, "device ready");
  delete bc;

  stat_descr s{};
  s.stat = 2;
  std::strcpy(s.stat_name, "mean");
  std::strcpy(s.stat_desc, "mean value");
  std::strcpy(s.units, "mA");
  stat_descr* sc = qal3_clone_stat_descr(&s);
  EXPECT_EQ(sc->stat, 2);
  EXPECT_STREQ(sc->stat_name, "mean");
  EXPECT_STREQ(sc->stat_desc, "mean value");
  EXPECT_STREQ(sc->units, "mA");
  delete sc;
}

TEST(ChanClone, DimensionIsDeepWithItsStatistics) {
  chan_descr_2010* d = make("P");
  dim_descr* dm = add_dim_with_stats(d, 4, "x", 3);
  dim_descr* c = qal3_clone_dim_descr(dm);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->dim, 4);
  EXPECT_STREQ(c->dim_name, "x");
  EXPECT_STREQ(c->dim_desc, "desc of x");
  EXPECT_STREQ(c->units, "mm");
  ASSERT_EQ(c->nstats, 3);
  ASSERT_EQ(c->stats.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NE(c->stats[i], dm->stats[i]);
    EXPECT_EQ(c->stats[i]->stat, dm->stats[i]->stat);
    EXPECT_STREQ(c->stats[i]->stat_name, dm->stats[i]->stat_name);
    EXPECT_STREQ(c->stats[i]->stat_desc, dm->stats[i]->stat_desc);
    EXPECT_STREQ(c->stats[i]->units, dm->stats[i]->units);
  }
  for (stat_descr* s : c->stats) delete s;
  delete c;
  List l{d};
  clean_chan_desr_list(&l);
}

TEST(ChanClone, DimensionCloneSkipsNullStatistics) {
  dim_descr dm{};
  dm.dim = 1;
  stat_descr s{};
  s.stat = 5;
  dm.stats = {nullptr, &s};
  dm.nstats = 2;
  dim_descr* c = qal3_clone_dim_descr(&dm);
  ASSERT_EQ(c->nstats, 1);
  EXPECT_EQ(c->stats[0]->stat, 5);
  delete c->stats[0];
  delete c;
}

// --- clean -------------------------------------------------------------------

TEST(ChanClean, NullListIsANoOp) { clean_chan_desr_list(nullptr); }

TEST(ChanClean, EmptiesTheListWhichCanBeFilledAgain) {
  List l;
  chan_descr_2010* a = make("A");
  add_bit(a, 0, "b0", "");
  add_dim_with_stats(a, 0, "x", 2);
  l.push_back(a);
  l.push_back(make("B"));
  EXPECT_EQ(capture_stdout([&] { clean_chan_desr_list(&l); }), "");
  EXPECT_TRUE(l.empty());
  char doc[] = "<CHANDESCRIPTIONS><CHANNEL><PROP>C</PROP></CHANNEL></CHANDESCRIPTIONS>";
  EXPECT_EQ(parse_descr_list_read(doc, &l, false, false), 0);
  ASSERT_EQ(l.size(), 1u);
  clean_chan_desr_list(&l);
  EXPECT_TRUE(l.empty());
}

TEST(ChanClean, CountsDecideAndInconsistenciesAreReported) {
  List l;
  chan_descr_2010* d = make("BAD");
  bit_descr* orphan_bit = new bit_descr();
  d->bits.push_back(orphan_bit);  // nbits stays 0
  dim_descr* dm = add_dim_with_stats(d, 0, "x");
  stat_descr* orphan_stat = new stat_descr();
  dm->stats.push_back(orphan_stat);  // nstats stays 0
  dm->stats.push_back(new stat_descr());
  chan_descr_2010* e = make("BAD2");
  dim_descr* orphan_dim = new dim_descr();
  e->dims.push_back(orphan_dim);  // ndims stays 0
  l.push_back(d);
  l.push_back(e);
  std::vector<stat_descr*> stats_left = dm->stats;
  const std::string out = capture_stdout([&] { clean_chan_desr_list(&l); });
  EXPECT_EQ(out,
            "ERROR: nbits = 0, but bits.size() > 0 prop: BAD\n"
            "ERROR: nstats = 0, but stats.size() > 0 (2) prop: BAD\n"
            "ERROR: ndims = 0, but dims.size() > 0 prop: BAD2\n");
  EXPECT_TRUE(l.empty());
  // The records the counts did not cover were left alone: release them here.
  delete orphan_bit;
  for (stat_descr* s : stats_left) delete s;
  delete orphan_dim;
}

// --- print -------------------------------------------------------------------

TEST(ChanPrint, NullListPrintsNothingEmptyListTheBanner) {
  EXPECT_EQ(capture_stdout([] { print_qal3_chan_descr(nullptr); }), "");
  List l;
  EXPECT_EQ(capture_stdout([&] { print_qal3_chan_descr(&l); }),
            "========================\nQAL3 XML Channel Description (XCD)\n");
}

TEST(ChanPrint, ExactText) {
  ListGuard g;
  chan_descr_2010* d = make("FLASH.DIAG/BPM/1UBC2/X");
  d->stream = 3;
  d->ev_type = 0x21;
  d->dtype = 0x80000002;
  d->count = 4;
  d->db_key = 17;
  std::strcpy(d->daq_name, "BPM1X");
  d->set_point = 1;
  std::strcpy(d->prop_desc, "beam position");
  std::strcpy(d->sb_name, "BPM_SB");
  std::strcpy(d->subsystem, "DIAG");
  std::strcpy(d->units, "mm");
  d->max_size = 2;
  add_bit(d, 3, "Ready", "device ready");
  add_dim_with_stats(d, 0, "x", 1);
  g.list.push_back(d);
  chan_descr_2010* e = make("Q");
  e->dtype = 0x2;
  g.list.push_back(e);
  const std::string ev = std::string(event_name_itoa(0)) + ":" + event_name_itoa(5);
  const std::string expected =
      "========================\n"
      "QAL3 XML Channel Description (XCD)\n"
      "--------------[0]-----------------\n"
      " stream   : 3 \n"
      " ev type  : 0x21 " +
      ev +
      "\n"
      " data type: 0x80000002 " +
      block_name_itoa(33) +
      "\n"
      "\tcount  :4\n"
      "\tdb_key :17\n"
      "\tprop   :FLASH.DIAG/BPM/1UBC2/X\n"
      "\tname   :BPM1X\n"
      "\tset_pnt:yes\n"
      "\tdesc   :beam position\n"
      "\tsb_name:BPM_SB\n"
      "\tsubsys :DIAG\n"
      "\tunit   :mm\n"
      "\tmax_sz :2\n"
      "\t\t# bits :1\n"
      "\t\tbit    : 3\n"
      "\t\tname   : Ready\n"
      "\t\tdesc   : device ready\n"
      "\t\t# dims : 1\n"
      "\t\tid    : 0\n"
      "\t\tname : x\n"
      "\t\tdesc : desc of x\n"
      "\t\tunits: mm\n"
      "\t\t\t# stats : 1\n"
      "\t\t\tid     : 0\n"
      "\t\t\tname   : s0\n"
      "\t\t\tdesc   : stat 0\n"
      "\t\t\tunits  : V\n"
      "--------------[1]-----------------\n"
      " stream   : 0 \n"
      " ev type  : 0x0 \n"
      " data type: 0x2 " +
      block_name_itoa(1) +
      "\n"
      "\tcount  :0\n"
      "\tdb_key :-1\n"
      "\tprop   :Q\n"
      "\tname   :\n"
      "\tset_pnt:no\n"
      "\tdesc   :\n"
      "\tsb_name:\n"
      "\tsubsys :\n"
      "\tunit   :\n"
      "\tmax_sz :1\n";
  EXPECT_EQ(capture_stdout([&] { print_qal3_chan_descr(&g.list); }), expected);
}

TEST(ChanPrint, DataTypeMaskNamesEveryTypeInRisingOrder) {
  ListGuard g;
  chan_descr_2010* d = make("A");
  d->dtype = 0x80000003;    // types 32 and 33
  d->ev_type = 0x80000001;  // types 0 and 31
  g.list.push_back(d);
  const std::string out = capture_stdout([&] { print_qal3_chan_descr(&g.list); });
  EXPECT_NE(out.find(std::string(" data type: 0x80000003 ") + block_name_itoa(32) + ":" + block_name_itoa(33) + "\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(std::string(" ev type  : 0x80000001 ") + event_name_itoa(0) + ":" + event_name_itoa(31) + "\n"),
            std::string::npos)
      << out;
}

TEST(ChanPrint, NameListIsCutAt255Characters) {
  ListGuard g;
  chan_descr_2010* d = make("A");
  d->ev_type = 0xFFFFFFFFu;
  g.list.push_back(d);
  const std::string out = capture_stdout([&] { print_qal3_chan_descr(&g.list); });
  const std::string head = " ev type  : 0xffffffff ";
  const auto at = out.find(head);
  ASSERT_NE(at, std::string::npos);
  const auto end = out.find('\n', at);
  std::string full;
  for (int n = 0; n < 32; ++n) full += (n ? ":" : "") + std::string(event_name_itoa(n));
  const std::string names = out.substr(at + head.size(), end - at - head.size());
  EXPECT_EQ(names, full.substr(0, 255));
}

TEST(ChanPrint, InconsistentCountsPrintErrorLines) {
  chan_descr_2010 d{};
  std::strcpy(d.prop_name, "X");
  bit_descr b{};
  dim_descr dm{};
  stat_descr s{};
  d.bits.push_back(&b);
  d.dims.push_back(&dm);
  List l{&d};
  std::string out = capture_stdout([&] { print_qal3_chan_descr(&l); });
  EXPECT_NE(out.find("\tmax_sz :0\nERROR: nbits = 0, but bits.size() > 0\n"
                     "ERROR: ndims = 0, but dims.size() > 0\n"),
            std::string::npos)
      << out;
  d.ndims = 1;
  dm.stats.push_back(&s);
  out = capture_stdout([&] { print_qal3_chan_descr(&l); });
  EXPECT_NE(out.find("\t\t# dims : 1\n\t\tid    : 0\n\t\tname : \n\t\tdesc : \n\t\tunits: \n"
                     "ERROR: nstats = 0, but stats.size() > 0\n"),
            std::string::npos)
      << out;
}

// --- extend_channel_description ----------------------------------------------

TEST(ChanExtend, NullOrDifferentPropertiesAreNotMerged) {
  chan_descr_2010 a{}, b{};
  std::strcpy(a.prop_name, "A");
  std::strcpy(b.prop_name, "B");
  EXPECT_TRUE(extend_channel_description(&a, &b, false));
  EXPECT_TRUE(extend_channel_description(&a, &b, true));
  EXPECT_TRUE(extend_channel_description(nullptr, &b, false));
  EXPECT_TRUE(extend_channel_description(&a, nullptr, true));
}

TEST(ChanExtend, WithoutForceFillsGaps) {
  ListGuard g;
  chan_descr_2010* in = make("P");
  chan_descr_2010* from = make("P");
  g.list = {in, from};
  in->stream = 1;
  from->stream = 2;
  from->ev_type = 5;
  from->count = 9;
  in->dtype = 3;
  from->dtype = 4;
  from->db_key = 7;
  in->max_size = 0;
  from->max_size = 8;
  from->set_point = 1;
  std::strcpy(in->daq_name, "mine");
  std::strcpy(from->daq_name, "theirs");
  std::strcpy(from->prop_desc, "desc");
  std::strcpy(from->units, "V");
  std::strcpy(from->sb_name, "SB");
  std::strcpy(from->subsystem, "SUB");
  EXPECT_FALSE(extend_channel_description(in, from, false));
  EXPECT_EQ(in->stream, 1);
  EXPECT_EQ(in->ev_type, 5u);
  EXPECT_EQ(in->count, 9);
  EXPECT_EQ(in->dtype, 3u);
  EXPECT_EQ(in->db_key, 7);  // -1 is a gap
  EXPECT_EQ(in->max_size, 8);
  EXPECT_EQ(in->set_point, 1);
  EXPECT_STREQ(in->daq_name, "mine");
  EXPECT_STREQ(in->prop_desc, "desc");
  EXPECT_STREQ(in->units, "V");
  EXPECT_STREQ(in->sb_name, "SB");
  EXPECT_STREQ(in->subsystem, "SUB");
}

TEST(ChanExtend, WithForceOverridesWhereFromHasSomething) {
  ListGuard g;
  chan_descr_2010* in = make("P");
  chan_descr_2010* from = make("P");
  g.list = {in, from};
  in->db_key = 5;
  from->db_key = 0;
  in->stream = 1;
  from->stream = 0;
  in->ev_type = 2;
  from->ev_type = 6;
  std::strcpy(in->daq_name, "mine");
  std::strcpy(from->daq_name, "theirs");
  std::strcpy(in->units, "A");
  EXPECT_FALSE(extend_channel_description(in, from, true));
  EXPECT_EQ(in->db_key, 5);
  EXPECT_EQ(in->stream, 1);
  EXPECT_EQ(in->ev_type, 6u);
  EXPECT_STREQ(in->daq_name, "theirs");
  EXPECT_STREQ(in->units, "A");
  from->db_key = 9;
  EXPECT_FALSE(extend_channel_description(in, from, true));
  EXPECT_EQ(in->db_key, 9);
}

TEST(ChanExtend, BitsUnionWithoutForceReplacementWithForce) {
  ListGuard g;
  chan_descr_2010* in = make("P");
  chan_descr_2010* from = make("P");
  chan_descr_2010* in2 = make("P");
  g.list = {in, from, in2};
  add_bit(in, 0, "a", "");
  add_bit(in, 1, "b", "");
  add_bit(from, 1, "B", "");
  add_bit(from, 2, "C", "");
  add_bit(in2, 0, "a", "");
  add_bit(in2, 1, "b", "");
  EXPECT_FALSE(extend_channel_description(in, from, false));
  EXPECT_EQ(bit_numbers(in), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(in->nbits, 3);
  EXPECT_STREQ(in->bits[1]->bit_name, "b");
  EXPECT_NE(in->bits[2], from->bits[1]);
  EXPECT_FALSE(extend_channel_description(in2, from, true));
  EXPECT_EQ(bit_numbers(in2), (std::vector<int>{1, 2}));
  EXPECT_EQ(in2->nbits, 2);
  EXPECT_STREQ(in2->bits[0]->bit_name, "B");
  EXPECT_EQ(from->nbits, 2);  // from unchanged
}

TEST(ChanExtend, DimensionsWithoutForce) {
  ListGuard g;
  chan_descr_2010* in = make("P");
  chan_descr_2010* from = make("P");
  g.list = {in, from};
  add_dim_with_stats(in, 0, "x", 0);
  add_dim_with_stats(in, 1, "y", 1);
  add_dim_with_stats(from, 0, "X", 2);  // in's dim 0 has no statistics: gets these
  add_dim_with_stats(from, 1, "Y", 3);  // in's dim 1 has statistics: unchanged
  add_dim_with_stats(from, 2, "Z", 1);  // new
  EXPECT_FALSE(extend_channel_description(in, from, false));
  ASSERT_EQ(in->ndims, 3);
  ASSERT_EQ(in->dims.size(), 3u);
  EXPECT_STREQ(in->dims[0]->dim_name, "x");
  EXPECT_EQ(in->dims[0]->nstats, 2);
  EXPECT_EQ(in->dims[0]->stats.size(), 2u);
  EXPECT_EQ(in->dims[1]->nstats, 1);
  EXPECT_STREQ(in->dims[2]->dim_name, "Z");
  EXPECT_EQ(in->dims[2]->nstats, 1);
  EXPECT_NE(in->dims[2], from->dims[2]);
}

TEST(ChanExtend, DimensionsWithForceAreReplaced) {
  ListGuard g;
  chan_descr_2010* in = make("P");
  chan_descr_2010* from = make("P");
  g.list = {in, from};
  add_dim_with_stats(in, 0, "x", 2);
  add_dim_with_stats(in, 5, "y", 0);
  add_dim_with_stats(from, 1, "Y", 1);
  EXPECT_FALSE(extend_channel_description(in, from, true));
  ASSERT_EQ(in->ndims, 1);
  ASSERT_EQ(in->dims.size(), 1u);
  EXPECT_EQ(in->dims[0]->dim, 1);
  EXPECT_EQ(in->dims[0]->nstats, 1);
  // from without dimensions leaves in's alone
  chan_descr_2010* empty = make("P");
  g.list.push_back(empty);
  EXPECT_FALSE(extend_channel_description(in, empty, true));
  EXPECT_EQ(in->ndims, 1);
}

TEST(ChanExtend, ForceReportsInconsistentDimensionsOfIn) {
  chan_descr_2010 in{};
  std::strcpy(in.prop_name, "P");
  dim_descr orphan{};
  in.dims.push_back(&orphan);  // ndims 0
  ListGuard g;
  chan_descr_2010* from = make("P");
  g.list.push_back(from);
  add_dim_with_stats(from, 3, "z", 0);
  const std::string out = capture_stdout([&] { EXPECT_FALSE(extend_channel_description(&in, from, true)); });
  EXPECT_EQ(out, "ERROR: ndims = 0, but dims.size() > 0 prop: P\n");
  ASSERT_EQ(in.dims.size(), 2u);
  EXPECT_EQ(in.ndims, 1);
  delete in.dims[1];
}

TEST(ChanExtend, MergingARecordIntoItselfChangesNothing) {
  ListGuard g;
  chan_descr_2010* d = make("P");
  g.list.push_back(d);
  add_bit(d, 1, "a", "");
  add_dim_with_stats(d, 0, "x", 1);
  EXPECT_FALSE(extend_channel_description(d, d, true));
  EXPECT_EQ(d->nbits, 1);
  EXPECT_EQ(d->ndims, 1);
  EXPECT_STREQ(d->bits[0]->bit_name, "a");
}

// --- loaders -------------------------------------------------------------------

std::vector<char> block(uint32_t pattern, const std::string& text, int length_delta = 0) {
  std::vector<char> b(8 + text.size() + 1, 0);
  qal3_xml_chan_descr_header h{};
  h.pattern = pattern;
  h.length = static_cast<int32_t>(8 + text.size()) + length_delta;
  std::memcpy(b.data(), &h, 8);
  std::memcpy(b.data() + 8, text.data(), text.size());
  return b;
}

TEST(ChanLoad, BlockChecks) {
  List l;
  std::vector<char> b = block(0x12345678u, "<CHANDESCRIPTIONS/>");
  auto* h = reinterpret_cast<qal3_xml_chan_descr_header*>(b.data());
  EXPECT_EQ(qal3_load_chan_descr(nullptr, &l), -1);
  EXPECT_EQ(qal3_load_chan_descr(h, nullptr), -1);
  EXPECT_EQ(qal3_load_chan_descr(h, &l), -3);
  h->pattern = 0xCDECDEF2u;
  h->length = 8;
  EXPECT_EQ(qal3_load_chan_descr(h, &l), -4);
  h->length = 0;
  EXPECT_EQ(qal3_load_chan_descr(h, &l), -4);
  EXPECT_TRUE(l.empty());
}

TEST(ChanLoad, ReadsTheTextOfLengthMinusEightBytes) {
  ListGuard g;
  const std::string doc = "<CHANDESCRIPTIONS><CHANNEL><EVTYPE>5</EVTYPE><PROP>A</PROP></CHANNEL></CHANDESCRIPTIONS>";
  for (uint32_t pattern : {0xCDECDEF2u, 0xCDECDEF3u}) {
    // Text past the declared length is not read.
    std::vector<char> b = block(pattern, doc + "garbage<<<");
    reinterpret_cast<qal3_xml_chan_descr_header*>(b.data())->length = static_cast<int32_t>(8 + doc.size());
    EXPECT_EQ(qal3_load_chan_descr(reinterpret_cast<qal3_xml_chan_descr_header*>(b.data()), &g.list), 0);
  }
  ASSERT_EQ(g.list.size(), 2u);  // no merging, no shift
  EXPECT_EQ(g.list[0]->ev_type, 5u);
}

TEST(ChanLoad, PassesTheReaderErrorsThrough) {
  ListGuard g;
  std::vector<char> b = block(0xCDECDEF2u, "<CHANNELS/>");
  testutil::capture_stderr(
      [&] { EXPECT_EQ(qal3_load_chan_descr(reinterpret_cast<qal3_xml_chan_descr_header*>(b.data()), &g.list), 1); });
}

TEST(ChanLoad, MasterFile) {
  ListGuard g;
  char empty[] = "";
  EXPECT_EQ(qal3_load_master_daq_channel_description_file(nullptr, empty), -1);
  EXPECT_EQ(qal3_load_master_daq_channel_description_file(&g.list, nullptr), -1);
  EXPECT_EQ(qal3_load_master_daq_channel_description_file(&g.list, empty), -1);
  testutil::TempFile f(
      "<DAQvariables><DaqFloat><evType>3</evType><nexol>A</nexol></DaqFloat>"
      "<DaqFloat><evType>4</evType><nexol>A</nexol></DaqFloat></DAQvariables>");
  EXPECT_EQ(qal3_load_master_daq_channel_description_file(&g.list, f.c_path()), 0);
  ASSERT_EQ(g.list.size(), 1u);
  EXPECT_EQ(g.list[0]->ev_type, 7u);  // the file reader ORs, no shift
  char missing[] = "/nonexistent/qal3/master.xml";
  testutil::capture_stderr([&] { EXPECT_GT(qal3_load_master_daq_channel_description_file(&g.list, missing), 0); });
}

}  // namespace
}  // namespace chan_utils_test
