// Trigger lists: reading, writing in every form, and the record operations.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <new>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "qal3.hpp"
#include "test_util.h"
#include "user_case_trigger.h"

using testutil::capture_stderr;
using testutil::capture_stdout;
using testutil::TempFile;

namespace {

using List = std::vector<qal3_user_case_trigger*>;

// A list that releases its records.
struct OwnedList {
  qal3::List<qal3_user_case_trigger> owned;
  List& v = owned.records();
  qal3_user_case_trigger& operator[](std::size_t i) { return *v.at(i); }
};

bool read_doc(std::string doc, OwnedList& list) { return parse_trigger_list_read(&doc[0], &list.v); }

std::string wrap(const std::string& inner) { return "<QAL3USERTRIGGERLIST>\n" + inner + "</QAL3USERTRIGGERLIST>\n"; }

qal3_user_case_trigger* new_record() {
  void* p = std::calloc(1, sizeof(qal3_user_case_trigger));
  if (!p) throw std::bad_alloc();
  return static_cast<qal3_user_case_trigger*>(p);
}

using Rec = std::unique_ptr<qal3_user_case_trigger, void (*)(qal3_user_case_trigger*)>;
Rec owned(qal3_user_case_trigger* t) { return Rec(t, QAL3_FREE_USER); }

// A record with every written field set.
qal3_user_case_trigger* sample_record(const char* descr = "beam current") {
  qal3_user_case_trigger* t = new_record();
  if (!t) std::abort();
  std::strcpy(t->channel, "BEAM/Current");
  std::strcpy(t->description, descr);
  std::strcpy(t->group, "beam");
  t->subchannel = 3;
  t->function = 7;   // P2P
  t->operation = 5;  // INSIDE
  for (int i = 0; i < 16; ++i) t->fparam[i] = 0.25f * static_cast<float>(i) - 1.0f;
  t->low = 1.5f;
  t->upper = -2.75f;
  t->bitmask = 31;
  t->pre_mode = 4;
  t->post_mode = 9;
  t->time = 1700000000;
  return t;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::string::size_type b = 0;
  while (b < text.size()) {
    auto e = text.find('\n', b);
    if (e == std::string::npos) e = text.size();
    out.push_back(text.substr(b, e - b));
    b = e + 1;
  }
  return out;
}

const char kDecl[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>";
const std::regex kIsodate("\t<isodate>\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d</isodate>");

}  // namespace

// ---------------------------------------------------------------------------
// Reading

TEST(TriggerListRead, WrongRootGivesMessageAndNoRecord) {
  OwnedList list;
  bool failed = false;
  const std::string err =
      capture_stderr([&] { failed = read_doc("<CHANDESCRIPTIONS><USERTRIGGER/></CHANDESCRIPTIONS>", list); });
  EXPECT_TRUE(failed);
  EXPECT_TRUE(list.v.empty());
  EXPECT_NE(err.find("WRONG root tag: 'CHANDESCRIPTIONS' must be 'QAL3USERTRIGGERLIST'\n"), std::string::npos);
}

TEST(TriggerListRead, EmptyRootAndDefaults) {
  {
    OwnedList list;
    EXPECT_FALSE(read_doc(wrap("\t<isodate>2026-01-01T00:00:00</isodate>\n"), list));
    EXPECT_TRUE(list.v.empty());
  }
  OwnedList list;
  const time_t before = std::time(nullptr);
  EXPECT_FALSE(read_doc(wrap("<Chan name=\"early\"/><Group name=\"g\"/><USERTRIGGER/>"), list));
  const time_t after = std::time(nullptr);
  ASSERT_EQ(list.v.size(), 1u);
  qal3_user_case_trigger& t = list[0];
  EXPECT_STREQ(t.channel, "");  // Chan before the first trigger is ignored
  EXPECT_STREQ(t.group, "");
  EXPECT_EQ(t.subchannel, 0);
  EXPECT_EQ(t.function, 2);
  EXPECT_EQ(t.operation, 0);
  EXPECT_EQ(t.low, 0.0f);
  EXPECT_EQ(t.upper, 0.0f);
  EXPECT_EQ(t.bitmask, 0u);
  EXPECT_GE(t.time, before);
  EXPECT_LE(t.time, after);
  EXPECT_EQ(t.fresult, nullptr);
  EXPECT_EQ(t.fprevresult, nullptr);
  EXPECT_EQ(t.iresult, nullptr);
}

TEST(TriggerListRead, FunctionParametersAliasesAndNames) {
  OwnedList list;
  EXPECT_FALSE(read_doc(wrap("<USERTRIGGER>"
                             "<Function name=\"MAX\" start=\"100\" param0=\"200\" end=\"7.5\"/>"
                             "<Function incr=\"3\" b=\"4\" form=\"5\" param15=\"-1\"/>"
                             "</USERTRIGGER>"
                             "<USERTRIGGER><Function name=\"NOSUCH\" position=\"9\"/>"
                             "<Operation name=\"NOSUCH\"/></USERTRIGGER>"
                             "<USERTRIGGER><Function name=\"DIFFP2P\"/><Operation name=\"BITS\"/>"
                             "</USERTRIGGER>"),
                        list));
  ASSERT_EQ(list.v.size(), 3u);
  EXPECT_EQ(list[0].fparam[0], 200.0f);  // param0 wins over start
  EXPECT_EQ(list[0].fparam[1], 7.5f);
  EXPECT_EQ(list[0].fparam[2], 3.0f);
  EXPECT_EQ(list[0].fparam[3], 4.0f);
  EXPECT_EQ(list[0].fparam[4], 5.0f);
  EXPECT_EQ(list[0].fparam[15], -1.0f);
  EXPECT_EQ(list[0].function, 1);  // a Function without name keeps MAX
  EXPECT_EQ(list[1].function, 2);  // unknown name leaves MEAN
  EXPECT_EQ(list[1].operation, 0);
  EXPECT_EQ(list[1].fparam[0], 9.0f);
  EXPECT_EQ(list[2].function, 15);
  EXPECT_EQ(list[2].operation, 12);
}

TEST(TriggerListRead, AttributeConversions) {
  OwnedList list;
  EXPECT_FALSE(read_doc(wrap("<USERTRIGGER><Chan name=\"A\" subchan=\"12\"/><BitMask mask=\"0x1F\"/>"
                             "<LowLimit value=\"-1.25\"/><UpperLimit value=\"2e3\"/>"
                             "<PreMode events=\"-1\"/><PostMode events=\"4294967295\"/></USERTRIGGER>"
                             "<USERTRIGGER><Chan subchan=\"abc\"/><BitMask mask=\"31\"/><LowLimit value=\"x\"/>"
                             "</USERTRIGGER>"
                             "<USERTRIGGER><BitMask mask=\"0X1F\"/><Chan name=\"B\"/></USERTRIGGER>"),
                        list));
  ASSERT_EQ(list.v.size(), 3u);
  EXPECT_STREQ(list[0].channel, "A");
  EXPECT_EQ(list[0].subchannel, 12);
  EXPECT_EQ(list[0].bitmask, 31u);
  EXPECT_EQ(list[0].low, -1.25f);
  EXPECT_EQ(list[0].upper, 2000.0f);
  EXPECT_EQ(list[0].pre_mode, -1);
  EXPECT_EQ(list[0].post_mode, 2147483647);  // clamped to the int range
  EXPECT_EQ(list[1].subchannel, 0);
  EXPECT_EQ(list[1].bitmask, 0u);
  EXPECT_EQ(list[1].low, 0.0f);
  EXPECT_EQ(list[2].bitmask, 0u);
  EXPECT_STREQ(list[2].channel, "B");
}

TEST(TriggerListRead, LongTextsAreCutTo255Characters) {
  const std::string longname(300, 'n');
  const std::string longdescr(1000, 'd');
  OwnedList list;
  EXPECT_FALSE(read_doc(wrap("<USERTRIGGER><Chan name=\"" + longname + "\"/><Description text=\"" + longdescr +
                             "\"/><Group name=\"" + longname + "\"/></USERTRIGGER>"),
                        list));
  ASSERT_EQ(list.v.size(), 1u);
  EXPECT_EQ(std::string(list[0].channel), std::string(255, 'n'));
  EXPECT_EQ(std::string(list[0].description), std::string(255, 'd'));
  EXPECT_EQ(std::string(list[0].group), std::string(255, 'n'));
}

TEST(TriggerListRead, ElementsReportedTwice) {
  OwnedList list;
  EXPECT_FALSE(read_doc(wrap("<USERTRIGGER></USERTRIGGER>"
                             "<USERTRIGGER>\n<Description text=\"d\"></Description>\n</USERTRIGGER>"),
                        list));
  ASSERT_EQ(list.v.size(), 3u);  // the first USERTRIGGER begins two records
  EXPECT_STREQ(list[2].description, "d");
}

TEST(TriggerListRead, BrokenDocumentKeepsRecordsBegun) {
  OwnedList list;
  bool failed = false;
  capture_stderr([&] {
    failed = read_doc(
        "<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"one\"/></USERTRIGGER>"
        "<USERTRIGGER><Chan name=\"two\"/><Func",
        list);
  });
  EXPECT_TRUE(failed);
  ASSERT_EQ(list.v.size(), 2u);
  EXPECT_STREQ(list[0].channel, "one");
  EXPECT_STREQ(list[1].channel, "two");
}

TEST(TriggerListRead, FileTwinAndBadArguments) {
  TempFile f(wrap("<USERTRIGGER><Chan name=\"f\"/></USERTRIGGER>"));
  OwnedList list;
  EXPECT_FALSE(parse_trigger_list_readf(f.c_path(), &list.v));
  ASSERT_EQ(list.v.size(), 1u);
  EXPECT_STREQ(list[0].channel, "f");

  char missing[] = "/nonexistent/triggers.xml";
  capture_stderr([&] { EXPECT_TRUE(parse_trigger_list_readf(missing, &list.v)); });
  EXPECT_EQ(list.v.size(), 1u);
  EXPECT_TRUE(parse_trigger_list_read(nullptr, &list.v));
  EXPECT_TRUE(parse_trigger_list_readf(nullptr, &list.v));
  std::string doc = wrap("");
  EXPECT_TRUE(parse_trigger_list_read(&doc[0], nullptr));
}

// The record allocation of the reader made to fail: the reader stops, says
// so and reports failure. Replaces calloc for this test binary; not done
// under the address or thread sanitizer, which owns the allocator.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QAL3_TEST_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QAL3_TEST_SANITIZER 1
#endif
#endif

#if !defined(QAL3_TEST_SANITIZER)
namespace {
bool g_fail_record_alloc = false;
}
extern "C" void* __libc_calloc(std::size_t, std::size_t) noexcept;
extern "C" void* calloc(std::size_t n, std::size_t size) noexcept {
  if (g_fail_record_alloc && n == 1 && size == sizeof(qal3_user_case_trigger)) return nullptr;
  return __libc_calloc(n, size);
}
#endif

TEST(TriggerListRead, AllocationFailureIsReportedAsFailure) {
#if defined(QAL3_TEST_SANITIZER)
  GTEST_SKIP() << "allocator replacement not possible under a sanitizer that owns the allocator";
#else
  OwnedList list;
  bool failed = false;
  const std::string out = capture_stdout([&] {
    g_fail_record_alloc = true;
    failed = read_doc(wrap("<USERTRIGGER/><USERTRIGGER/>"), list);
    g_fail_record_alloc = false;
  });
  EXPECT_TRUE(failed);
  EXPECT_TRUE(list.v.empty());
  EXPECT_EQ(out, "Failed to allocate memory for qal3_user_case_trigger\n");
#endif
}

// ---------------------------------------------------------------------------
// Writing

TEST(TriggerListWrite, XmlFileLayout) {
  OwnedList list;
  list.v.push_back(sample_record());
  list[0].pre_mode = -1;
  list[0].post_mode = -1;
  TempFile f;
  int rc = -1;
  const std::string out = capture_stdout([&] { rc = dump_user_trigger_list(&list.v, f.c_path(), 2, -1, nullptr); });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out, "dump_user_trigger_list()  file: '" + f.path() + "' has been created\n" +
                     "dump_user_trigger_list()  file: '" + f.path() + "' has been closed\n");
  const std::vector<std::string> l = lines_of(f.read());
  ASSERT_EQ(l.size(), 17u);
  EXPECT_EQ(l[0], kDecl);
  EXPECT_EQ(l[1], "<QAL3USERTRIGGERLIST>");
  EXPECT_TRUE(std::regex_match(l[2], kIsodate)) << l[2];
  EXPECT_EQ(l[3], "<USERTRIGGER>");
  EXPECT_EQ(l[4], "<Chan name=\"BEAM/Current\" subchan=\"3\"/>");
  EXPECT_EQ(l[5],
            "<Function name=\"P2P\" param0=\"-1.000000\" param1=\"-0.750000\" param2=\"-0.500000\" "
            "param3=\"-0.250000\" param4=\"0.000000\" param5=\"0.250000\" param6=\"0.500000\" "
            "param7=\"0.750000\" param8=\"1.000000\" param9=\"1.250000\" param10=\"1.500000\" "
            "param11=\"1.750000\" param12=\"2.000000\" param13=\"2.250000\" param14=\"2.500000\" "
            "param15=\"2.750000\"/>");
  EXPECT_EQ(l[6], "<Operation name=\"INSIDE\"/>");
  EXPECT_EQ(l[7], "<LowLimit value=\"1.500000\"/>");
  EXPECT_EQ(l[8], "<UpperLimit value=\"-2.750000\"/>");
  EXPECT_EQ(l[9], "<BitMask mask=\"0x1F\"/>");
  EXPECT_EQ(l[10], "<Creation time=\"1700000000\"/>");
  EXPECT_EQ(l[11], "<Description text=\"beam current\"/>");
  EXPECT_EQ(l[12], "<PreMode events=\"4294967295\"/>");
  EXPECT_EQ(l[13], "<PostMode events=\"-1\"/>");
  EXPECT_EQ(l[14], "<Group name=\"beam\"/>");
  EXPECT_EQ(l[15], "</USERTRIGGER>");
  EXPECT_EQ(l[16], "</QAL3USERTRIGGERLIST>");
}

TEST(TriggerListWrite, RoundTripEqualAlsoWithMarkupCharacters) {
  OwnedList list;
  list.v.push_back(sample_record());
  list.v.push_back(sample_record("say \"hi\" & <run> 'now' >\tx\ny"));
  std::strcpy(list[1].channel, "A&B<\"C\">");
  std::strcpy(list[1].group, "g\"&<");
  list[1].function = 13;
  list[1].operation = 12;

  TempFile f;
  capture_stdout([&] { ASSERT_EQ(dump_user_trigger_list(&list.v, f.c_path(), 2, -1, nullptr), 0); });
  std::string in_string;
  ASSERT_EQ(dump_user_trigger_list(&list.v, nullptr, 3, -1, &in_string), 0);

  OwnedList from_file;
  OwnedList from_string;
  EXPECT_FALSE(parse_trigger_list_readf(f.c_path(), &from_file.v));
  EXPECT_FALSE(parse_trigger_list_read(&in_string[0], &from_string.v));
  ASSERT_EQ(from_file.v.size(), 2u);
  ASSERT_EQ(from_string.v.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_TRUE(QAL3_USER_THESAME(list.v[i], from_file.v[i])) << i;
    EXPECT_TRUE(QAL3_USER_THESAME(list.v[i], from_string.v[i])) << i;
  }
  EXPECT_STREQ(from_file[1].description, "say \"hi\" & <run> 'now' >\tx\ny");
  EXPECT_NE(from_file[0].time, list[0].time);  // creation is not read back
}

// Values that six decimals would lose are written in the shortest text that
// reads back exactly; every written float reads back to the same bits.
TEST(TriggerListWrite, EveryFloatReadsBackExactly) {
  OwnedList list;
  list.v.push_back(sample_record());
  list[0].low = 1e-7f;
  list[0].upper = 123456.789f;
  list[0].fparam[0] = 0.000000123f;
  list[0].fparam[1] = -3.4e38f;
  list[0].fparam[2] = std::numeric_limits<float>::denorm_min();
  list[0].fparam[3] = std::numeric_limits<float>::infinity();
  list[0].fparam[4] = 0.1234567f;
  std::string doc;
  ASSERT_EQ(dump_user_trigger_list(&list.v, nullptr, 3, -1, &doc), 0);
  EXPECT_NE(doc.find("<LowLimit value=\"1e-07\"/>"), std::string::npos) << doc;
  EXPECT_NE(doc.find("<UpperLimit value=\"123456.789062\"/>"), std::string::npos) << doc;
  EXPECT_NE(doc.find(" param0=\"1.23e-07\" param1=\"-339999995214436424907732413799364296704.000000\" "
                     "param2=\"1e-45\" param3=\"inf\" param4=\"0.1234567\" param5=\"0.250000\""),
            std::string::npos)
      << doc;
  OwnedList back;
  ASSERT_FALSE(read_doc(doc, back));
  ASSERT_EQ(back.v.size(), 1u);
  EXPECT_EQ(std::memcmp(&back[0].low, &list[0].low, sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(&back[0].upper, &list[0].upper, sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(back[0].fparam, list[0].fparam, sizeof list[0].fparam), 0);
  EXPECT_TRUE(QAL3_USER_THESAME(list.v[0], back.v[0]));

  std::string text;
  ASSERT_EQ(dump_user_trigger_list(&list.v, nullptr, 1, -1, &text), 0);
  EXPECT_NE(text.find("[0]:1.23e-07\t[1]:"), std::string::npos) << text;
  EXPECT_NE(text.find("\n1e-07\t123456.789062\t0x1F\n"), std::string::npos) << text;
}

// Found by fuzzing: the pre mode is written in its unsigned form, so a
// negative one must read back from that form rather than be clamped.
TEST(TriggerListWrite, NegativeModesReadBackUnchanged) {
  OwnedList list;
  for (int mode : {-1, -7, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}) {
    list.v.push_back(sample_record());
    list.v.back()->pre_mode = mode;
    list.v.back()->post_mode = mode;
  }
  std::string doc;
  ASSERT_EQ(dump_user_trigger_list(&list.v, nullptr, 3, -1, &doc), 0);
  OwnedList back;
  ASSERT_FALSE(parse_trigger_list_read(&doc[0], &back.v));
  ASSERT_EQ(back.v.size(), list.v.size());
  for (std::size_t i = 0; i < list.v.size(); ++i) {
    EXPECT_EQ(back[i].pre_mode, list[i].pre_mode) << i;
    EXPECT_EQ(back[i].post_mode, list[i].post_mode) << i;
  }
  // Beyond the unsigned range the number is still clamped.
  OwnedList big;
  EXPECT_FALSE(read_doc(wrap("<USERTRIGGER><PreMode events=\"4294967296\"/></USERTRIGGER>"
                             "<USERTRIGGER><PreMode events=\"-4294967295\"/></USERTRIGGER>"),
                        big));
  ASSERT_EQ(big.v.size(), 2u);
  EXPECT_EQ(big[0].pre_mode, std::numeric_limits<int>::max());
  EXPECT_EQ(big[1].pre_mode, std::numeric_limits<int>::min());
}

// Found by fuzzing: non-ASCII attribute values read back as other
// characters after a write; a value cut at 255 bytes could end in half a
// character.
TEST(TriggerListWrite, NonAsciiTextRoundTripsAndIsCutAtCharacters) {
  OwnedList list;
  list.v.push_back(
      sample_record("Strahlstrom \xc2\xb5"
                    "A \xe2\x82\xac"));
  std::strcpy(list[0].channel, "R\xc3\xb6hre");
  std::strcpy(list[0].group, "gr\xc3\xbcn");
  std::string doc;
  ASSERT_EQ(dump_user_trigger_list(&list.v, nullptr, 3, -1, &doc), 0);
  OwnedList back;
  ASSERT_FALSE(parse_trigger_list_read(&doc[0], &back.v)) << doc;
  ASSERT_EQ(back.v.size(), 1u);
  EXPECT_TRUE(QAL3_USER_THESAME(list.v[0], back.v[0])) << doc;

  std::string longtext = "x";
  for (int i = 0; i < 200; ++i) longtext += "\xc3\xa9";
  OwnedList cut;
  ASSERT_FALSE(read_doc(wrap("<USERTRIGGER><Description text=\"" + longtext + "\"/></USERTRIGGER>"), cut));
  ASSERT_EQ(cut.v.size(), 1u);
  EXPECT_EQ(std::string(cut[0].description), longtext.substr(0, 255));
  ASSERT_FALSE(read_doc(wrap("<USERTRIGGER><Description text=\"y" + longtext + "\"/></USERTRIGGER>"), cut));
  ASSERT_EQ(cut.v.size(), 2u);
  EXPECT_EQ(std::string(cut[1].description), ("y" + longtext).substr(0, 254));
}

TEST(TriggerListWrite, ScreenForm) {
  OwnedList list;
  list.v.push_back(sample_record());
  std::string out;
  for (int mode : {0, 1, 2, 3, 7}) {
    int rc = -1;
    out = capture_stdout([&] { rc = dump_user_trigger_list(&list.v, nullptr, mode, -1, nullptr); });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out.rfind("-------------- 1 -----------------\n", 0), 0u) << mode;
  }
  EXPECT_EQ(out,
            "-------------- 1 -----------------\n"
            " Channel: BEAM/Current\tsubchannel: 3\n"
            " Function: P2P\n"
            " Parameters: \n"
            "[0]:-1.000000\t[1]:-0.750000\t[2]:-0.500000\t[3]:-0.250000\t[4]:0.000000\t"
            "[5]:0.250000\t[6]:0.500000\t[7]:0.750000\t[8]:1.000000\t[9]:1.250000\t"
            "[10]:1.500000\t[11]:1.750000\t[12]:2.000000\t[13]:2.250000\t[14]:2.500000\t"
            "[15]:2.750000\t\n"
            " Operation: INSIDE\n"
            " Limits: \n"
            " Low: 1.5\tUpper: -2.75\n"
            "BitMask: 0x1F\n");
  char empty_name[] = "";
  OwnedList none;
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(dump_user_trigger_list(&none.v, empty_name, 2, -1, nullptr), 0); }), "");
}

TEST(TriggerListWrite, TextFile) {
  OwnedList list;
  list.v.push_back(sample_record());
  list[0].function = 40;
  list[0].operation = -1;
  TempFile f("", ".txt");
  capture_stdout([&] { EXPECT_EQ(dump_user_trigger_list(&list.v, f.c_path(), 1, -1, nullptr), 0); });
  EXPECT_EQ(f.read(),
            "BEAM/Current\t3\tUNKNOWN\n"
            "[0]:-1.000000\t[1]:-0.750000\t[2]:-0.500000\t[3]:-0.250000\t[4]:0.000000\t"
            "[5]:0.250000\t[6]:0.500000\t[7]:0.750000\t[8]:1.000000\t[9]:1.250000\t"
            "[10]:1.500000\t[11]:1.750000\t[12]:2.000000\t[13]:2.250000\t[14]:2.500000\t"
            "[15]:2.750000\t\n"
            "UNKNOWN\n"
            "1.500000\t-2.750000\t0x1F\n");

  // Without a file the text goes to the string and the descriptor given.
  std::string text;
  EXPECT_EQ(dump_user_trigger_list(&list.v, nullptr, 1, -1, &text), 0);
  EXPECT_EQ(text, f.read());
}

TEST(TriggerListWrite, UnknownSlotsReadBackAsNoMatch) {
  OwnedList list;
  list.v.push_back(sample_record());
  list[0].function = 32;
  list[0].operation = -5;
  std::string doc;
  ASSERT_EQ(dump_user_trigger_list(&list.v, nullptr, 3, -1, &doc), 0);
  EXPECT_NE(doc.find("<Function name=\"UNKNOWN\""), std::string::npos);
  EXPECT_NE(doc.find("<Operation name=\"UNKNOWN\"/>"), std::string::npos);
  OwnedList back;
  EXPECT_FALSE(parse_trigger_list_read(&doc[0], &back.v));
  ASSERT_EQ(back.v.size(), 1u);
  EXPECT_EQ(back[0].function, 2);
  EXPECT_EQ(back[0].operation, 0);
}

TEST(TriggerListWrite, EmptyListAndEmptyHeader) {
  OwnedList none;
  TempFile f;
  capture_stdout([&] { EXPECT_EQ(dump_user_trigger_list(&none.v, f.c_path(), 2, -1, nullptr), 0); });
  std::string header = "stale";
  EXPECT_EQ(get_user_trigger_empty_header(&header), 0);
  const auto a = lines_of(f.read());
  const auto b = lines_of(header);
  ASSERT_EQ(a.size(), 4u);
  ASSERT_EQ(b.size(), 4u);
  EXPECT_EQ(b[0], kDecl);
  EXPECT_EQ(b[1], "<QAL3USERTRIGGERLIST>");
  EXPECT_TRUE(std::regex_match(b[2], kIsodate));
  EXPECT_EQ(b[3], "</QAL3USERTRIGGERLIST>");
  EXPECT_EQ(a[0], b[0]);
  EXPECT_EQ(a[1], b[1]);
  EXPECT_EQ(a[3], b[3]);
  EXPECT_EQ(header.back(), '\n');

  EXPECT_EQ(capture_stdout([] { EXPECT_EQ(get_user_trigger_empty_header(nullptr), 2); }),
            "get_user_trigger_empty_header() invalid argument: '\n");
}

TEST(TriggerListWrite, ModeThreeFillsStringAndLeavesFileEmpty) {
  OwnedList list;
  list.v.push_back(sample_record());
  TempFile f("old content");
  std::string doc;
  capture_stdout([&] { EXPECT_EQ(dump_user_trigger_list(&list.v, f.c_path(), 3, -1, &doc), 0); });
  EXPECT_EQ(f.read(), "");
  EXPECT_EQ(doc.rfind(kDecl, 0), 0u);
  EXPECT_NE(doc.find("<Chan name=\"BEAM/Current\" subchan=\"3\"/>"), std::string::npos);
}

TEST(TriggerListWrite, DescriptorReceivesWholeDocument) {
  // Far more than a pipe holds, and the blocked write is interrupted by a
  // signal: the writer must carry on through the short write.
  OwnedList list;
  for (int i = 0; i < 400; ++i) list.v.push_back(sample_record());
  std::string expected;
  ASSERT_EQ(dump_user_trigger_list(&list.v, nullptr, 3, -1, &expected), 0);

  struct sigaction sa {};
  struct sigaction old_sa {};
  sa.sa_handler = [](int) {};
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: the write returns early
  ASSERT_EQ(sigaction(SIGUSR1, &sa, &old_sa), 0);

  int p[2];
  ASSERT_EQ(pipe(p), 0);
  const pthread_t writer = pthread_self();
  std::string received;
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pthread_kill(writer, SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    char buf[4096];
    ssize_t n;
    while ((n = read(p[0], buf, sizeof buf)) > 0) received.append(buf, static_cast<std::size_t>(n));
  });
  const int rc = dump_user_trigger_list(&list.v, nullptr, 2, p[1], nullptr);
  close(p[1]);
  reader.join();
  close(p[0]);
  sigaction(SIGUSR1, &old_sa, nullptr);
  EXPECT_EQ(rc, 0);
  // The same document apart from the time stamp line.
  auto got = lines_of(received);
  auto want = lines_of(expected);
  ASSERT_EQ(got.size(), want.size());
  got[2] = want[2] = "";
  EXPECT_TRUE(got == want);
}

TEST(TriggerListWrite, FailuresAreReported) {
  OwnedList list;
  list.v.push_back(sample_record());

  EXPECT_EQ(capture_stdout([] { EXPECT_EQ(dump_user_trigger_list(nullptr, nullptr, 2, -1, nullptr), 2); }),
            "dump_user_trigger_list() invalid argument: '\n");

  const int ro = open("/dev/null", O_RDONLY);
  ASSERT_GE(ro, 0);
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(dump_user_trigger_list(&list.v, nullptr, 2, ro, nullptr), 2); }),
            "dump_user_trigger_list()  write failed\n");
  close(ro);

  char bad[] = "/nonexistent/dir/triggers.xml";
  std::string out;
  const std::string err = capture_stderr(
      [&] { out = capture_stdout([&] { EXPECT_EQ(dump_user_trigger_list(&list.v, bad, 2, -1, nullptr), 1); }); });
  EXPECT_EQ(out, "dump_user_trigger_list() failed to open file: '/nonexistent/dir/triggers.xml'\n");
  EXPECT_EQ(err.rfind("fopen: ", 0), 0u) << err;

  // A file whose writes fail (device full) is not reported as written.
  if (access("/dev/full", W_OK) == 0) {
    char full[] = "/dev/full";
    out = capture_stdout([&] { EXPECT_EQ(dump_user_trigger_list(&list.v, full, 2, -1, nullptr), 2); });
    EXPECT_NE(out.find("dump_user_trigger_list()  write failed\n"), std::string::npos);
    EXPECT_EQ(out.find("has been closed"), std::string::npos);
    out = capture_stdout([&] { EXPECT_EQ(dump_user_trigger_list(&list.v, full, 1, -1, nullptr), 2); });
  }
}

TEST(TriggerListWrite, ReadThenWrite) {
  TempFile f;
  std::string bad = "<CHANDESCRIPTIONS/>";
  std::string out;
  capture_stderr([&] { out = capture_stdout([&] { EXPECT_EQ(dump_user_triggers(&bad[0], f.c_path(), 2, -1), 3); }); });
  EXPECT_EQ(out, "Failed to parse USER TRIGGER list\n");
  EXPECT_EQ(f.read(), "");
  capture_stdout([] { EXPECT_EQ(dump_user_triggers(nullptr, nullptr, 2, -1), 3); });

  std::string good = wrap("<USERTRIGGER><Chan name=\"rw\" subchan=\"2\"/></USERTRIGGER>");
  capture_stdout([&] { EXPECT_EQ(dump_user_triggers(&good[0], f.c_path(), 2, -1), 0); });
  OwnedList back;
  EXPECT_FALSE(parse_trigger_list_readf(f.c_path(), &back.v));
  ASSERT_EQ(back.v.size(), 1u);
  EXPECT_STREQ(back[0].channel, "rw");
  EXPECT_EQ(back[0].subchannel, 2);
}

// ---------------------------------------------------------------------------
// Record operations

TEST(TriggerRecord, CopyCarriesDefinitionAndResult) {
  Rec src = owned(sample_record());
  Rec dst = owned(new_record());
  EXPECT_TRUE(QAL3_USER_COPY(nullptr, dst.get()));
  EXPECT_TRUE(QAL3_USER_COPY(src.get(), nullptr));
  QAL3_FREE_USER(nullptr);

  src->valid = 1;
  src->fresult = static_cast<float*>(std::malloc(sizeof(float)));
  *src->fresult = 4.5f;
  src->fprevresult = static_cast<float*>(std::malloc(sizeof(float)));
  *src->fprevresult = 1.0f;
  EXPECT_FALSE(QAL3_USER_COPY(src.get(), dst.get()));
  EXPECT_TRUE(QAL3_USER_THESAME(src.get(), dst.get()));
  EXPECT_EQ(dst->time, src->time);
  EXPECT_EQ(dst->valid, 1);
  EXPECT_EQ(dst->pre_mode, 4);
  EXPECT_EQ(dst->post_mode, 9);
  ASSERT_NE(dst->fresult, nullptr);
  EXPECT_NE(dst->fresult, src->fresult);
  EXPECT_EQ(*dst->fresult, 4.5f);
  EXPECT_EQ(dst->fprevresult, nullptr);  // never copied

  // A destination with its own result keeps buffer and value.
  float* own = dst->fresult;
  *own = -1.0f;
  *src->fresult = 8.0f;
  EXPECT_FALSE(QAL3_USER_COPY(src.get(), dst.get()));
  EXPECT_EQ(dst->fresult, own);
  EXPECT_EQ(*dst->fresult, -1.0f);

  // A source without result removes the destination's.
  std::free(src->fresult);
  src->fresult = nullptr;
  EXPECT_FALSE(QAL3_USER_COPY(src.get(), dst.get()));
  EXPECT_EQ(dst->fresult, nullptr);

  // Full text fields without terminator are cut, not overrun.
  std::memset(src->channel, 'c', sizeof src->channel);
  EXPECT_FALSE(QAL3_USER_COPY(src.get(), dst.get()));
  EXPECT_EQ(std::strlen(dst->channel), 255u);
}

TEST(TriggerRecord, SameComparesTheDefinitionOnly) {
  Rec a = owned(sample_record());
  Rec b = owned(sample_record());
  EXPECT_FALSE(QAL3_USER_THESAME(nullptr, b.get()));
  EXPECT_FALSE(QAL3_USER_THESAME(a.get(), nullptr));
  b->time = 5;
  b->pre_mode = 77;
  b->post_mode = 78;
  b->valid = 1;
  b->fresult = static_cast<float*>(std::malloc(sizeof(float)));
  EXPECT_TRUE(QAL3_USER_THESAME(a.get(), b.get()));

  for (int i = 0; i < 16; ++i) {
    const float keep = b->fparam[i];
    b->fparam[i] = keep + 1.0f;
    EXPECT_FALSE(QAL3_USER_THESAME(a.get(), b.get())) << "parameter " << i;
    b->fparam[i] = keep;
  }
  auto differs = [&](auto change) {
    Rec c = owned(sample_record());
    change(*c);
    return !QAL3_USER_THESAME(a.get(), c.get());
  };
  EXPECT_TRUE(differs([](qal3_user_case_trigger& t) { t.channel[0] = 'X'; }));
  EXPECT_TRUE(differs([](qal3_user_case_trigger& t) { t.description[3] = 'X'; }));
  EXPECT_TRUE(differs([](qal3_user_case_trigger& t) { std::strcpy(t.group, "beams"); }));
  EXPECT_TRUE(differs([](qal3_user_case_trigger& t) { t.subchannel = 4; }));
  EXPECT_TRUE(differs([](qal3_user_case_trigger& t) { t.function = 6; }));
  EXPECT_TRUE(differs([](qal3_user_case_trigger& t) { t.operation = 6; }));
  EXPECT_TRUE(differs([](qal3_user_case_trigger& t) { t.low = 1.25f; }));
  EXPECT_TRUE(differs([](qal3_user_case_trigger& t) { t.upper = 0.0f; }));
  EXPECT_TRUE(differs([](qal3_user_case_trigger& t) { t.bitmask = 30; }));

  a->low = std::nanf("");
  EXPECT_FALSE(QAL3_USER_THESAME(a.get(), a.get()));
}

// The element dispatch: names are exact and case-sensitive; near misses
// (other case, prefixes, longer names, names of the other branches) change
// nothing.

TEST(ReaderDispatch, TriggerNamesAreExact) {
  std::string triggers =
      "<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\" subchan=\"+2\"/><Chann name=\"X\"/>"
      "<LowLimit value=\"0.125\"/><LowLimits value=\"9\"/><lowLimit value=\"9\"/>"
      "<UpperLimit value=\" 1e2\"/><BitMask mask=\"0xfF\"/><Group name=\"G\"/><Groups name=\"X\"/>"
      "<Function name=\"MEAN\" x0=\"1.5\" param1=\"2.5junk\" end=\"9\" param15=\"-0\"/>"
      "</USERTRIGGER></QAL3USERTRIGGERLIST>";
  std::vector<qal3_user_case_trigger*> trig;
  ASSERT_FALSE(parse_trigger_list_read(&triggers[0], &trig));
  ASSERT_EQ(trig.size(), 1u);
  EXPECT_STREQ(trig[0]->channel, "C");
  EXPECT_EQ(trig[0]->subchannel, 2);
  EXPECT_EQ(trig[0]->low, 0.125f);
  EXPECT_EQ(trig[0]->upper, 100.0f);
  EXPECT_EQ(trig[0]->bitmask, 0xffu);
  EXPECT_STREQ(trig[0]->group, "G");
  EXPECT_EQ(trig[0]->fparam[0], 1.5f);
  EXPECT_EQ(trig[0]->fparam[1], 2.5f);
  EXPECT_TRUE(std::signbit(trig[0]->fparam[15]));
  for (auto* t : trig) QAL3_FREE_USER(t);
}
