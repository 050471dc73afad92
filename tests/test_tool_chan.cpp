// qal3 chan: help, usage errors, printing, conversion both ways, listings,
// merging and selector questions over the example documents.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parse_chan_descr.h"
#include "qal3.hpp"
#include "test_util.h"

namespace {

using testutil::run_command;

const std::string kTool = testutil::tool_command();
const std::string kLinac = std::string(QAL3_EXAMPLES_DIR) + "/chan_select_linac.xml";
const std::string kExtra = std::string(QAL3_EXAMPLES_DIR) + "/chan_select_extra.xml";

int chan(const std::string& args, std::string* out = nullptr, std::string* err = nullptr) {
  return run_command(kTool + " chan " + args, out, err);
}

// A document file read into a list, released at the end.
struct Doc {
  qal3::List<chan_descr_2010> owned;
  std::vector<chan_descr_2010*>& list = owned.records();
  explicit Doc(const std::string& path) {
    rc = parse_descr_list_readf(const_cast<char*>(path.c_str()), &list, false, false);
  }
  int rc;
};

TEST(ToolChan, HelpForEveryCommand) {
  std::string out;
  EXPECT_EQ(chan("--help", &out), 0);
  EXPECT_NE(out.find("Commands:"), std::string::npos);
  for (const char* sub : {"print", "convert", "listing", "names", "merge", "select"}) {
    out.clear();
    EXPECT_EQ(chan(std::string(sub) + " --help", &out), 0) << sub;
    EXPECT_EQ(out.rfind(std::string("Usage: qal3 chan ") + sub, 0), 0u) << sub;
  }
}

TEST(ToolChan, UsageErrors) {
  std::string err;
  EXPECT_EQ(chan("", nullptr, &err), 2);
  EXPECT_EQ(chan("frobnicate", nullptr, &err), 2);
  EXPECT_NE(err.find("unknown command 'frobnicate'"), std::string::npos);
  EXPECT_EQ(chan("print", nullptr, &err), 2);
  EXPECT_EQ(chan("convert " + kLinac, nullptr, &err), 2);  // no --to
  EXPECT_EQ(chan("convert --to xml " + kLinac, nullptr, &err), 2);
  EXPECT_EQ(chan("listing -o '' " + kLinac, nullptr, &err), 2);
  EXPECT_EQ(chan("print --bogus " + kLinac, nullptr, &err), 2);
  EXPECT_EQ(chan("select why X " + kLinac, nullptr, &err), 2);
  EXPECT_EQ(chan("select in-event 40 X " + kLinac, nullptr, &err), 2);
  EXPECT_EQ(chan("select slow X", nullptr, &err), 2);  // no document
  EXPECT_EQ(chan("select in-event 1", nullptr, &err), 2);
}

TEST(ToolChan, UnreadableDocumentsNameTheFile) {
  std::string err;
  EXPECT_EQ(chan("print /nonexistent/chan.xml", nullptr, &err), 1);
  EXPECT_NE(err.find("/nonexistent/chan.xml"), std::string::npos);
  testutil::TempFile bad("<CHANNELS></CHANNELS>");
  err.clear();
  EXPECT_EQ(chan("select slow X " + bad.path(), nullptr, &err), 2);  // an error, not a "no"
  EXPECT_NE(err.find(bad.path()), std::string::npos);
  EXPECT_EQ(chan("convert --to daqvars -o /nonexistent/dir/out.xml " + kLinac, nullptr, &err), 1);
}

TEST(ToolChan, PrintsFilesAndStandardInput) {
  std::string out;
  ASSERT_EQ(chan("print " + kLinac, &out), 0);
  EXPECT_EQ(out.rfind("========================\nQAL3 XML Channel Description (XCD)\n", 0), 0u);
  EXPECT_NE(out.find("\tprop   :LINAC/BPM/BPM1/X\n"), std::string::npos);
  // The listing names the types right whether they are stored as numbers
  // or as masks; --json shows the form asked for.
  EXPECT_NE(out.find(" ev type  : 0x2 NORMAL\n"), std::string::npos);
  EXPECT_NE(out.find(" ev type  : 0x40 IMAGE\n"), std::string::npos);
  std::string shifted;
  ASSERT_EQ(run_command("cat " + kLinac + " | " + kTool + " chan print --shift -", &shifted), 0);
  EXPECT_EQ(shifted, out);
  ASSERT_EQ(chan("print --json " + kLinac, &out), 0);
  EXPECT_NE(out.find("\"ev_type\": 1,"), std::string::npos);
}

TEST(ToolChan, ConvertsBothWaysKeepingTheCarriedFields) {
  testutil::TempFile daq, back;
  ASSERT_EQ(chan("convert --to daqvars -o " + daq.path() + " " + kLinac), 0);
  EXPECT_NE(daq.read().find("<DAQvariables>"), std::string::npos);
  ASSERT_EQ(chan("convert --to chandescr -o " + back.path() + " " + daq.path()), 0);
  Doc orig(kLinac), conv(back.path());
  ASSERT_EQ(orig.rc, 0);
  ASSERT_EQ(conv.rc, 0);
  ASSERT_EQ(conv.list.size(), orig.list.size());
  for (size_t i = 0; i < orig.list.size(); ++i) {
    const chan_descr_2010& a = *orig.list[i];
    const chan_descr_2010& b = *conv.list[i];
    EXPECT_STREQ(a.prop_name, b.prop_name);
    EXPECT_STREQ(a.daq_name, b.daq_name);
    EXPECT_EQ(a.ev_type, b.ev_type);
    EXPECT_EQ(a.max_size, b.max_size);
    EXPECT_STREQ(a.units, b.units);
    EXPECT_EQ(a.dims.size(), b.dims.size());
    EXPECT_EQ(b.dtype, 0u);  // DAQvariables carries no data type
  }
  std::string out;
  ASSERT_EQ(chan("convert --to daqvars " + kLinac, &out), 0);
  EXPECT_EQ(out.rfind("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<DAQvariables>\n", 0), 0u);
  EXPECT_NE(out.find("<bitTitle bit=\"1\">Interlock fault</bitTitle>"), std::string::npos);
}

// A conversion says each field the format written cannot hold and how many
// channels lose it; one that loses nothing says nothing. A DAQvariables
// document converted again keeps its keys, server blocks and bit titles.
TEST(ToolChan, ConversionsSayWhatTheFormatCannotHold) {
  const testutil::TempFile chandescr(
      "<CHANDESCRIPTIONS>\n"
      "<CHANNEL><STREAM>1</STREAM><EVTYPE>1</EVTYPE><DTYPE>3</DTYPE><PROP>A</PROP><NAME>a</NAME><SIZE>1</SIZE>"
      "<BIT>0<BIT_NAME>on</BIT_NAME><BIT_DESCR>Power on</BIT_DESCR></BIT></CHANNEL>\n"
      "<CHANNEL><STREAM>2</STREAM><EVTYPE>1</EVTYPE><PROP>B</PROP><NAME>b</NAME><SIZE>8</SIZE>"
      "<DIM>0<DIM_NAME>x</DIM_NAME><STAT>0<STAT_NAME>mean</STAT_NAME></STAT></DIM></CHANNEL>\n"
      "<CHANNEL><EVTYPE>1</EVTYPE><PROP>C</PROP><NAME>c</NAME><SIZE>1</SIZE>"
      "<DIM>0<DIM_NAME>y</DIM_NAME></DIM></CHANNEL>\n"
      "</CHANDESCRIPTIONS>\n");
  const testutil::TempFile daqvars(
      "<DAQvariables>\n"
      "<DaqBits><evType>4</evType><nexol>VAC/P</nexol><daqName>VAC.P</daqName><DBKey>6001</DBKey>"
      "<sbName>VACUUM</sbName><bitTitle bit=\"0\">Valve open</bitTitle></DaqBits>\n"
      "<DaqFloatMatrix><evType>1</evType><nexol>VAC/S</nexol><daqName>VAC.S</daqName><lastIndex>9</lastIndex>"
      "<dimension id=\"0\"><name>t</name></dimension></DaqFloatMatrix>\n"
      "</DAQvariables>\n");
  const std::string c = chandescr.path(), d = daqvars.path();
  const auto says = [](const std::string& doc, const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += "qal3: " + doc + ": " + l + "\n";
    return out;
  };
  const std::vector<std::string> to_daqvars = {
      "DAQvariables cannot hold stream: 2 channels lose it", "DAQvariables cannot hold dtype: 1 channel loses it",
      "DAQvariables cannot hold bits.bit_name other than its bit_desc: 1 channel loses it",
      "DAQvariables cannot hold dims in a channel whose max_size is 1: 1 channel loses it",
      "DAQvariables cannot hold dims.stats: 1 channel loses it"};
  std::vector<std::string> warned, refused;
  for (const std::string& l : to_daqvars) {
    warned.push_back("warning: " + l);
    refused.push_back("error: " + l);
  }
  struct Case {
    std::string args;
    int status;
    std::string err;
    std::string written;  // a part of standard output ("": nothing written)
  } cases[] = {
      {"--to daqvars " + d, 0, "", "<DBKey>6001</DBKey>\n<setPoint>0</setPoint>\n<sbName>VACUUM</sbName>"},
      {"--to daqvars " + d, 0, "", "<bitTitle bit=\"0\">Valve open</bitTitle>"},
      {"--to chandescr " + d, 0, "", "<BIT_NAME>Valve open</BIT_NAME>\n<BIT_DESCR>Valve open</BIT_DESCR>"},
      {"--to chandescr " + c, 0, "", "<STAT_NAME>mean</STAT_NAME>"},
      {"--to daqvars " + c, 0, says(c, warned), "<DAQvariables>"},
      {"--to daqvars -q " + c, 0, "", "<DAQvariables>"},
      {"--to daqvars --strict " + c, 1, says(c, refused), ""},
      {"--to daqvars " + d + " " + c, 0, says(c, warned), "<DAQvariables>"},
  };
  for (const Case& k : cases) {
    std::string out, err;
    EXPECT_EQ(chan("convert " + k.args, &out, &err), k.status) << k.args;
    EXPECT_EQ(err, k.err) << k.args;
    if (k.written.empty())
      EXPECT_EQ(out, "") << k.args;
    else
      EXPECT_NE(out.find(k.written), std::string::npos) << k.args << "\n" << out;
  }
}

// A data type with bit 31 (type 33 read with --shift) has one sign in --json,
// in Python and in the written document; event types stay unsigned, as in
// Python.
TEST(ToolChan, MaskedTypesHaveTheWritersSign) {
  testutil::TempFile doc(
      "<CHANDESCRIPTIONS><CHANNEL><EVTYPE>31</EVTYPE><DTYPE>33</DTYPE><PROP>P</PROP><NAME>N</NAME>"
      "</CHANNEL></CHANDESCRIPTIONS>");
  std::string json, xml;
  ASSERT_EQ(chan("print --shift --json " + doc.path(), &json), 0);
  ASSERT_EQ(chan("convert --shift -q --to chandescr " + doc.path(), &xml), 0);
  EXPECT_NE(json.find("\"dtype\": -2147483646"), std::string::npos) << json;
  EXPECT_NE(json.find("\"ev_type\": 2147483648"), std::string::npos) << json;  // as Python gives it
  EXPECT_NE(xml.find("<DTYPE>-2147483646</DTYPE>"), std::string::npos) << xml;
}

// Every command that reads descriptions says which texts its reader cut
// (the reader's notes, where the parser was); convert --shift says that its
// masks fail check.
TEST(ToolChan, CutTextsAndMasksAreSaid) {
  testutil::TempFile doc("<CHANDESCRIPTIONS><CHANNEL><EVTYPE>1</EVTYPE><DTYPE>1</DTYPE><PROP>" + std::string(300, 'P') +
                         "</PROP><NAME>N</NAME><UNITS>" + std::string(21, 'u') +
                         "</UNITS></CHANNEL></CHANDESCRIPTIONS>");
  const std::string cuts =
      doc.path() + ":1:368: warning: PROP: text of 300 bytes cut to 255 (a field of 256 bytes): '" +
      std::string(32, 'P') + "...'\n" + doc.path() +
      ":1:417: warning: UNITS: text of 21 bytes cut to 15 (a field of 16 bytes): '" + std::string(21, 'u') + "'\n";
  for (const char* command : {"print", "print --json", "listing", "names", "select event-type N"}) {
    std::string out, err;
    EXPECT_EQ(chan(std::string(command) + " " + doc.path(), &out, &err), 0) << command;
    EXPECT_EQ(err, cuts) << command;
    EXPECT_EQ(chan(std::string(command) + " -q " + doc.path(), &out, &err), 0) << command;
    EXPECT_EQ(err, "") << command;
  }
  testutil::TempFile masks;
  std::string out, err;
  ASSERT_EQ(chan("convert -s -q --to daqvars -o " + masks.path() + " " + kLinac, &out, &err), 0);
  EXPECT_EQ(err, "qal3: " + masks.path() +
                     ": warning: event and data types written as masks (--shift): 'qal3 check' refuses them, and the "
                     "readers take them for other types\n");
}

TEST(ToolChan, WritesListingAndNameTable) {
  testutil::TempFile listing(""), names("");
  ASSERT_EQ(chan("listing -o " + listing.path() + " " + kLinac), 0);
  EXPECT_NE(listing.read().find("1\t1\tBPM1.X\tLINAC/BPM/BPM1/X\t0\t\"Horizontal beam position at "
                                "BPM1\"\t\"mm\"\t1\t0\t0\n"),
            std::string::npos);
  ASSERT_EQ(chan("names -o " + names.path() + " " + kLinac), 0);
  EXPECT_NE(names.read().find(std::string(44, ' ') + "BPM1.X\t1\tBLOCK_BPM_2010\n"), std::string::npos);
}

TEST(ToolChan, MergesDocumentsByProperty) {
  testutil::TempFile merged;
  ASSERT_EQ(chan("merge -o " + merged.path() + " " + kLinac + " " + kExtra), 0);
  Doc doc(merged.path());
  ASSERT_EQ(doc.rc, 0);
  ASSERT_EQ(doc.list.size(), 7u);  // five + three, one property in both
  const chan_descr_2010* gauge = find_chan_entry(&doc.list, const_cast<char*>("LINAC/VAC/GAUGE1/PRESSURE"));
  ASSERT_NE(gauge, nullptr);
  EXPECT_STREQ(gauge->daq_name, "GAUGE1.P");  // the first document's record wins
  EXPECT_EQ(gauge->ev_type, 5u);
}

TEST(ToolChan, AnswersSelectorQuestions) {
  const std::string both = " " + kLinac + " " + kExtra;
  struct Case {
    std::string args, answer;
    int status = 0;
  } cases[] = {
      {"in-event 1 LINAC/BPM/BPM1/X", "yes\n"},
      {"in-event NORMAL BPM1.X", "no\n", 1},  // global type: matched by property
      {"in-event IMAGE CAM1", "yes\n"},       // local type: matched by DAQ name
      {"in-event 6 LINAC/CAM/CAM1/IMAGE", "no\n", 1},
      {"in-event 4 LINAC/VAC/GAUGE1/PRESSURE", "no\n", 1},  // ENV only in the second document
      {"event-type GAUGE1.P", "0x20 UPD\n"},
      {"data-type BPM1.X", "0x80000040 BLOCK_BPM_2010\n"},
      {"slow GAUGE1.P", "1\n"},
      {"slow BPM1.X", "0\n"},
      {"slow NO.SUCH", "-1\n", 1},
      {"ml RF.CAV1.ML", "1\n"},
      {"ml INTL.STATUS", "0\n"},
      {"subchannels CAM1", "2\n"},
      {"subchannels GAUGE1.P", "1\n"},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(chan("select " + c.args + " " + kLinac, &out), c.status) << c.args;
    EXPECT_EQ(out, c.answer) << c.args;
  }
  std::string out;
  ASSERT_EQ(chan("select in-event 4 LINAC/VAC/GAUGE1/PRESSURE" + both, &out), 0);
  EXPECT_EQ(out, "yes\n");
  out.clear();
  ASSERT_EQ(run_command("cat " + kExtra + " | " + kTool + " chan select event-type MOD1.STATE " + kLinac + " -", &out),
            0);
  EXPECT_EQ(out, "0x2 NORMAL\n");
  out.clear();
  std::string err;
  ASSERT_EQ(chan("select event-type NOPE " + kLinac, &out, &err), 1);  // unknown: a "no"
  EXPECT_EQ(out, "0x0 \n");
  EXPECT_NE(err.find("unknown channel 'NOPE'"), std::string::npos) << err;
}

}  // namespace
