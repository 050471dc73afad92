// The C++ face (qal3.hpp): each family read from a file and from memory,
// good and bad documents with the messages' positions, round trips, moves;
// evaluation, registration, named memory documents and the version.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qal3.hpp"
#include "qal3_evutl_blocks.h"
#include "test_util.h"

using testutil::capture_stderr;
using testutil::TempFile;

namespace {

const std::string kExamples = QAL3_EXAMPLES_DIR;

// One document: a file (`file` set) or the text `text` in memory under `name`.
struct Doc {
  std::string file;
  std::string text;
  std::string name;
  bool good;
};

// GigE features are read from files only.
template <class L>
constexpr bool kInMemory = !std::is_same_v<L, qal3::GigEFeatures>;

// Reads each document through L and checks the result; a good one must read
// back from its own text, and be moved without being released twice.
template <class L, class... Options>
void check_family(const std::vector<Doc>& docs, Options... options) {
  for (const Doc& d : docs) {
    SCOPED_TRACE(d.file.empty() ? d.text : d.file);
    auto r = L::read_file(d.file, options...);
    if constexpr (kInMemory<L>)
      if (d.file.empty()) r = L::parse(d.text, d.name, options...);
    EXPECT_EQ(static_cast<bool>(r), d.good) << r.code();
    if (!d.good) {
      const qal3::Message* e = r.first_error();
      ASSERT_NE(e, nullptr);
      EXPECT_EQ(e->document, d.file.empty() ? d.name : d.file);
      EXPECT_GT(e->line, 0);
      EXPECT_EQ(e->located().rfind(d.file.empty() ? d.name + ":" : d.file + ":", 0), 0u) << e->located();
      continue;
    }
    for (const qal3::Message& m : r.messages()) EXPECT_EQ(m.kind, QAL3_MESSAGE_READER_NOTE) << m.located();
    L list = std::move(r).value();
    ASSERT_FALSE(list.empty());
    const auto text = list.text();
    ASSERT_TRUE(text) << text.code();
    L moved = std::move(list);
    EXPECT_TRUE(list.empty());
    TempFile copy(text.value());
    EXPECT_EQ(L::read_file(copy.path(), options...).value().size(), moved.size());
  }
}

// A good document from the examples, a bad one in memory (named and not),
// and the family's root left open in a file.
template <class L, class... Options>
void check_family(const char* example, const std::string& root, Options... options) {
  TempFile open_root("<" + root + ">\n<unclosed>\n</" + root + ">\n");
  check_family<L>({{kExamples + "/" + example, "", "", true},
                   {"", "<" + root + "><a></b></" + root + ">", "site/config.xml", false},
                   {open_root.path(), "", "", false}},
                  options...);
}

TEST(CppFace, EachFamilyReadsWritesAndReportsPositions) {
  check_family<qal3::EventList>("evlist_basic.xml", "BMR");
  check_family<qal3::ChannelDescriptions>("chan_descriptions.xml", "CHANDESCRIPTIONS", false, true);
  check_family<qal3::EnvDictionary>("envdict.xml", "ENVINDEXDICT");
  check_family<qal3::EnvDictionary2010>("envdict.xml", "ENVINDEXDICT");
  check_family<qal3::Triggers>("triggers.xml", "QAL3USERTRIGGERLIST");
  TempFile bad_gige("<RegisterDescription>\n<Integer Name=\"a\"></Float>\n</RegisterDescription>\n");
  check_family<qal3::GigEFeatures>({{kExamples + "/gige_camera.xml", "", "", true}, {bad_gige.path(), "", "", false}});
  // The family a document's root names.
  EXPECT_EQ(qal3::family_of(kExamples + "/gige_camera.xml").value().family, QAL3_FAMILY_GIGE);
  const qal3::Result<qal3::DocumentFamily> other = qal3::family_of_text(std::string("<html/>\0", 8));
  EXPECT_EQ(other.code(), 1);
  EXPECT_EQ(other.value().root, "html");
}

TEST(CppFace, ResultCarriesCodeMessagesAndThrowsOnRequest) {
  auto r = qal3::EventList::parse("<WRONG/>");
  EXPECT_FALSE(r);
  EXPECT_EQ(r.code(), 1);  // the reader's code for a wrong root
  const auto w = r.value().write_file("/nonexistent-folder/out.xml");
  EXPECT_EQ(w.code(), 1);  // the writer's code for a file it cannot create
  ASSERT_FALSE(w.messages().empty());
  EXPECT_TRUE(w.messages().front().is_error());
  try {
    w.throw_if_failed();
    ADD_FAILURE() << "no exception";
  } catch (const qal3::Error& e) {
    EXPECT_EQ(e.code(), 1);
    EXPECT_EQ(e.messages().size(), w.messages().size());
    EXPECT_EQ(std::string(e.what()), w.messages().front().located());
  }
  EXPECT_THROW(qal3::EventList::parse("<BMR>").value_or_throw(), qal3::Error);
  EXPECT_NO_THROW(qal3::EventList::parse("<BMR/>").value_or_throw());
  // A NUL in a text or a path is refused, never read as the end.
  const std::string nul_path = kExamples + std::string("/evlist_basic.xml\0.bak", 22);
  const auto refused = [](const qal3::Status& s) {
    EXPECT_EQ(s.code(), 1);
    ASSERT_EQ(s.messages().size(), 1u);
    EXPECT_NE(s.messages().front().text.find("NUL"), std::string::npos);
  };
  refused(qal3::EventList::read_file(nul_path));
  refused(qal3::EventList::parse(std::string("<BMR/>\0<x>", 10)));
  TempFile target("keep");
  const std::string nul_target = target.path() + std::string("\0.xml", 5);
  EXPECT_EQ(qal3::EventList().write_file(nul_target).code(), 1);
  EXPECT_EQ(testutil::read_file(target.path()), "keep");
  // A write that fails half-way (past the file size limit) leaves the old file whole.
  const auto events = qal3::EventList::read_file(kExamples + "/evlist_basic.xml").value_or_throw();
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlimit small{16, limit.rlim_max};
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const qal3::Status cut = events.write_file(target.path());
  setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(cut.code(), 1);
  EXPECT_EQ(testutil::read_file(target.path()), "keep");
  ASSERT_TRUE(events.write_file(target.path()));
  EXPECT_EQ(testutil::read_file(target.path()).rfind("<?xml", 0), 0u);
  // A loop over a temporary result's value walks a list it owns.
  int entries = 0;
  for (auto* e : qal3::EventList::read_file(kExamples + "/evlist_basic.xml").value()) entries += e != nullptr;
  EXPECT_GT(entries, 0);
  // Lines of a call go to its result, not to the thread's sink, which is back afterwards.
  int seen = 0;
  auto count = [&seen](const qal3_message&) { ++seen; };
  const qal3::ThreadMessageSink mine(count);
  EXPECT_FALSE(qal3::EventList::parse("<BMR>").messages().empty());
  EXPECT_EQ(seen, 0);
  qal3_message line{};
  line.text = "x";
  qal3_message_emit(&line);
  EXPECT_EQ(seen, 1);
}

// A site's own function (a constant 7) and operation (above the lower limit).
bool seven(void*, qal3_user_case_trigger* t) {
  if (!t->fresult) t->fresult = static_cast<float*>(std::malloc(sizeof(float)));
  if (!t->fresult) return true;
  *t->fresult = 7.0f;
  return false;
}
bool above(float result, float low, float, u_int) { return result > low; }

TEST(CppFace, EvaluatesBuiltInAndRegisteredTriggers) {
  const auto fn = qal3::add_user_function(seven, "FACE_SEVEN", "a constant 7");
  const auto op = qal3::add_user_operation(above, "FACE_ABOVE", "result above the lower limit");
  ASSERT_TRUE(fn && op);
  EXPECT_STREQ(qal3_get_function_string(fn.value()), "FACE_SEVEN");
  EXPECT_STREQ(qal3_get_operation_string(op.value()), "FACE_ABOVE");

  float samples[10];
  for (int i = 0; i < 10; ++i) samples[i] = static_cast<float>(i);  // the window 0 .. 9 holds 0 .. 8
  const qal3_spect_header_2010 axis{0.0f, 1.0f, 10, 0, 0.0f};
  const float* const rows[1] = {samples};
  struct Free {
    void operator()(qal3_serv_block_subhead_2010* b) const { qal3_evutl_free_block(b); }
  };
  std::unique_ptr<qal3_serv_block_subhead_2010, Free> block(
      qal3_evutl_make_spectrum("BEAM/Current", QAL3_DATA_SPECTRUM, 1, &axis, rows));
  ASSERT_TRUE(block);

  // Both limits at `limit`: GT compares with the upper one, FACE_ABOVE with the lower.
  const auto trigger = [](const char* fn, const char* op, const std::string& limit) {
    return std::string("<USERTRIGGER><Chan name=\"BEAM/Current\" subchan=\"0\"/><Function name=\"") + fn +
           "\" start=\"0\" end=\"9\" incr=\"1\"/><Operation name=\"" + op + "\"/><LowLimit value=\"" + limit +
           "\"/><UpperLimit value=\"" + limit + "\"/></USERTRIGGER>";
  };
  auto list =
      qal3::Triggers::parse("<QAL3USERTRIGGERLIST>" + trigger("MEAN", "GT", "3.5") + trigger("MEAN", "GT", "4.5") +
                            trigger("FACE_SEVEN", "FACE_ABOVE", "6") + "</QAL3USERTRIGGERLIST>")
          .value_or_throw();
  ASSERT_EQ(list.size(), 3u);
  const struct {
    bool fires;
    float result;
  } expected[] = {{true, 4.0f}, {false, 4.0f}, {true, 7.0f}};
  for (std::size_t i = 0; i < list.size(); ++i) {
    const auto e = qal3::evaluate(*block, *list[i]);
    ASSERT_TRUE(e) << i;
    EXPECT_EQ(e.value().fires, expected[i].fires) << i;
    ASSERT_TRUE(e.value().result) << i;
    EXPECT_FLOAT_EQ(*e.value().result, expected[i].result) << i;
  }
  list[0]->function = 32;  // outside the slots: cannot be evaluated
  EXPECT_EQ(qal3::evaluate(*block, *list[0]).code(), -1);

  // A DIFF function's first event has no value; the next one differs from it.
  auto diff = qal3::Triggers::parse("<QAL3USERTRIGGERLIST>" + trigger("DIFFMEAN", "GT", "1") + "</QAL3USERTRIGGERLIST>")
                  .value_or_throw();
  ASSERT_EQ(diff.size(), 1u);
  for (const float level : {10.0f, 12.0f}) {
    for (float& x : samples) x = level;
    block.reset(qal3_evutl_make_spectrum("BEAM/Current", QAL3_DATA_SPECTRUM, 1, &axis, rows));
    ASSERT_TRUE(block);
    const auto e = qal3::evaluate(*block, *diff[0]).value_or_throw();
    EXPECT_EQ(e.first_event, level == 10.0f);
    EXPECT_EQ(e.result, level == 10.0f ? std::optional<float>() : std::optional<float>(2.0f));
    EXPECT_EQ(e.fires, level == 12.0f);
  }
}

// A replay: each trigger reads its own channel and subchannel, DIFF state
// goes on from run to run and can be saved, and runs whose layout stays the
// same reuse it with each run's own data.
TEST(CppFace, ReplayReadsEachTriggersOwnDataAcrossRuns) {
  const auto trigger = [](const char* chan, int sub, const char* fn, const char* end) {
    return std::string("<USERTRIGGER><Chan name=\"") + chan + "\" subchan=\"" + std::to_string(sub) +
           "\"/><Function name=\"" + fn + "\" start=\"0\" end=\"" + end +
           "\" incr=\"1\"/><Operation name=\"GT\"/><UpperLimit value=\"1.5\"/></USERTRIGGER>";
  };
  auto list =
      qal3::Triggers::parse("<QAL3USERTRIGGERLIST>" + trigger("S", 0, "MAX", "-1") + trigger("S", 1, "MAX", "-1") +
                            trigger("S", 2, "MAX", "-1") + trigger("T", 0, "DIFFVALUE", "0") +
                            trigger("U", 0, "MAX", "-1") + trigger("S", 0, "MAX", "9") + "</QAL3USERTRIGGERLIST>")
          .value_or_throw();
  auto replay = qal3::Replay::of(list.records()).value_or_throw();
  ASSERT_EQ(replay.size(), 6u);
  // Two events: S subchannels 0 and 1 (two samples each), T one value.
  const float s0[] = {1, 2, 0, 1}, s1[] = {5, 6, 7, 8}, t[] = {10, 12};
  const std::vector<qal3_replay_data> data = {qal3::spectrum_data("S", 0, 0, 1, 2, s0, 2),
                                              qal3::spectrum_data("S", 1, 0, 1, 2, s1, 2), qal3::value_data("T", 0, t)};
  using O = qal3::Outcome;
  const auto first = replay.run(data, 2).value_or_throw();
  const O expected[2][6] = {{O::fires, O::fires, O::no_data, O::first_event, O::no_data, O::no_result},
                            {O::not_fired, O::fires, O::no_data, O::fires, O::no_data, O::no_result}};
  const float values[2][2] = {{2, 6}, {1, 8}};
  for (std::size_t e = 0; e < 2; ++e) {
    for (std::size_t k = 0; k < 6; ++k) EXPECT_EQ(first.outcome(e, k), expected[e][k]) << e << " " << k;
    EXPECT_EQ(first.value(e, 0), values[e][0]);
    EXPECT_EQ(first.value(e, 1), values[e][1]);
  }
  EXPECT_EQ(first.value(1, 3), 2.0f);
  EXPECT_FALSE(replay.finds(2, data));
  EXPECT_TRUE(replay.finds(1, data));

  // A second run goes on from the first's last event, on its own data.
  const float t2[] = {11};
  const float s0b[] = {3, 0}, s1b[] = {0, 0};
  const std::vector<qal3_replay_data> next = {qal3::spectrum_data("S", 0, 0, 1, 2, s0b, 2),
                                              qal3::spectrum_data("S", 1, 0, 1, 2, s1b, 2),
                                              qal3::value_data("T", 0, t2)};
  EXPECT_EQ(replay.previous(3), 12.0f);
  const auto second = replay.run(next, 1).value_or_throw();
  EXPECT_EQ(second.value(0, 0), 3.0f);
  EXPECT_EQ(second.value(0, 3), -1.0f);
  ASSERT_TRUE(replay.set_previous(3, std::nullopt));
  EXPECT_EQ(replay.run(next, 1).value().outcome(0, 3), O::first_event);

  // Data that cannot be replayed is refused with its reason.
  const std::vector<qal3_replay_data> twice = {data[0], data[0]};
  const auto refused = replay.run(twice, 1);
  EXPECT_EQ(refused.code(), -1);
  ASSERT_NE(refused.first_error(), nullptr);
  EXPECT_NE(refused.first_error()->text.find("given twice"), std::string::npos);
}

TEST(CppFace, MemoryDocumentNameReachesDefaultTextAndRecords) {
  char bad[] = "<BMR><a></b></BMR>";
  std::vector<qal3_ev_entry*> list;
  const std::string unnamed = capture_stderr([&] { qal3_parse_ev_list_read(bad, &list); });
  std::string named;
  {
    const qal3::ThreadMemoryDocument name("site/events.xml");
    EXPECT_STREQ(qal3_get_thread_memory_document(), "site/events.xml");
    named = capture_stderr([&] { qal3_parse_ev_list_read(bad, &list); });
  }
  EXPECT_EQ(qal3_get_thread_memory_document(), nullptr);
  qal3_clean_ev_list(&list);
  EXPECT_NE(unnamed.find("Fatal Error at (file my_mem_info, line 1, char "), std::string::npos) << unnamed;
  std::string expected = unnamed;
  expected.replace(expected.find("my_mem_info"), std::strlen("my_mem_info"), "site/events.xml");
  EXPECT_EQ(named, expected);
  // Files keep their paths while a memory name is set.
  TempFile file(bad);
  const qal3::ThreadMemoryDocument name("ignored");
  const auto r = qal3::EventList::read_file(file.path());
  ASSERT_NE(r.first_error(), nullptr);
  EXPECT_EQ(r.first_error()->document, file.path());
}

TEST(CppFace, VersionMacrosMatchTheLibrary) {
  EXPECT_EQ(qal3_version(), QAL3_VERSION_NUMBER);
  EXPECT_STREQ(qal3_version_string(), QAL3_VERSION_STRING);
  EXPECT_EQ(QAL3_VERSION_NUMBER, QAL3_VERSION_MAJOR * 10000 + QAL3_VERSION_MINOR * 100 + QAL3_VERSION_PATCH);
  EXPECT_EQ(std::to_string(QAL3_VERSION_MAJOR) + "." + std::to_string(QAL3_VERSION_MINOR) + "." +
                std::to_string(QAL3_VERSION_PATCH),
            QAL3_VERSION_STRING);
}

}  // namespace
