// The example description documents of examples/: both read without error
// through both readers, hold what they are meant to show, and convert into
// each other.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chan_test_util.h"
#include "parse_chan_descr.h"
#include "test_util.h"

namespace chan_examples_test {
namespace {

using chantest::List;
using chantest::ListGuard;

std::string path(const char* name) { return std::string(QAL3_EXAMPLES_DIR) + "/" + name; }

TEST(ChanExamples, ChandescriptionsExample) {
  std::string file = path("chan_descriptions.xml");
  ListGuard plain, merged, mem;
  ASSERT_EQ(parse_descr_list_readf(&file[0], &plain.list, false, false), 0);
  EXPECT_EQ(plain.size(), 5u);  // the repeated property is a second record
  ASSERT_EQ(parse_descr_list_readf(&file[0], &merged.list, true, true), 0);
  ASSERT_EQ(merged.size(), 4u);
  std::string text = testutil::read_file(file);
  ASSERT_EQ(parse_descr_list_read(&text[0], &mem.list, true, true), 0);
  ASSERT_EQ(mem.size(), 4u);

  const chan_descr_2010* bpm = merged[0];
  EXPECT_EQ(bpm->max_size, 800);
  ASSERT_EQ(bpm->ndims, 1);
  ASSERT_EQ(bpm->dims[0]->nstats, 2);
  EXPECT_STREQ(bpm->dims[0]->stats[1]->stat_name, "rms");
  const chan_descr_2010* rf = merged[1];
  ASSERT_EQ(rf->nbits, 3);
  EXPECT_STREQ(rf->bits[2]->bit_desc, "Local control & no remote access");
  const chan_descr_2010* quad = merged[2];
  EXPECT_EQ(quad->ev_type, 1u << 4);  // first non-zero kept
  EXPECT_EQ(quad->stream, 4 | 8);     // streams ORed
  EXPECT_STREQ(quad->daq_name, "TS.Q3.I");
  const chan_descr_2010* cam = merged[3];
  ASSERT_EQ(cam->ndims, 2);
  EXPECT_EQ(cam->dims[1]->nstats, 1);
}

TEST(ChanExamples, DaqvariablesExample) {
  std::string file = path("chan_daqvariables.xml");
  ListGuard f, m;
  ASSERT_EQ(parse_descr_list_readf(&file[0], &f.list, true, false), 0);
  std::string text = testutil::read_file(file);
  ASSERT_EQ(parse_descr_list_read(&text[0], &m.list, true, false), 0);
  ASSERT_EQ(f.size(), 4u);
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(f[0]->ev_type, (1u << 4) | (1u << 1));  // file reader: union
  EXPECT_EQ(m[0]->ev_type, 1u << 4);                // memory reader: first
  EXPECT_EQ(f[1]->max_size, 100);
  ASSERT_EQ(f[2]->nbits, 3);
  EXPECT_EQ(f[2]->bits[2]->bit, 7);
  EXPECT_STREQ(f[2]->bits[2]->bit_name, "Vacuum < limit");
  ASSERT_EQ(f[3]->ndims, 2);
  EXPECT_EQ(f[3]->max_size, 2048);
  EXPECT_STREQ(f[3]->dims[0]->units, "eV");
  EXPECT_STREQ(f[3]->units, "counts");
}

TEST(ChanExamples, ConversionsReadBack) {
  for (const char* name : {"chan_descriptions.xml", "chan_daqvariables.xml"}) {
    std::string file = path(name);
    ListGuard in;
    ASSERT_EQ(parse_descr_list_readf(&file[0], &in.list, false, true), 0);
    for (int format : {0, 1}) {
      std::string doc;
      ASSERT_EQ(dump_chan_desr(&in.list, nullptr, 2, format, -1, &doc, nullptr), 0);
      ListGuard back;
      int r = -1;
      // DAQvariables written from DAQvariables: the bit titles read into the
      // names are written from the (empty) descriptions; the reader says so.
      testutil::capture_stdout([&] { r = parse_descr_list_read(&doc[0], &back.list, false, true); });
      ASSERT_EQ(r, 0) << doc;
      ASSERT_EQ(back.size(), in.size()) << name << format;
      for (std::size_t i = 0; i < in.size(); ++i) {
        EXPECT_STREQ(back[i]->prop_name, in[i]->prop_name);
        EXPECT_STREQ(back[i]->daq_name, in[i]->daq_name);
        EXPECT_EQ(back[i]->ev_type, in[i]->ev_type);
        EXPECT_EQ(back[i]->ndims, in[i]->ndims);
      }
    }
  }
}

}  // namespace
}  // namespace chan_examples_test
