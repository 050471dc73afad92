// Channel selector: loading, name lookups with their first-match order,
// slow/ML/subchannel questions, out-of-range and null arguments.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "chan_selector.h"
#include "parse_chan_descr.h"
#include "test_util.h"

namespace {

using testutil::capture_stdout;

// One channel of a generated CHANDESCRIPTIONS document; -1 leaves a number out.
struct Ch {
  std::string prop;
  std::string name;
  int ev = -1;
  int dt = -1;
  int dims = 0;
};

std::string chandescr_doc(const std::vector<Ch>& chans) {
  std::string s = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<CHANDESCRIPTIONS>\n";
  for (const Ch& c : chans) {
    s += "<CHANNEL>\n";
    if (c.ev >= 0) s += "<EVTYPE>" + std::to_string(c.ev) + "</EVTYPE>\n";
    if (c.dt >= 0) s += "<DTYPE>" + std::to_string(c.dt) + "</DTYPE>\n";
    s += "<PROP>" + c.prop + "</PROP>\n";
    if (!c.name.empty()) s += "<NAME>" + c.name + "</NAME>\n";
    for (int d = 0; d < c.dims; ++d)
      s += "<DIM>" + std::to_string(d) + "\n<DIM_NAME>d" + std::to_string(d) + "</DIM_NAME>\n</DIM>\n";
    s += "</CHANNEL>\n";
  }
  return s + "</CHANDESCRIPTIONS>\n";
}

// A selector that lets the tests see its records.
struct open_selector : chan_selector {
  using chan_selector::descr;
  using chan_selector::ev_types;
  using chan_selector::shift;
  using descr_extractor::in_vector;
};

// Loads documents held in memory; returns set_descriptions' result.
bool load(chan_selector& sel, std::vector<std::string> docs, int* total = nullptr) {
  EXPECT_FALSE(sel.change_mode(1));
  std::vector<char*> src;
  for (std::string& d : docs) src.push_back(&d[0]);
  return sel.set_descriptions(&src, total);
}

char* cs(const char* s) { return const_cast<char*>(s); }

TEST(ChanSelectorEmpty, AcceptsEverythingAndAnswersZero) {
  chan_selector sel;
  EXPECT_EQ(sel.size(), 0);
  EXPECT_TRUE(sel.find_channel(1, cs("ANY")));
  EXPECT_TRUE(sel.find_channel(99, nullptr));
  int r = -1;
  EXPECT_EQ(capture_stdout([&] { r = sel.get_event_type(cs("X")); }), "get_event_type() No descroption !!!!\n");
  EXPECT_EQ(r, 0);
  EXPECT_EQ(capture_stdout([&] { r = sel.get_data_type(cs("X")); }), "get_event_type() No descroption !!!!\n");
  EXPECT_EQ(r, 0);
  EXPECT_EQ(sel.get_channel(0), nullptr);
  EXPECT_EQ(sel.get_prop(0), nullptr);
  EXPECT_TRUE(sel.set_counter(0, 1));
  EXPECT_EQ(sel.is_channel_slow(0), -1);
  EXPECT_EQ(sel.is_channel_ml(0), -1);
  EXPECT_EQ(sel.get_subchannels(0), 0);
}

TEST(ChanSelectorMode, StartsWithFilesAndShiftAndRejectsUnknownModes) {
  open_selector sel;
  EXPECT_EQ(sel.get_mode(), 0);
  EXPECT_TRUE(sel.shift);
  EXPECT_EQ(sel.ev_types, 0);
  EXPECT_FALSE(sel.change_mode(1));
  EXPECT_EQ(sel.get_mode(), 1);
  EXPECT_TRUE(sel.change_mode(2));
  EXPECT_TRUE(sel.set_mode(-1));
  EXPECT_EQ(sel.get_mode(), 1);
  EXPECT_FALSE(sel.set_mode(0));
  EXPECT_EQ(sel.get_mode(), 0);
  sel.set_shift(false);
  EXPECT_FALSE(sel.shift);
}

TEST(ChanSelectorQueries, SlowUpdateChannel) {
  chan_selector sel;
  ASSERT_FALSE(load(sel, {chandescr_doc({{"P", "D", 5, 33}})}));
  EXPECT_EQ(sel.size(), 1);
  EXPECT_TRUE(sel.find_channel(5, cs("P")));
  EXPECT_FALSE(sel.find_channel(5, cs("D")));  // UPD is global: matched by property
  EXPECT_FALSE(sel.find_channel(1, cs("P")));  // no channel of event type 1
  EXPECT_EQ(sel.get_event_type(cs("P")), 0x20);
  EXPECT_EQ(sel.get_event_type(cs("D")), 0x20);
  EXPECT_EQ(static_cast<std::uint32_t>(sel.get_data_type(cs("D"))), 0x80000002u);
  EXPECT_EQ(sel.get_data_type(cs("P")), 0);  // data type is looked up by DAQ name only
  EXPECT_EQ(sel.is_channel_slow(0), 1);
  EXPECT_EQ(sel.get_subchannels(0), 1);
  EXPECT_EQ(sel.is_channel_ml(0), 0);
  EXPECT_STREQ(sel.get_channel(0), "D");
  EXPECT_STREQ(sel.get_prop(0), "P");
}

TEST(ChanSelectorQueries, LocalEventTypesMatchTheDaqNameOnly) {
  chan_selector sel;
  ASSERT_FALSE(load(sel, {chandescr_doc({{"CAM.PROP", "CAM1", 6}})}));  // IMAGE: local
  EXPECT_TRUE(sel.find_channel(6, cs("CAM1")));
  EXPECT_FALSE(sel.find_channel(6, cs("CAM.PROP")));
  EXPECT_EQ(sel.get_event_type(cs("CAM1")), 0x40);
  int r = -1;
  EXPECT_EQ(capture_stdout([&] { r = sel.get_event_type(cs("CAM.PROP")); }), "CHANNEL CAM.PROP NOT FOUND\n");
  EXPECT_EQ(r, 0);
}

TEST(ChanSelectorQueries, UnknownChannelAndChannelWithoutEventType) {
  chan_selector sel;
  ASSERT_FALSE(load(sel, {chandescr_doc({{"A", "a", 1}, {"B", "b", 40}})}));  // 40 -> mask 0
  int r = -1;
  EXPECT_EQ(capture_stdout([&] { r = sel.get_event_type(cs("nope")); }), "CHANNEL nope NOT FOUND\n");
  EXPECT_EQ(r, 0);
  std::string out = capture_stdout([&] {
    EXPECT_EQ(sel.is_channel_slow(1), -1);
    EXPECT_EQ(sel.is_channel_ml(1), -1);
    EXPECT_EQ(sel.get_subchannels(1), 0);
  });
  EXPECT_EQ(out, "CHANNEL b NOT FOUND\nCHANNEL b NOT FOUND\nCHANNEL b NOT FOUND\n");
  EXPECT_EQ(sel.is_channel_slow(0), 0);
}

TEST(ChanSelectorQueries, SubchannelsOfFastChannelsCountDimensions) {
  chan_selector sel;
  ASSERT_FALSE(load(sel, {chandescr_doc({{"S", "s", 1, -1, 3}, {"F", "f", 1}})}));
  EXPECT_EQ(sel.is_channel_slow(0), 0);
  EXPECT_EQ(sel.get_subchannels(0), 3);
  EXPECT_EQ(sel.get_subchannels(1), 0);
}

TEST(ChanSelectorQueries, MlChannels) {
  chan_selector sel;
  ASSERT_FALSE(load(sel, {chandescr_doc({{"A", "X.ML.Y", 1},  // ".ML" in the DAQ name
                                         {"B", "llrf", 20},   // LLRF_ML: ML kind
                                         {"C", "plain", 1},
                                         {"D", "SLOW.ML", 5}})}));
  EXPECT_EQ(sel.is_channel_ml(0), 1);
  EXPECT_EQ(sel.is_channel_ml(1), 1);
  EXPECT_EQ(sel.is_channel_ml(2), 0);
  EXPECT_EQ(sel.is_channel_ml(3), 1);
  EXPECT_TRUE(sel.find_channel(20, cs("llrf")));  // ML kind matches the DAQ name
  EXPECT_FALSE(sel.find_channel(20, cs("B")));
}

TEST(ChanSelectorQueries, FirstDescriptionInListOrderAnswers) {
  chan_selector sel;
  // "X" is the DAQ name of 0 (local type only) and the property of 1.
  // "Z" is the DAQ name of 2 (no event type) and 3; 2 answers the data type.
  ASSERT_FALSE(
      load(sel, {chandescr_doc(
                    {{"A", "X", 6, 9}, {"X", "Y", 1, 10}, {"Q", "Z", -1, 11}, {"R", "Z", 5, 12}, {"S", "Y", 4, 13}})}));
  EXPECT_EQ(sel.get_event_type(cs("X")), 0x40);
  EXPECT_EQ(sel.get_event_type(cs("Z")), 0x20);
  EXPECT_EQ(sel.get_data_type(cs("Z")), 1 << 11);
  EXPECT_EQ(sel.get_data_type(cs("Y")), 1 << 10);
  // Both descriptions with DAQ name Y answer with the first one's mask.
  EXPECT_EQ(sel.is_channel_slow(1), 0);
  EXPECT_EQ(sel.is_channel_slow(4), 0);
  EXPECT_TRUE(sel.find_channel(1, cs("X")));
  EXPECT_TRUE(sel.find_channel(6, cs("X")));
  EXPECT_TRUE(sel.find_channel(4, cs("Q")));  // any description's property, global type
}

TEST(ChanSelectorQueries, NullAndOutOfRangeArgumentsAreNotFound) {
  open_selector sel;
  ASSERT_FALSE(load(sel, {chandescr_doc({{"P", "D", 1}})}));
  EXPECT_FALSE(sel.find_channel(1, nullptr));
  EXPECT_FALSE(sel.find_channel(-1, cs("P")));
  EXPECT_FALSE(sel.find_channel(32, cs("P")));
  EXPECT_FALSE(sel.find_channel(1000, cs("P")));
  int r = -1;
  EXPECT_EQ(capture_stdout([&] { r = sel.get_event_type(nullptr); }), "CHANNEL (null) NOT FOUND\n");
  EXPECT_EQ(r, 0);
  EXPECT_EQ(sel.get_data_type(nullptr), 0);
  EXPECT_EQ(sel.get_channel(-1), nullptr);
  EXPECT_EQ(sel.get_prop(1), nullptr);
  EXPECT_TRUE(sel.set_counter(sel.size(), 1));
  EXPECT_TRUE(sel.set_counter(-1, 1));
  EXPECT_FALSE(sel.set_counter(0, 42));
  EXPECT_EQ(sel.descr[0]->count, 42);
  EXPECT_EQ(sel.is_channel_slow(-5), -1);
  EXPECT_EQ(sel.is_channel_ml(7), -1);
  EXPECT_EQ(sel.get_subchannels(1), 0);
}

TEST(ChanSelectorLoading, CountsDocumentsAndWidensEventTypes) {
  open_selector sel;
  int total = -1;
  ASSERT_FALSE(load(sel, {chandescr_doc({{"A", "a", 1}}), chandescr_doc({{"B", "b", 5}})}, &total));
  EXPECT_EQ(total, 2);
  EXPECT_EQ(sel.ev_types, 0x22);
  ASSERT_FALSE(load(sel, {chandescr_doc({{"C", "c", 4}})}, &total));
  EXPECT_EQ(total, 1);
  EXPECT_EQ(sel.ev_types, 0x32);
  EXPECT_EQ(sel.size(), 3);
  EXPECT_TRUE(sel.find_channel(4, cs("C")));
  EXPECT_TRUE(sel.find_channel(1, cs("A")));
  ASSERT_FALSE(load(sel, {}, &total));
  EXPECT_EQ(total, 0);
}

TEST(ChanSelectorLoading, FailedLastDocumentKeepsTotalAndEventTypes) {
  open_selector sel;
  int total = -7;
  bool rc = false;
  capture_stdout([&] {
    testutil::capture_stderr([&] {
      rc = load(sel, {chandescr_doc({{"A", "a", 1}}), "<CHANNELS></CHANNELS>"}, &total);
    });
  });
  EXPECT_TRUE(rc);
  EXPECT_EQ(total, -7);
  EXPECT_EQ(sel.ev_types, 0);
  EXPECT_FALSE(sel.find_channel(1, cs("A")));  // event type 1 is not selected yet
  // Only the last reader call decides; the count tells how many were read.
  testutil::capture_stderr([&] { rc = load(sel, {"<CHANNELS/>", chandescr_doc({{"B", "b", 5}})}, &total); });
  EXPECT_FALSE(rc);
  EXPECT_EQ(total, 1);
  EXPECT_EQ(sel.ev_types, 0x22);
  EXPECT_TRUE(sel.find_channel(1, cs("A")));
}

TEST(ChanSelectorLoading, NullSourcesAreRefused) {
  chan_selector sel;
  int total = -7;
  EXPECT_TRUE(sel.set_descriptions(nullptr, &total));
  EXPECT_EQ(total, -7);
  std::vector<char*> src{nullptr};
  EXPECT_FALSE(sel.change_mode(1));
  EXPECT_TRUE(sel.set_descriptions(&src, &total));
  EXPECT_FALSE(sel.change_mode(0));
  EXPECT_TRUE(sel.set_descriptions(&src, &total));
  EXPECT_EQ(total, -7);
  EXPECT_EQ(sel.size(), 0);
}

TEST(ChanSelectorLoading, ReadsFilesInModeZero) {
  testutil::TempFile f1(chandescr_doc({{"A", "a", 1}}));
  testutil::TempFile f2(chandescr_doc({{"A", "a2", 5}}));
  chan_selector sel;
  std::vector<char*> src{f1.c_path(), f2.c_path()};
  int total = 0;
  ASSERT_FALSE(sel.set_descriptions(&src, &total));
  EXPECT_EQ(total, 2);
  EXPECT_EQ(sel.size(), 2);  // the selector never merges CHANDESCRIPTIONS entries
  EXPECT_EQ(sel.get_event_type(cs("A")), 0x2);
  EXPECT_EQ(sel.get_event_type(cs("a2")), 0x20);
}

// A later DAQvariables document merges into a record loaded earlier and
// gives it an event type: lookups must see the record's new mask.
TEST(ChanSelectorLoading, MergingIntoEarlierRecordsIsSeenByLookups) {
  const std::string first =
      "<DAQvariables>\n<DaqFloat>\n<nexol>P</nexol>\n<daqName>D</daqName>\n</DaqFloat>\n"
      "</DAQvariables>\n";
  const std::string second =
      "<DAQvariables>\n<DaqFloat>\n<evType>5</evType>\n<nexol>P</nexol>\n"
      "<daqName>other</daqName>\n</DaqFloat>\n</DAQvariables>\n";
  chan_selector sel;
  ASSERT_FALSE(load(sel, {first}));
  capture_stdout([&] { EXPECT_EQ(sel.get_event_type(cs("D")), 0); });
  ASSERT_FALSE(load(sel, {second}));
  EXPECT_EQ(sel.size(), 1);
  EXPECT_EQ(sel.get_event_type(cs("D")), 0x20);
  EXPECT_EQ(sel.get_event_type(cs("P")), 0x20);
  EXPECT_TRUE(sel.find_channel(5, cs("P")));
}

TEST(ChanSelectorDump, WritesTheLoadedDescriptions) {
  chan_selector sel;
  ASSERT_FALSE(load(sel, {chandescr_doc({{"A", "a", 1, 2}, {"B", "b", 5}})}));
  testutil::TempFile out;
  sel.dump(out.c_path(), 2, 0);
  std::vector<chan_descr_2010*> back;
  ASSERT_EQ(parse_descr_list_readf(out.c_path(), &back, false, false), 0);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_STREQ(back[0]->prop_name, "A");
  EXPECT_EQ(back[0]->ev_type, 0x2u);  // masks, as loaded with shift
  EXPECT_STREQ(back[1]->daq_name, "b");
  clean_chan_desr_list(&back);
  EXPECT_EQ(capture_stdout([&] { sel.dump(out.c_path(), 2, 7); }), "dump_chan_desr() invalid argument: '\n");
}

TEST(DescrExtractor, InVector) {
  open_selector sel;
  std::vector<int> v{3, 5, 8};
  EXPECT_TRUE(sel.in_vector(&v, 5));
  EXPECT_FALSE(sel.in_vector(&v, 4));
  EXPECT_FALSE(sel.in_vector(nullptr, 5));
}

// The answers of the first-match scans, written out plainly, compared with
// the selector over random lists with many repeated names.
struct Reference {
  std::vector<Ch> chans;
  static std::uint32_t mask(int ev) { return ev >= 0 && ev < 32 ? 1u << ev : 0u; }
  static bool daq_only(int i) {
    const int k = get_event_struct_type(i);
    return k == 1 || k == 3;
  }
  bool find_channel(int ev, const std::string& chan) const {
    std::uint32_t all = 0;
    for (const Ch& c : chans) all |= mask(c.ev);
    if (chans.empty()) return true;
    if (!((all >> ev) & 1u)) return false;
    for (const Ch& c : chans)
      if ((daq_only(ev) ? c.name : c.prop) == chan) return true;
    return false;
  }
  int get_event_type(const std::string& chan) const {
    for (const Ch& c : chans)
      for (int i = 0; i < 32; ++i) {
        if (!((mask(c.ev) >> i) & 1u)) continue;
        if (daq_only(i) ? c.name == chan : (c.prop == chan || c.name == chan)) return static_cast<int>(mask(c.ev));
      }
    return 0;
  }
  int get_data_type(const std::string& chan) const {
    for (const Ch& c : chans)
      if (c.name == chan) return c.dt < 0 ? 0 : 1 << c.dt;
    return 0;
  }
};

TEST(ChanSelectorIndex, AgreesWithTheFirstMatchScan) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 20; ++round) {
    Reference ref;
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const int n = 1 + pick(40);
    for (int i = 0; i < n; ++i) {
      Ch c;
      c.prop = "N" + std::to_string(pick(12));
      c.name = "N" + std::to_string(pick(12));
      c.ev = pick(5) == 0 ? -1 : pick(33);  // some without type, some out of range (32)
      c.dt = pick(3) == 0 ? -1 : pick(20);
      ref.chans.push_back(c);
    }
    chan_selector sel;
    ASSERT_FALSE(load(sel, {chandescr_doc(ref.chans)}));
    for (int k = 0; k < 14; ++k) {
      std::string name = "N" + std::to_string(k);
      for (int ev = 0; ev < 32; ++ev)
        ASSERT_EQ(sel.find_channel(ev, &name[0]), ref.find_channel(ev, name)) << name << " " << ev;
      capture_stdout([&] { ASSERT_EQ(sel.get_event_type(&name[0]), ref.get_event_type(name)) << name; });
      ASSERT_EQ(sel.get_data_type(&name[0]), ref.get_data_type(name)) << name;
    }
  }
}

}  // namespace
