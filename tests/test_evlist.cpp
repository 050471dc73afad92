// Event lists: reading rules, printing, cleaning.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parse_ev_list.h"
#include "qal3.hpp"
#include "test_util.h"

namespace {

struct EvList {
  qal3::List<qal3_ev_entry> owned;
  std::vector<qal3_ev_entry*>& list = owned.records();
  int rc = 0;
  std::string err;
  explicit EvList(std::string doc) {
    err = testutil::capture_stderr([&] { rc = qal3_parse_ev_list_read(&doc[0], &list); });
  }
  std::string print() {
    return testutil::capture_stdout([&] { qal3_print_ev_list(&list); });
  }
};

TEST(EventList, TypesAndNumbers) {
  EvList ok(
      "<BMR><EVENT><TYPE>32</TYPE><TMASK>0x1F</TMASK><PRIORITY>31</PRIORITY>"
      "<MINTIMESEC> 0x10 </MINTIMESEC><MINTIMEUSEC>1x</MINTIMEUSEC></EVENT>"
      "<EVENT><TYPE>NAME</TYPE><TMASK>0X1F</TMASK></EVENT></BMR>");
  EXPECT_EQ(ok.rc, 0);
  ASSERT_EQ(ok.list.size(), 2u);
  EXPECT_EQ(ok.list[0]->evtype, QAL3_EV_EVMAX);
  EXPECT_EQ(ok.list[0]->tmask, 31u);
  EXPECT_EQ(ok.list[0]->priority, 31u);
  EXPECT_EQ(ok.list[0]->min_ev_time.timeup, 16u);
  EXPECT_EQ(ok.list[0]->min_ev_time.timelow, 0u);  // "1x" does not scan
  EXPECT_EQ(ok.list[1]->evtype, QAL3_EV_HB);       // non-numeric type
  EXPECT_EQ(ok.list[1]->tmask, 0u);                // upper-case X

  // Out-of-range types are dropped together with what follows them.
  EvList bad(
      "<BMR><EVENT><TYPE>33</TYPE><SBLOCK>A</SBLOCK></EVENT>"
      "<EVENT><TYPE>-1</TYPE><TMASK>3</TMASK><TYPE>4</TYPE><TMASK>5</TMASK></EVENT></BMR>");
  EXPECT_EQ(bad.rc, 0);
  ASSERT_EQ(bad.list.size(), 1u);
  EXPECT_EQ(bad.list[0]->evtype, QAL3_EV_ENV);
  EXPECT_EQ(bad.list[0]->tmask, 5u);

  // Two types in one event: later fields apply to the second entry.
  EvList two("<BMR><EVENT><TYPE>1</TYPE><TYPE>2</TYPE><TMASK>7</TMASK><SBLOCK>S</SBLOCK></EVENT></BMR>");
  ASSERT_EQ(two.list.size(), 2u);
  EXPECT_EQ(two.list[0]->tmask, 0u);
  EXPECT_TRUE(two.list[0]->sb_list->empty());
  EXPECT_EQ(two.list[1]->tmask, 7u);
  EXPECT_EQ(two.list[1]->sb_list->size(), 1u);

  EvList none("<BMR/>");
  EXPECT_EQ(none.rc, 0);
  EXPECT_TRUE(none.list.empty());
}

TEST(EventList, BlocksAndChannels) {
  EvList l(
      "<BMR><EVENT><TYPE>1</TYPE>"
      "<SBLOCK>B1<CHAN>early</CHAN><CHLIST><CHAN>c1</CHAN></CHLIST><CHAN>after</CHAN></SBLOCK>"
      "<SBLOCK>B2</SBLOCK><CHLIST/><CHAN>c2</CHAN>"
      "<SBLOCK>" +
      std::string(300, 'n') +
      "</SBLOCK>"
      "</EVENT><EVENT><CHAN>orphan</CHAN></EVENT></BMR>");
  EXPECT_EQ(l.rc, 0);
  ASSERT_EQ(l.list.size(), 1u);
  const auto& blocks = *l.list[0]->sb_list;
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_STREQ(blocks[0]->sb_list, "B1");
  ASSERT_EQ(blocks[0]->ch_list->size(), 2u);
  EXPECT_STREQ((*blocks[0]->ch_list)[0], "c1");
  EXPECT_STREQ((*blocks[0]->ch_list)[1], "after");
  ASSERT_EQ(blocks[1]->ch_list->size(), 1u);
  EXPECT_STREQ((*blocks[1]->ch_list)[0], "c2");
  EXPECT_EQ(std::string(blocks[2]->sb_list), std::string(254, 'n'));
  EXPECT_TRUE(blocks[2]->ch_list->empty());
}

TEST(EventList, Printer) {
  EvList l(
      "<BMR><EVENT><TYPE>5</TYPE><TMASK>0x1f</TMASK><MINTIMESEC>2</MINTIMESEC>"
      "<MINTIMEUSEC>30</MINTIMEUSEC><PRIORITY>4</PRIORITY>"
      "<SBLOCK>S<CHLIST><CHAN>a</CHAN><CHAN>b</CHAN></CHLIST></SBLOCK><SBLOCK>T</SBLOCK>"
      "</EVENT><EVENT><TYPE>0</TYPE></EVENT></BMR>");
  ASSERT_EQ(l.list.size(), 2u);
  EXPECT_EQ(l.print(),
            "Entry[0]\nEVENT TYPE:\tUPD\nTrigger mask:\t0x1f (31)\nMin event time:\t2 sec 30 usec\n"
            "Priority:\t0x4 (4)\nServer Blocks: 2\nServer block[0]: 'S'\nChannels: 2\n"
            "Channel[0]:\t'a'\nChannel[1]:\t'b'\nServer block[1]: 'T'\nNo channel list -> ALL channels\n"
            "Entry[1]\nEVENT TYPE:\tHB\nTrigger mask:\t0x0 (0)\nMin event time:\t0 sec 0 usec\n"
            "Priority:\t0x0 (0)\nServer Blocks: 0\n");
  // An entry without a server block vector stands for the full event.
  delete l.list[1]->sb_list;
  l.list[1]->sb_list = nullptr;
  EXPECT_NE(l.print().find("Server Blocks: 0"), std::string::npos - 1);
  EXPECT_NE(l.print().find("No server block list -> Full event\n"), std::string::npos);
  testutil::capture_stdout([] { qal3_print_ev_list(nullptr); });
}

TEST(EventList, FailuresAndResults) {
  EvList wrong("<bmr><EVENT><TYPE>1</TYPE></EVENT></bmr>");
  EXPECT_EQ(wrong.rc, 1);
  EXPECT_TRUE(wrong.list.empty());
  EXPECT_EQ(wrong.err, "WRONG root tag: bmr must be 'BMR'\n");

  // Entries made before an error stay; the result counts the errors.
  EvList broken("<BMR><EVENT><TYPE>1</TYPE></EVENT><EVENT><TYPE>2</TYPE></BROKEN></BMR>");
  EXPECT_GT(broken.rc, 0);
  EXPECT_EQ(broken.list.size(), 2u);

  EvList empty("");
  EXPECT_GE(empty.rc, 1);

  std::vector<qal3_ev_entry*> list;
  EXPECT_EQ(qal3_parse_ev_list_read(nullptr, &list), 1);
  char doc[] = "<BMR/>";
  EXPECT_EQ(qal3_parse_ev_list_read(doc, nullptr), 1);
  EXPECT_EQ(qal3_parse_ev_list_readf(nullptr, &list), 1);
  char missing[] = "/nonexistent/evlist.xml";
  testutil::capture_stderr([&] { EXPECT_GE(qal3_parse_ev_list_readf(missing, &list), 1); });
  qal3_clean_ev_list(nullptr);
}

TEST(EventList, FileReaderAppendsAndCleanIsRepeatable) {
  std::vector<qal3_ev_entry*> list;
  char path[] = QAL3_EXAMPLES_DIR "/evlist_basic.xml";
  ASSERT_EQ(qal3_parse_ev_list_readf(path, &list), 0);
  const std::size_t first = list.size();
  ASSERT_GT(first, 0u);
  ASSERT_EQ(qal3_parse_ev_list_readf(path, &list), 0);
  EXPECT_EQ(list.size(), 2 * first);
  qal3_clean_ev_list(&list);
  EXPECT_TRUE(list.empty());
  qal3_clean_ev_list(&list);
  EXPECT_TRUE(list.empty());
}

}  // namespace

// The element dispatch: names are exact and case-sensitive; near misses
// (other case, prefixes, longer names, names of the other branches) change
// nothing.

TEST(ReaderDispatch, EventListNamesAreExact) {
  std::string events =
      "<BMR><EVENT><TYPE>3</TYPE><TYPES>4</TYPES><Type>5</Type><TMASK>0x1f</TMASK><TMASKS>7</TMASKS>"
      "<PRIORITY> 12junk</PRIORITY><PRIORITYX>1</PRIORITYX><SBLOCK>S<CHLIST><CHAN>c</CHAN>"
      "<CHANS>x</CHANS><Chan>x</Chan></CHLIST></SBLOCK></EVENT></BMR>";
  std::vector<qal3_ev_entry*> list;
  ASSERT_EQ(qal3_parse_ev_list_read(&events[0], &list), 0);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(static_cast<int>(list[0]->evtype), 3);
  EXPECT_EQ(list[0]->tmask, 0x1fu);
  EXPECT_EQ(list[0]->priority, 12u);
  ASSERT_EQ(list[0]->sb_list->size(), 1u);
  ASSERT_EQ((*list[0]->sb_list)[0]->ch_list->size(), 1u);
  EXPECT_STREQ((*(*list[0]->sb_list)[0]->ch_list)[0], "c");
  qal3_clean_ev_list(&list);
}

namespace {

// The entry {type, tmask, priority, time, blocks} as the reader made it.
std::string entry_text(const qal3_ev_entry& e) {
  std::string s = std::to_string(e.evtype) + "/" + std::to_string(e.tmask) + "/" + std::to_string(e.priority) + "/" +
                  std::to_string(e.min_ev_time.timeup) + "." + std::to_string(e.min_ev_time.timelow);
  for (const qal3_ev_sb_list* b : *e.sb_list) {
    s += " [" + std::string(b->sb_list);
    for (const char* c : *b->ch_list) s += " " + std::string(c);
    s += "]";
  }
  return s;
}

// A document without its date line (the time of writing).
std::string undated(std::string doc) {
  const auto at = doc.find("\t<isodate>");
  return at == std::string::npos ? doc : doc.erase(at, doc.find('\n', at) + 1 - at);
}

}  // namespace

TEST(EventListWriter, WrittenListReadsBackToTheSameRecords) {
  EvList in(
      "<BMR><EVENT><TYPE>32</TYPE><TMASK>0xFFFFFFFF</TMASK><PRIORITY>7</PRIORITY>"
      "<MINTIMESEC>4294967295</MINTIMESEC><MINTIMEUSEC>9</MINTIMEUSEC>"
      "<SBLOCK>A&amp;&lt;\xC2\xB5<CHLIST><CHAN>c1 \"q\"</CHAN><CHAN>c2</CHAN></CHLIST></SBLOCK>"
      "<SBLOCK>B</SBLOCK></EVENT><EVENT><TYPE>0</TYPE><TMASK>0x1a2B</TMASK></EVENT></BMR>");
  ASSERT_EQ(in.list.size(), 2u);
  std::string doc;
  ASSERT_EQ(qal3_write_ev_list(&in.list, nullptr, -1, &doc), 0);
  // The trigger mask in upper-case hexadecimal after 0x, every other number in decimal.
  EXPECT_EQ(undated(doc),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n"
            "<BMR>\n"
            "\t<EVENT>\n"
            "\t\t<TYPE>32</TYPE>\n"
            "\t\t<TMASK>0xFFFFFFFF</TMASK>\n"
            "\t\t<MINTIMESEC>4294967295</MINTIMESEC>\n"
            "\t\t<MINTIMEUSEC>9</MINTIMEUSEC>\n"
            "\t\t<PRIORITY>7</PRIORITY>\n"
            "\t\t<SBLOCK>A&amp;&lt;&#181;<CHLIST>\n"
            "\t\t\t\t<CHAN>c1 &quot;q&quot;</CHAN>\n"
            "\t\t\t\t<CHAN>c2</CHAN>\n"
            "\t\t\t</CHLIST>\n"
            "\t\t</SBLOCK>\n"
            "\t\t<SBLOCK>B</SBLOCK>\n"
            "\t</EVENT>\n"
            "\t<EVENT>\n"
            "\t\t<TYPE>0</TYPE>\n"
            "\t\t<TMASK>0x1A2B</TMASK>\n"
            "\t\t<MINTIMESEC>0</MINTIMESEC>\n"
            "\t\t<MINTIMEUSEC>0</MINTIMEUSEC>\n"
            "\t\t<PRIORITY>0</PRIORITY>\n"
            "\t</EVENT>\n"
            "</BMR>\n");
  EvList back(doc);
  ASSERT_EQ(back.rc, 0);
  ASSERT_EQ(back.list.size(), in.list.size());
  for (std::size_t i = 0; i < in.list.size(); ++i) EXPECT_EQ(entry_text(*back.list[i]), entry_text(*in.list[i]));

  // The same bytes in a file; a null list and a file that cannot be made fail.
  testutil::TempFile file;
  EXPECT_EQ(qal3_write_ev_list(&in.list, file.c_path(), -1, nullptr), 0);
  EXPECT_EQ(undated(file.read()), undated(doc));
  EXPECT_NE(undated(doc), doc);
  testutil::capture_stdout([&] {
    EXPECT_EQ(qal3_write_ev_list(nullptr, nullptr, -1, &doc), 2);
    EXPECT_EQ(qal3_write_ev_list(&in.list, "/nonexistent-dir/x.xml", -1, nullptr), 1);
  });
}
