// The readers' notes of what they did to a document: each family's rare
// paths reported to a sink with their position, nothing written without one,
// and the C++ face's messages carrying them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qal3.hpp"
#include "qal3_messages.h"
#include "record_fields.h"
#include "test_util.h"

namespace {

struct Note {
  int kind;
  long long line, column;
  std::string text;
  std::string default_bytes;
};

// Reads `doc` with the family's memory reader; the records are released.
using Read = void (*)(std::string doc);

template <class R>
void read_as(std::string doc) {
  qal3::records::OwnedList<R> list;
  qal3::records::Description<R>::read_text(&doc[0], doc.size(), &list.items, {});
}

const std::string kLong(40, 'u');

struct NoteCase {
  const char* name;
  Read read;
  std::string doc;
  long long line;        // of the first note
  std::string fragment;  // in its text
};

class ReaderNotes : public ::testing::TestWithParam<NoteCase> {};

TEST_P(ReaderNotes, ReachASinkAtTheParsersPositionAndWriteNothingWithout) {
  const NoteCase& c = GetParam();
  std::vector<Note> got;
  auto sink = [&got](const qal3_message& m) {
    got.push_back({m.kind, m.line, m.column, std::string(m.text, m.length),
                   std::string(m.default_text ? m.default_text : "", m.default_length)});
  };
  {
    qal3::ThreadMessageSink guard(sink);
    c.read(c.doc);
  }
  std::vector<Note> notes;
  for (const Note& n : got)
    if (n.kind == QAL3_MESSAGE_READER_NOTE) notes.push_back(n);
  ASSERT_FALSE(notes.empty()) << c.name;
  EXPECT_EQ(notes[0].line, c.line);
  EXPECT_GT(notes[0].column, 0);
  EXPECT_NE(notes[0].text.find(c.fragment), std::string::npos) << notes[0].text;
  for (const Note& n : notes) EXPECT_EQ(n.default_bytes, "");
  // No sink: the read writes what it wrote before, and no note.
  const std::string err = testutil::capture_stderr([&] {
    const std::string out = testutil::capture_stdout([&] { c.read(c.doc); });
    EXPECT_EQ(out, "");
  });
  EXPECT_EQ(err, "");
}

using Chan = chan_descr_2010;
using Dict = qal3_env_index_dictionary_entry;

INSTANTIATE_TEST_SUITE_P(
    Families, ReaderNotes,
    ::testing::Values(
        NoteCase{
            "chan_cut", read_as<Chan>,
            "<CHANDESCRIPTIONS>\n<CHANNEL><PROP>P</PROP>\n<UNITS>" + kLong + "</UNITS></CHANNEL></CHANDESCRIPTIONS>", 3,
            "UNITS: text of 40 bytes cut to 15 (a field of 16 bytes): 'uuuu"},
        NoteCase{"chan_orphan", read_as<Chan>,
                 "<CHANDESCRIPTIONS><CHANNEL><PROP>P</PROP>\n<DIM_NAME>x</DIM_NAME></CHANNEL></CHANDESCRIPTIONS>", 2,
                 "DIM_NAME without a DIM before it in the description: dropped"},
        NoteCase{"daqvariables_merged", read_as<Chan>,
                 "<DAQvariables><DaqFloat><nexol>P</nexol></DaqFloat>\n<DaqFloat><nexol>P</nexol></DaqFloat>"
                 "</DAQvariables>",
                 2, "property 'P' listed before: merged"},
        NoteCase{"chan_dropped", read_as<Chan>,
                 "<CHANDESCRIPTIONS><CHANNEL><UNITS>V</UNITS></CHANNEL>\n<CHANNEL><PROP>P</PROP></CHANNEL>"
                 "</CHANDESCRIPTIONS>",
                 2, "without a property: dropped"},
        NoteCase{"daqvariables_unkept", read_as<Chan>,
                 "<DAQvariables><DaqFloat><nexol>P</nexol>\n<freq>1</freq></DaqFloat></DAQvariables>", 2,
                 "freq: not kept"},
        NoteCase{"envdict_cut", read_as<Dict>,
                 "<ENVINDEXDICT><CHANNEL><INDEX>1</INDEX>\n<PROP>" + std::string(90, 'p') +
                     "</PROP></CHANNEL></ENVINDEXDICT>",
                 2, "PROP: text of 90 bytes cut to 79"},
        NoteCase{"envdict_dropped", read_as<Dict>,
                 "<ENVINDEXDICT><CHANNEL><INDEX>1</INDEX></CHANNEL>\n<CHANNEL><INDEX>2</INDEX><PROP>Q</PROP>"
                 "</CHANNEL></ENVINDEXDICT>",
                 2, "CHANNEL without PROP: dropped"},
        NoteCase{"evlist_type", read_as<qal3_ev_entry>, "<BMR><EVENT><TYPE>x</TYPE>\n<TYPE>99</TYPE></EVENT></BMR>", 2,
                 "TYPE 99 is out of range"},
        NoteCase{
            "evlist_block_cut", read_as<qal3_ev_entry>,
            "<BMR><EVENT><TYPE>x</TYPE><TYPE>1</TYPE>\n<SBLOCK>" + std::string(300, 'b') + "</SBLOCK></EVENT></BMR>", 2,
            "SBLOCK: text of 300 bytes cut to 254"},
        NoteCase{"trigger_function", read_as<qal3_user_case_trigger>,
                 "<QAL3USERTRIGGERLIST><USERTRIGGER>\n<Function name=\"NOSUCH\"/></USERTRIGGER></QAL3USERTRIGGERLIST>",
                 2, "Function 'NOSUCH' names no registry slot: read as MEAN"},
        NoteCase{
            "trigger_operation", read_as<qal3_user_case_trigger>,
            "<QAL3USERTRIGGERLIST><USERTRIGGER>\n\n<Operation name=\"NOSUCH\"/></USERTRIGGER></QAL3USERTRIGGERLIST>", 3,
            "Operation 'NOSUCH' names no registry slot: read as GT"},
        NoteCase{"trigger_cut", read_as<qal3_user_case_trigger>,
                 "<QAL3USERTRIGGERLIST><USERTRIGGER>\n<Group name=\"" + std::string(300, 'g') +
                     "\"/></USERTRIGGER></QAL3USERTRIGGERLIST>",
                 2, "attribute name of Group: text of 300 bytes cut to"}),
    [](const ::testing::TestParamInfo<NoteCase>& info) { return std::string(info.param.name); });

// A camera feature file: the register's Address is not kept (the GigE reader
// reads from a file; its notes come without a position).
TEST(ReaderNotes, GigEFeatureFieldsNotKeptAreNoted) {
  testutil::TempFile file(
      "<RegisterDescription><IntReg Name=\"R\"><Address>0x10</Address></IntReg>"
      "</RegisterDescription>");
  std::vector<std::string> notes;
  auto sink = [&notes](const qal3_message& m) {
    if (m.kind == QAL3_MESSAGE_READER_NOTE) notes.emplace_back(m.text, m.length);
  };
  qal3::records::OwnedList<QAL3GigEFeature> list;
  {
    qal3::ThreadMessageSink guard(sink);
    qal3::records::Description<QAL3GigEFeature>::read_file(file.c_path(), &list.items, {});
  }
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], "Address (first in feature 'R'): not kept by the feature records (noted once per document)");
}

// The C++ face collects a call's notes into its messages; none is an error.
TEST(ReaderNotes, CppFaceResultCarriesThem) {
  const auto read = qal3::ChannelDescriptions::parse(
      "<CHANDESCRIPTIONS><CHANNEL><PROP>P</PROP><UNITS>" + kLong + "</UNITS></CHANNEL></CHANDESCRIPTIONS>", "d.xml");
  ASSERT_EQ(read.code(), 0);
  ASSERT_EQ(read.messages().size(), 1u);
  const qal3::Message& m = read.messages()[0];
  EXPECT_EQ(m.kind, QAL3_MESSAGE_READER_NOTE);
  EXPECT_FALSE(m.is_error());
  EXPECT_EQ(m.located().rfind("d.xml:1:", 0), 0u) << m.located();
}

}  // namespace
