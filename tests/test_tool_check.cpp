// qal3 check: schema validation, the checks beyond the schema, positions,
// hardening and the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "chan_test_util.h"
#include "parse_chan_descr.h"
#include "test_util.h"

using testutil::run_command;
using testutil::TempFile;

namespace {

const std::string kTool = testutil::tool_command();
const std::string kExamples = QAL3_EXAMPLES_DIR;

int check(const std::string& args, std::string* out, std::string* err = nullptr) {
  return run_command(kTool + " check " + args, out, err);
}

// Checks `doc` and returns the finding lines ("FILE:" cut off).
int check_text(const std::string& doc, std::string& out, const std::string& options = "") {
  TempFile f(doc);
  const int rc = check(options + " " + f.path(), &out);
  for (std::string::size_type at = 0; (at = out.find(f.path() + ":", at)) != std::string::npos;)
    out.erase(at, f.path().size() + 1);
  return rc;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

nlohmann::json check_json(const std::string& path) {
  std::string out;
  check("--json " + path, &out);
  return nlohmann::json::parse(out);
}

const std::vector<std::string> kExampleDocs = {
    "chan_daqvariables.xml", "chan_descriptions.xml", "chan_select_extra.xml", "chan_select_linac.xml",
    "envdict.xml",           "evlist_basic.xml",      "evlist_multi.xml",      "triggers.xml",
    "plot_triggers.xml",     "gige_camera.xml"};

// No finding of the schema validation in the document at `path`.
void expect_schema_valid(const std::string& path) {
  const nlohmann::json j = check_json(path);
  ASSERT_EQ(j["files"].size(), 1u) << path;
  EXPECT_TRUE(j["files"][0].contains("family")) << path;
  for (const auto& f : j["files"][0]["findings"]) EXPECT_NE(f["source"], "schema") << path << ": " << f.dump();
}

}  // namespace

TEST(ToolCheck, ExamplesAndWriterOutputsValidate) {
  for (const std::string& doc : kExampleDocs) expect_schema_valid(kExamples + "/" + doc);

  TempFile daqvars, chandescr, merged, envdict, triggers;
  std::string out, err;
  ASSERT_EQ(run_command(
                kTool + " chan convert --to daqvars -o " + daqvars.path() + " " + kExamples + "/chan_descriptions.xml",
                &out, &err),
            0);
  ASSERT_EQ(run_command(kTool + " chan convert --to chandescr -o " + chandescr.path() + " " + kExamples +
                            "/chan_daqvariables.xml",
                        &out, &err),
            0);
  ASSERT_EQ(run_command(kTool + " chan merge -o " + merged.path() + " " + kExamples + "/chan_select_linac.xml " +
                            kExamples + "/chan_select_extra.xml",
                        &out, &err),
            0);
  ASSERT_EQ(run_command(kTool + " envdict --xml " + envdict.path() + " " + kExamples + "/envdict.xml", &out, &err), 0);
  ASSERT_EQ(
      run_command(kTool + " trigger convert -o " + triggers.path() + " " + kExamples + "/triggers.xml", &out, &err), 0);
  for (const TempFile* f : {&daqvars, &chandescr, &merged, &envdict, &triggers}) {
    expect_schema_valid(f->path());
    EXPECT_EQ(check(f->path(), &out), 0) << f->path() << "\n" << out;  // written documents are clean
    EXPECT_EQ(out, "");
  }
}

TEST(ToolCheck, CleanFilesGiveNoOutput) {
  std::string out;
  for (const char* doc : {"chan_select_extra.xml", "chan_select_linac.xml", "envdict.xml", "evlist_basic.xml",
                          "triggers.xml", "plot_triggers.xml"}) {
    EXPECT_EQ(check(kExamples + "/" + doc, &out), 0) << doc << "\n" << out;
    EXPECT_EQ(out, "") << doc;
  }
}

// The mistakes an operator makes by hand, each with the line and column of
// the value at fault.
TEST(ToolCheck, TriggerListMistakes) {
  const std::string doc =
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n"
      "<QAL3USERTRIGGERLIST>\n"
      "<USERTRIGGER>\n"
      "<Chan name=\"BEAM/Current\" subchan=\"zero\"/>\n"
      "<Function name=\"MEANN\" start=\"abc\" end=\"5\"/>\n"
      "<Operation name=\"INSIDEE\"/>\n"
      "<LowLimit value=\"low\"/>\n"
      "</USERTRIGGER>\n"
      "<USERTRIGGER>\n"
      "<Chan name=\"BEAM/Current\"/>\n"
      "<Function name=\"mean\"/>\n"
      "<Operation name=\"inside\"/>\n"
      "</USERTRIGGER>\n"
      "<USERTRIGGER>\n"
      "<Chan name=\"BEAM/Current\"/>\n"
      "<Function name=\"FOO\"/>\n"
      "<Operation name=\"GT\"/>\n"
      "</USERTRIGGER>\n"
      "</QAL3USERTRIGGERLIST>\n";
  std::string out;
  EXPECT_EQ(check_text(doc, out), 1);
  EXPECT_TRUE(contains(out, "4:36: error: attribute subchan of Chan: 'zero' is not an integer")) << out;
  EXPECT_TRUE(contains(out,
                       "5:17: error: function 'MEANN' is not in the registry: the trigger reads as MEAN; "
                       "did you mean 'MEAN'?"))
      << out;
  EXPECT_TRUE(contains(out, "5:31: error: attribute start of Function: 'abc' is not a number")) << out;
  EXPECT_TRUE(contains(out,
                       "6:18: error: operation 'INSIDEE' is not in the registry: the trigger reads as GT; "
                       "did you mean 'INSIDE'?"))
      << out;
  EXPECT_TRUE(contains(out, "7:18: error: attribute value of LowLimit: 'low' is not a number")) << out;
  EXPECT_TRUE(contains(out, "11:17: error: function 'mean'")) << out;
  EXPECT_TRUE(contains(out, "12:18: error: operation 'inside'")) << out;
  EXPECT_TRUE(contains(out, "16:17: error: function 'FOO' is not in the registry")) << out;

  // A site's own names are not reported once given as known.
  const std::string site =
      "<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\"/><Function name=\"MYFUNC\"/>"
      "<Operation name=\"MYOP\"/></USERTRIGGER></QAL3USERTRIGGERLIST>\n";
  EXPECT_EQ(check_text(site, out), 1);
  EXPECT_TRUE(contains(out, "'MYFUNC'") && contains(out, "'MYOP'")) << out;
  EXPECT_EQ(check_text(site, out, "--known MYFUNC,MYOP"), 0) << out;
  EXPECT_EQ(out, "");
  // Free registry slots have names, but nothing behind them.
  EXPECT_EQ(check_text("<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\"/><Function name=\"FUNC20\"/>"
                       "<Operation name=\"OP20\"/></USERTRIGGER></QAL3USERTRIGGERLIST>\n",
                       out),
            1);
  EXPECT_TRUE(contains(out,
                       "1:67: error: function 'FUNC20' names a free registry slot: it always fails, and the "
                       "trigger never fires"))
      << out;
  EXPECT_TRUE(contains(out, "1:93: error: operation 'OP20' names a free registry slot: the trigger never fires"))
      << out;
  // A parameter under two of its names: the first name of its list is read,
  // whatever the order. A missing child is named, with what is read instead.
  EXPECT_EQ(check_text("<QAL3USERTRIGGERLIST>\n<USERTRIGGER><Chan name=\"C\"/>"
                       "<Function name=\"MEAN\" start=\"1\" param0=\"5\" b=\"2\" halfwidthY=\"3\"/>\n"
                       "</USERTRIGGER>\n</QAL3USERTRIGGERLIST>\n",
                       out),
            1);
  EXPECT_EQ(out,
            "2:1: error: USERTRIGGER without Operation: it reads as GT\n"
            "2:59: warning: Function start 1 is not read: param0 gives the same parameter and is read\n"
            "2:76: warning: Function b 2 is not read: halfwidthY gives the same parameter and is read\n");
}

// A number text is judged by what a float keeps of it, the writers' own
// texts included; each finding at its value.
TEST(ToolCheck, FloatTexts) {
  struct Case {
    const char* text;
    const char* finding;  // "" for none
  };
  const Case cases[] = {
      {"1e-07", ""},
      {"0.0000001", ""},
      {"0.3333333", ""},
      {"1.0000001", ""},
      {"5e-07", ""},
      {"1e-45", ""},
      {"3.4028235e38", ""},
      {"340282346638528859811704183484516925440.000000", ""},
      {"-0", ""},
      {"0.100000", ""},
      {"inf", ""},
      {"-inf", ""},
      {"nan", ""},
      {"-nan", ""},
      {"INF", ""},
      {"NaN", ""},
      {"1e39", "error: Function param0 1e39 is beyond the range of a float: it reads as inf"},
      {"-1e-50", "warning: Function param0 -1e-50 is too small for a float: it reads as -0"},
      {"16777217", "warning: Function param0 16777217 has more digits than a float keeps: it reads as 16777216"},
      {"0.123456789",
       "warning: Function param0 0.123456789 has more digits than a float keeps: it reads as "
       "0.12345679"},
  };
  for (const Case& c : cases) {
    std::string out;
    const int rc =
        check_text("<QAL3USERTRIGGERLIST>\n<USERTRIGGER><Chan name=\"C\"/><Function name=\"MEAN\" param0=\"" +
                       std::string(c.text) +
                       "\"/><Operation name=\"GT\"/></USERTRIGGER>\n"
                       "</QAL3USERTRIGGERLIST>\n",
                   out);
    EXPECT_EQ(out, *c.finding ? "2:60: " + std::string(c.finding) + "\n" : "") << c.text;
    EXPECT_EQ(rc, contains(c.finding, "error:") ? 1 : 0) << c.text;  // warnings alone pass
  }
}

// What a built-in function does that the file shows: a warning where the
// document shows it, and none for the usual forms.
TEST(ToolCheck, FunctionBehavioursTheFileShows) {
  struct Case {
    const char* function;  // the Function element's attributes
    const char* limits;    // LowLimit and UpperLimit elements
    std::string finding;   // "" for none
  };
  // A window function named without its window.
  const std::string no_window =
      "2:30: warning: Function gives no window (param0/start/x0/position, param1/end/y0): it reads as 0 to 0, an "
      "empty window, and the trigger never fires";
  const Case cases[] = {
      {"name=\"DIFFSUM\" start=\"0\" end=\"-1\"", "",
       "2:46: warning: function 'DIFFSUM' gives the previous event's sum minus this event's: the opposite sign of "
       "the other DIFF functions"},
      {"name=\"DIFFMEAN\" start=\"0\" end=\"-1\"", "", ""},
      {"name=\"MEAN\"", "", no_window},
      {"name=\"VALUE\"", "", ""},  // a position, no window
      {"name=\"MEAN\" start=\"5\" end=\"5\"", "",
       "2:67: warning: Function end 5 equals start 5: the window is empty and the trigger fails, or, on a "
       "spectrum that starts past 5, it runs to the end of the spectrum"},
      {"name=\"MEAN\" start=\"5\" end=\"2\"", "",
       "2:67: warning: Function end 2 is before start 5: the window is empty and the trigger fails, or, on a "
       "spectrum that starts past 2, it runs to the end of the spectrum"},
      {"name=\"MAX\" x0=\"5\" param1=\"2\" end=\"9\"", "",
       "2:66: warning: Function param1 2 is before x0 5: the window is empty and the trigger fails, or, on a "
       "spectrum that starts past 2, it runs to the end of the spectrum\n"
       "2:74: warning: Function end 9 is not read: param1 gives the same parameter and is read"},
      {"name=\"P2P\" start=\"100\" end=\"-1\"", "", ""},  // the rest of the spectrum
      {"name=\"VALUE\" start=\"5\" end=\"2\"", "", ""},   // one sample, no window
      {"name=\"RMS\"", "<UpperLimit value=\"2e19\"/>",
       no_window + "\n2:93: warning: UpperLimit value 2e19 is beyond what RMS gives: it squares each sample in single "
                   "precision "
                   "(STD does not), and a sample above 1.8e+19 makes it inf"},
      {"name=\"RMS\"", "<LowLimit value=\"1e-21\"/>",
       no_window + "\n2:91: warning: LowLimit value 1e-21 is below what RMS resolves: it squares each sample in single "
                   "precision (STD does not), and samples below 1.1e-19 lose precision, below 2.6e-23 all of it\n"
                   "2:91: warning: UpperLimit is not given, only LowLimit: GT fires when result > 0"},
      {"name=\"RMS\"", "<LowLimit value=\"0\"/><UpperLimit value=\"1e19\"/>", no_window},
      {"name=\"STD\"", "<LowLimit value=\"1e-21\"/><UpperLimit value=\"2e19\"/>", no_window},
      {"name=\"DIFFRMS\"", "<LowLimit value=\"1e-21\"/>",  // a difference of two RMS values
       no_window + "\n2:95: warning: UpperLimit is not given, only LowLimit: GT fires when result > 0"},
      {"name=\"DIFFRMS\"", "<UpperLimit value=\"-2e19\"/>",
       no_window + "\n2:97: warning: UpperLimit value -2e19 is beyond what RMS gives: it squares each sample in single "
                   "precision (STD does not), and a sample above 1.8e+19 makes it inf"},
  };
  for (const Case& c : cases) {
    std::string out;
    const int rc =
        check_text("<QAL3USERTRIGGERLIST>\n<USERTRIGGER><Chan name=\"C\"/><Function " + std::string(c.function) +
                       "/><Operation name=\"GT\"/>" + c.limits + "</USERTRIGGER>\n</QAL3USERTRIGGERLIST>\n",
                   out);
    EXPECT_EQ(out, c.finding.empty() ? "" : c.finding + "\n") << c.function << c.limits;
    EXPECT_EQ(rc, 0) << c.function << c.limits;  // warnings alone pass
  }
}

// Limits and masks against what the trigger's operation compares, in the
// words of its condition; none where the operation compares what is given.
TEST(ToolCheck, WhatTheOperationCompares) {
  const struct {
    const char* trigger;  // after Chan and Function
    const char* finding;  // "" for none
  } cases[] = {
      {"<Operation name=\"GT\"/><LowLimit value=\"5\"/>",
       "2:93: warning: UpperLimit is not given, only LowLimit: GT fires when result > 0"},
      {"<LowLimit value=\"5\"/>",
       "2:1: error: USERTRIGGER without Operation: it reads as GT\n"
       "2:71: warning: UpperLimit is not given, only LowLimit: GT fires when result > 0"},
      {"<Operation name=\"LT\"/><UpperLimit value=\"5\"/>",
       "2:95: warning: LowLimit is not given, only UpperLimit: LT fires when result < 0"},
      {"<Operation name=\"GT\"/><UpperLimit value=\"5\"/>", ""},
      {"<Operation name=\"GT\"/><LowLimit value=\"5\"/><UpperLimit value=\"7\"/>", ""},
      {"<Operation name=\"INSIDE\"/><LowLimit value=\"5\"/><UpperLimit value=\"1\"/>",
       "2:97: warning: LowLimit 5 is above UpperLimit 1: INSIDE fires when 5 < result < 1, which no number meets: it "
       "never fires"},
      {"<Operation name=\"INSIDEWITHLIMITS\"/><LowLimit value=\"2\"/><UpperLimit value=\"2\"/>", ""},
      {"<Operation name=\"OUTSIDE\"/><LowLimit value=\"5\"/><UpperLimit value=\"1\"/>",
       "2:98: warning: LowLimit 5 is above UpperLimit 1: OUTSIDE fires when result < 5 or > 1, which every number "
       "meets: it always fires"},
      {"<Operation name=\"INSIDE\"/><LowLimit value=\"5\"/>",
       "2:97: warning: UpperLimit is not given, only LowLimit: INSIDE fires when 5 < result < 0, which no number "
       "meets: it never fires"},
      {"<Operation name=\"BITS\"/><BitMask mask=\"0x0\"/>",
       "2:93: warning: BitMask 0x0 tests no bit: BITS fires when a bit of 0x0 is set"},
      {"<Operation name=\"AND\"/>",
       "2:71: warning: no BitMask, so the mask 0x0 tests no bit: AND fires when all bits of 0x0 are set"},
      {"<Operation name=\"AND\"/><BitMask mask=\"0x4\"/>", ""},
      {"<Operation name=\"TRUE\"/><LowLimit value=\"5\"/>", ""},
  };
  for (const auto& c : cases) {
    std::string out;
    check_text("<QAL3USERTRIGGERLIST>\n<USERTRIGGER><Chan name=\"C\"/><Function name=\"VALUE\"/>" +
                   std::string(c.trigger) + "</USERTRIGGER>\n</QAL3USERTRIGGERLIST>\n",
               out);
    EXPECT_EQ(out, *c.finding ? std::string(c.finding) + "\n" : "") << c.trigger;
  }
}

// Values out of their sense: a negative delta of a dictionary, an event
// type listed again (one finding however often).
TEST(ToolCheck, ValuesOutOfTheirSense) {
  const struct {
    std::string doc;
    const char* finding;  // "" for none
  } cases[] = {
      {"<ENVINDEXDICT>\n<CHANNEL><INDEX>1</INDEX><PROP>A</PROP><DABS>-0.5</DABS></CHANNEL>\n</ENVINDEXDICT>\n",
       "2:46: warning: DABS -0.5 is negative: as the absolute change of the value that counts as a change, it lets "
       "every value count as changed"},
      {"<ENVINDEXDICT>\n<CHANNEL><INDEX>1</INDEX><PROP>A</PROP><DREL>-1e-3</DREL></CHANNEL>\n</ENVINDEXDICT>\n",
       "2:46: warning: DREL -1e-3 is negative: as the relative change of the value that counts as a change, it lets "
       "every value count as changed"},
      {"<ENVINDEXDICT>\n<CHANNEL><INDEX>1</INDEX><PROP>A</PROP><DABS>-0</DABS><DREL>-inf</DREL></CHANNEL>\n"
       "</ENVINDEXDICT>\n",
       ""},
      {"<BMR>\n<EVENT><TYPE>1</TYPE></EVENT>\n<EVENT><TYPE>2</TYPE><TYPE>1</TYPE></EVENT>\n"
       "<EVENT><TYPE>1</TYPE></EVENT>\n</BMR>\n",
       "3:28: warning: event type 1 listed 3 times (first at line 2): the list is read with an entry for each"},
      {"<BMR>\n<EVENT><TYPE>1</TYPE></EVENT>\n<EVENT><TYPE>40</TYPE></EVENT>\n<EVENT><TYPE>40</TYPE></EVENT>\n"
       "</BMR>\n",
       ""},
  };
  for (const auto& c : cases) {
    std::string out;
    check_text(c.doc, out);
    EXPECT_TRUE(*c.finding ? contains(out, c.finding) && std::count(out.begin(), out.end(), '\n') == 1
                           : !contains(out, "warning"))
        << c.doc << out;
  }
}

// Findings across the files of a folder, each at one place and naming the
// other; none for a file alone or for what the folder agrees on.
TEST(ToolCheck, AcrossTheFilesOfAFolder) {
  const std::string chan =
      "<CHANDESCRIPTIONS>\n<CHANNEL><DB_KEY>1</DB_KEY><PROP>A/B/C</PROP><NAME>ABC</NAME></CHANNEL>\n"
      "<CHANNEL><PROP>B3</PROP><NAME>BEE</NAME></CHANNEL>\n</CHANDESCRIPTIONS>\n";
  const auto trigger = [](const std::string& channel) {
    return "<QAL3USERTRIGGERLIST>\n<USERTRIGGER><Chan name=\"" + channel +
           "\"/><Function name=\"VALUE\"/><Operation name=\"GT\"/><UpperLimit value=\"1\"/></USERTRIGGER>\n"
           "</QAL3USERTRIGGERLIST>\n";
  };
  const auto events = [](const std::string& channel) {
    return "<BMR>\n<EVENT><TYPE>1</TYPE><SBLOCK>S<CHLIST><CHAN>" + channel +
           "</CHAN></CHLIST></SBLOCK></EVENT>\n</BMR>\n";
  };
  const auto dict = [](const std::string& prop) {
    return "<ENVINDEXDICT>\n<CHANNEL><INDEX>1</INDEX><PROP>" + prop + "</PROP></CHANNEL>\n</ENVINDEXDICT>\n";
  };
  const struct {
    std::string second;   // b.xml, beside a.xml holding `chan`
    const char* finding;  // the one finding expected, "" for none
  } cases[] = {
      // A property or DAQ name described again, differently.
      {"<CHANDESCRIPTIONS>\n<CHANNEL><DB_KEY>2</DB_KEY><PROP>A/B/C</PROP><NAME>XYZ</NAME></CHANNEL>\n"
       "</CHANDESCRIPTIONS>\n",
       "b.xml:2:34: warning: property 'A/B/C' is described at a.xml:2:34 with DAQ name 'ABC' and DB key '1', here "
       "with DAQ name 'XYZ' and DB key '2': a merge keeps the description of the file given first and drops the "
       "other"},
      {"<DAQvariables>\n<DaqFloat><nexol>A/B/C</nexol><daqName>XYZ</daqName><DBKey>1</DBKey></DaqFloat>\n"
       "</DAQvariables>\n",
       "b.xml:2:18: warning: property 'A/B/C' is described at a.xml:2:34 with DAQ name 'ABC', here with DAQ name "
       "'XYZ': a merge keeps the description of the file given first and drops the other"},
      {"<DAQvariables>\n<DaqFloat><nexol>A/B/C</nexol><daqName>ABC</daqName></DaqFloat>\n</DAQvariables>\n",
       "b.xml:2:18: warning: property 'A/B/C' is described at a.xml:2:34 with DAQ name 'ABC' and DB key '1', here "
       "with DAQ name 'ABC' and DB key '-1': a merge keeps the description of the file given first and drops the "
       "other"},
      {"<CHANDESCRIPTIONS>\n<CHANNEL><PROP>D</PROP><NAME>BEE</NAME></CHANNEL>\n</CHANDESCRIPTIONS>\n",
       "b.xml:2:30: warning: DAQ name 'BEE' names property 'D' here and property 'B3' at a.xml:3:31: a merge keeps "
       "both under one DAQ name"},
      {"<CHANDESCRIPTIONS>\n<CHANNEL><DB_KEY>1</DB_KEY><PROP>A/B/C</PROP><NAME>ABC</NAME></CHANNEL>\n"
       "</CHANDESCRIPTIONS>\n",
       ""},
      // A name no description has.
      {trigger("NO/SUCH/CHANNEL"),
       "b.xml:2:26: warning: trigger channel 'NO/SUCH/CHANNEL' is no property or DAQ name of the channel "
       "descriptions checked (the first at a.xml:2:34): the trigger reads a channel no description names"},
      {trigger("B33"),
       "b.xml:2:26: warning: trigger channel 'B33' is no property or DAQ name of the channel descriptions checked: "
       "the trigger reads a channel no description names; did you mean 'B3' (a.xml:3:16)?"},
      {trigger("ABC"), ""},
      {"<QAL3USERTRIGGERLIST>\n<USERTRIGGER><Chan name=\"X\"/><Function name=\"VALUE\"/><Operation name=\"TRUE\"/>"
       "</USERTRIGGER>\n<USERTRIGGER><Chan name=\"X\"/><Function name=\"VALUE\"/><Operation name=\"TRUE\"/>"
       "</USERTRIGGER>\n</QAL3USERTRIGGERLIST>\n",
       "b.xml:2:26: warning: trigger channel 'X' (2 times, the first here) is no property or DAQ name of the channel "
       "descriptions checked (the first at a.xml:2:34): the trigger reads a channel no description names"},
      {events("A/B/D"),
       "b.xml:2:45: warning: event list channel 'A/B/D' is no property or DAQ name of the channel descriptions "
       "checked: the event list asks for a channel no description names; did you mean 'A/B/C' (a.xml:2:34)?"},
      {events("B3"), ""},
      // A dictionary's environment channels need no description, but for a
      // name one character or its case away from a described one.
      {dict("a/b/c"),
       "b.xml:2:32: warning: dictionary property 'a/b/c' is no property or DAQ name of the channel descriptions "
       "checked: the dictionary numbers a property no description names; did you mean 'A/B/C' (a.xml:2:34)?"},
      {dict("HALL/TEMPERATURE"), ""},
  };
  char tmpl[] = "/tmp/qal3-across-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  for (const auto& c : cases) {
    std::ofstream(dir + "/a.xml") << chan;
    std::ofstream(dir + "/b.xml") << c.second;
    std::string out;
    run_command("cd " + dir + " && " + kTool + " check a.xml b.xml", &out);
    EXPECT_EQ(out, *c.finding ? std::string(c.finding) + "\n" : "") << c.second;
    std::ofstream(dir + "/a.xml") << "<CHANDESCRIPTIONS/>\n";  // a folder without descriptions
    run_command("cd " + dir + " && " + kTool + " check .", &out);
    EXPECT_EQ(out, "") << c.second;
  }
  // In JSON, in the entry of the file the finding is at, and counted.
  std::ofstream(dir + "/a.xml") << chan;
  std::ofstream(dir + "/b.xml") << trigger("B33");
  const nlohmann::json j = check_json(dir);
  ASSERT_EQ(j["files"].size(), 2u);
  EXPECT_EQ(j["files"][1]["findings"].size(), 1u) << j.dump();
  EXPECT_EQ(j["warnings"], 1);
  // Names are looked up, never compared pairwise: 50000 of each in time.
  std::string many_chan = "<CHANDESCRIPTIONS>\n", many_triggers = "<QAL3USERTRIGGERLIST>\n";
  for (int i = 0; i < 50000; ++i) {
    const std::string name = "LINAC/SECTOR/DEVICE." + std::to_string(i) + "/PROPERTY";
    many_chan += "<CHANNEL><PROP>" + name + "</PROP><NAME>N" + std::to_string(i) + "</NAME></CHANNEL>\n";
    many_triggers += "<USERTRIGGER><Chan name=\"" + name +
                     "\"/><Function name=\"VALUE\"/><Operation name=\"TRUE\"/></USERTRIGGER>\n";
  }
  std::ofstream(dir + "/a.xml") << many_chan + "</CHANDESCRIPTIONS>\n";
  std::ofstream(dir + "/b.xml") << many_triggers + "</QAL3USERTRIGGERLIST>\n";
  std::string out;
  EXPECT_EQ(run_command("ulimit -t 30; cd " + dir + " && " + kTool + " check a.xml b.xml", &out), 0);
  EXPECT_EQ(out, "");
  run_command("rm -rf " + dir, nullptr);
}

// A camera feature file: what its reader makes of each feature against
// what the file says; findings on one line whatever the text holds.
TEST(ToolCheck, CameraFeatureFiles) {
  struct Case {
    const char* features;  // inside RegisterDescription, from line 2
    const char* findings;  // "" for none
  };
  const Case cases[] = {
      {"<Integer Name=\"W\"><ToolTip>t</ToolTip><Description>d</Description>"
       "<Extension><PvRename>V</PvRename></Extension></Integer>",
       ""},
      {"<Category Name=\"Root\"><pFeature>W</pFeature></Category><IntReg Name=\"R\"/>", ""},
      {"<Boolean><ToolTip>t</ToolTip></Boolean>",
       "2:1: warning: Boolean without a Name: the feature is read without a name, and the listings leave it out"},
      {"<String Name=\"S\"><ToolTip>t</ToolTip></String>",
       "2:1: warning: String 'S' is no feature type the reader knows (Undefined, Integer, Float, Enumeration, "
       "Boolean, StringReg, Command, IntReg, Int64): it is not read"},
      {"<Float Name=\"a\\b\"/><Float Name=\"a\\b\"/>",
       "2:20: warning: Float 'a\\\\b': a feature of that name is already at line 2"},
      {"<Command Name=\"C\"><ToolTip></ToolTip>\n<Description>d</Description></Command>",
       "2:19: warning: Command 'C': its ToolTip is read as '\\n', where the file gives ''"},
  };
  for (const Case& c : cases) {
    std::string out;
    const int rc = check_text("<RegisterDescription>\n" + std::string(c.features) + "\n</RegisterDescription>\n", out);
    EXPECT_EQ(out, *c.findings ? std::string(c.findings) + "\n" : "") << c.features;
    EXPECT_EQ(rc, 0) << c.features;  // warnings alone pass
  }
}

// A folder: the *.xml files below it in path order, but not through a
// linked folder nor in hidden ones; the summary counts them by family.
TEST(ToolCheck, FoldersAndTheirSummary) {
  char tmpl[] = "/tmp/qal3-tree-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string setup = "cd " + dir +
                            " && mkdir -p b/c .hidden && printf '<RegisterDescription><Integer Name=\"W\"/>"
                            "</RegisterDescription>' > b/c/cam.XML && cp " +
                            kExamples +
                            "/triggers.xml a.xml && cp a.xml .hidden/h.xml && echo x > b/notes.txt && "
                            "cp a.xml b/t.xml && ln -s b linked";
  ASSERT_EQ(run_command(setup, nullptr), 0);
  const nlohmann::json j = check_json(dir);
  ASSERT_EQ(j["files"].size(), 3u) << j.dump();
  EXPECT_EQ(j["files"][0]["file"], dir + "/a.xml");
  EXPECT_EQ(j["files"][1]["file"], dir + "/b/c/cam.XML");
  EXPECT_EQ(j["files"][2]["file"], dir + "/b/t.xml");
  EXPECT_EQ(j["families"], nlohmann::json({{"GigE feature file", 1}, {"trigger list", 2}}));
  std::string out, err;
  EXPECT_EQ(check(dir, &out, &err), 0) << out;
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "qal3: check: 3 files (GigE feature file: 1, trigger list: 2), 0 errors, 0 warnings\n");
  run_command("rm -rf " + dir, nullptr);
}

// Warnings alone pass and --strict fails them; --exclude leaves out files
// found below a folder, never named ones; a folder's file of another root is
// skipped once and counted nowhere, a named one is an error.
TEST(ToolCheck, FolderStatusesExclusionsAndForeignFiles) {
  char tmpl[] = "/tmp/qal3-walk-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  ASSERT_EQ(run_command("mkdir -p " + dir + "/t/sub", nullptr), 0);
  const auto trigger = [](const std::string& function) {
    return "<QAL3USERTRIGGERLIST>\n<USERTRIGGER><Chan name=\"C\"/><Function name=\"" + function +
           "\" start=\"0\" end=\"-1\"/><Operation name=\"GT\"/></USERTRIGGER>\n</QAL3USERTRIGGERLIST>\n";
  };
  std::ofstream(dir + "/t/warn.xml") << trigger("DIFFSUM");
  std::ofstream(dir + "/t/sub/bad.xml") << trigger("MEANN");
  std::ofstream(dir + "/t/pom.xml") << "<?xml version=\"1.0\"?>\n<project><modelVersion>4</modelVersion></project>\n";
  const std::string skip = "qal3: t/pom.xml: skipped: root element 'project' is no family's\n";
  const std::string warn = "t/warn.xml:2:46: warning: function 'DIFFSUM'";
  const struct {
    std::string args;
    int status;
    std::string out;  // a part of standard output ("" for none at all)
    std::string err;  // all of standard error
  } kCases[] = {
      {"--exclude=bad.xml t", 0, warn, skip + "qal3: check: 1 file (trigger list: 1), 0 errors, 1 warning\n"},
      {"--strict --exclude=bad.xml t", 1, "t/warn.xml:2:46: error: function 'DIFFSUM'",
       skip + "qal3: check: 1 file (trigger list: 1), 1 error, 0 warnings\n"},
      {"--exclude='sub/*' --exclude=pom.xml t", 0, warn,
       "qal3: check: 1 file (trigger list: 1), 0 errors, 1 warning\n"},
      {"--exclude='s*' t", 0, warn, skip + "qal3: check: 1 file (trigger list: 1), 0 errors, 1 warning\n"},
      {"t", 1, "t/sub/bad.xml:2:46: error: function 'MEANN'",
       skip + "qal3: check: 2 files (trigger list: 2), 1 error, 1 warning\n"},
      {"--exclude=bad.xml t/sub/bad.xml", 1, "t/sub/bad.xml:2:46: error: function 'MEANN'", ""},
      {"--exclude='*' t/warn.xml", 0, warn, ""},
      {"t/pom.xml", 1, "t/pom.xml:2:1: error: root element 'project' is none of ", ""},
      {"-q t", 1, "", ""},
  };
  for (const auto& c : kCases) {
    std::string out, err;
    EXPECT_EQ(run_command("cd " + dir + " && " + kTool + " check " + c.args, &out, &err), c.status) << c.args;
    EXPECT_TRUE(c.out.empty() ? out.empty() : contains(out, c.out)) << c.args << "\n" << out;
    EXPECT_EQ(err, c.err) << c.args;
  }
  const nlohmann::json j = check_json(dir + "/t");
  EXPECT_EQ(j["skipped"], nlohmann::json::parse(R"([{"file": ")" + dir + R"(/t/pom.xml", "root": "project"}])"));
  EXPECT_EQ(j["families"], nlohmann::json({{"trigger list", 2}}));
  EXPECT_EQ(j["files"].size(), 2u);
  run_command("rm -rf " + dir, nullptr);

  // The project's own examples: warnings pass, and evlist_multi.xml shows an
  // out-of-range event type on purpose.
  std::string out, err;
  EXPECT_EQ(check("--exclude=evlist_multi.xml " + kExamples + "/", &out, &err), 0) << out << err;
  EXPECT_TRUE(contains(err, "), 0 errors, ")) << err;
  EXPECT_EQ(check(kExamples + "/", &out, &err), 1) << out << err;
  EXPECT_TRUE(contains(err, "), 1 error, ")) << err;
}

// Every writer's output over the edge values of a float: no finding, a
// --strict conversion takes it, and the schemas agree.
TEST(ToolCheck, WriterEdgeValuesAreClean) {
  const std::vector<std::string> edges = {"1e-07", "0.3333333", "1.0000001", "1e-45", "3.4028235e38",
                                          "inf",   "-inf",      "nan",       "-0"};
  std::string params, dict;
  for (std::size_t i = 0; i < edges.size(); ++i) {
    params += " param" + std::to_string(i) + "=\"" + edges[i] + "\"";
    dict += "<CHANNEL><INDEX>" + std::to_string(i) + "</INDEX><PROP>P" + std::to_string(i) + "</PROP><DABS>" +
            edges[i] + "</DABS><DREL>" + edges[edges.size() - 1 - i] + "</DREL></CHANNEL>\n";
  }
  TempFile triggers("<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\"/><Function name=\"MEAN\"" + params +
                    "/><Operation name=\"INSIDE\"/><LowLimit value=\"-inf\"/><UpperLimit value=\"3.4028235e38\"/>"
                    "</USERTRIGGER></QAL3USERTRIGGERLIST>\n");
  TempFile envdict("<ENVINDEXDICT>\n" + dict + "</ENVINDEXDICT>\n");
  TempFile chan, written_triggers, written_envdict, again;
  {
    chantest::ListGuard g;
    chan_descr_2010* d = chantest::make(g.list, "P/S", "SPEC");
    std::vector<qal3_spect_header_2010> axes;
    for (std::size_t i = 0; i + 2 < edges.size(); i += 3) {
      chantest::add_dim(d, static_cast<int>(i / 3), "x");
      axes.push_back({std::strtof(edges[i].c_str(), nullptr), std::strtof(edges[i + 1].c_str(), nullptr), 1, 1,
                      std::strtof(edges[i + 2].c_str(), nullptr)});
    }
    char name[] = "SPEC";
    dim_params p{name, static_cast<int>(axes.size()), axes.data(), nullptr};
    std::vector<dim_params*> dims{&p};
    std::string path = chan.path();
    ASSERT_EQ(dump_chan_desr(&g.list, &path[0], 2, 0, -1, nullptr, &dims), 0);
  }
  std::string out, err;
  ASSERT_EQ(run_command(kTool + " trigger convert -o " + written_triggers.path() + " " + triggers.path(), &out, &err),
            0)
      << err;
  ASSERT_EQ(run_command(kTool + " envdict --xml " + written_envdict.path() + " " + envdict.path(), &out, &err), 0)
      << err;
  const std::pair<const TempFile*, const char*> docs[] = {{&triggers, "triggers.xsd"},
                                                          {&envdict, "envdict.xsd"},
                                                          {&chan, "chandescriptions.xsd"},
                                                          {&written_triggers, "triggers.xsd"},
                                                          {&written_envdict, "envdict.xsd"}};
  const bool xmllint = run_command("command -v xmllint", &out, &err) == 0;
  for (const auto& doc : docs) {
    EXPECT_EQ(check(doc.first->path(), &out), 0) << doc.first->read() << out;
    EXPECT_EQ(out, "");
    if (xmllint) {
      EXPECT_EQ(run_command("xmllint --noout --nonet --schema " + kExamples + "/../schema/" + doc.second + " " +
                                doc.first->path(),
                            &out, &err),
                0)
          << err;
    }
  }
  EXPECT_EQ(
      run_command(kTool + " trigger convert --strict -o " + again.path() + " " + written_triggers.path(), &out, &err),
      0)
      << err;
  EXPECT_EQ(run_command(kTool + " envdict --strict --xml " + again.path() + " " + written_envdict.path(), &out, &err),
            0)
      << err;
  EXPECT_EQ(
      run_command(kTool + " chan convert --strict --to chandescr -o " + again.path() + " " + chan.path(), &out, &err),
      0)
      << err;
}

TEST(ToolCheck, EventListMistakes) {
  const std::string doc =
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n"
      "<BMR>\n"
      "  <EVENT><TYPE>1</TYPE></EVENT>\n"
      "  <EVENT><TYPE>999</TYPE></EVENT>\n"
      "  <EVENT><TYPE>40</TYPE></EVENT>\n"
      "  <EVENT><TYPE>NORMAL</TYPE></EVENT>\n"
      "  <EVENT><TYPE>2</TYPE><CHAN>X</CHAN><SBLOCK><CHLIST/></SBLOCK><TMASK>4294967296</TMASK></EVENT>\n"
      "  <EVENT><TYPE>3</TYPE><TMASK>1</TMASK><PRIORITY>1</PRIORITY><TYPE>4</TYPE><TMASK>2</TMASK>\n"
      "    <SBLOCK>B<PRIORITY>2</PRIORITY></SBLOCK><TMASK>3</TMASK><PRIORITY>4</PRIORITY></EVENT>\n"
      "  <EVENT><TYPE>99999999999</TYPE></EVENT>\n"
      "  <EVENT><TYPE>5</TYPE><SBLOCK>a" +
      std::string(127, '\xE9') +
      "</SBLOCK></EVENT>\n"
      "</BMR>\n";
  std::string out;
  EXPECT_EQ(check_text(doc, out), 1);
  EXPECT_TRUE(contains(out, "4:16: error: event type 999 is out of range 0 to 32")) << out;
  EXPECT_TRUE(contains(out, "5:16: error: event type 40 is out of range 0 to 32")) << out;
  EXPECT_TRUE(contains(out, "6:16: error: TYPE: 'NORMAL' is not an integer")) << out;
  EXPECT_TRUE(contains(out, "7:24: warning: channel 'X' outside a channel list: ignored")) << out;
  EXPECT_TRUE(contains(out, "7:38: error: server block without a name")) << out;
  EXPECT_TRUE(contains(out, "error: TMASK 4294967296 does not fit in 32 bits")) << out;
  EXPECT_FALSE(contains(out, ":3:")) << out;
  // Repeated for one event type (not across TYPEs): the last one is read.
  EXPECT_TRUE(contains(out,
                       "9:45: warning: TMASK given again for one event type (first at line 8): the last one "
                       "is read"))
      << out;
  EXPECT_TRUE(contains(out, "9:61: warning: PRIORITY given again for one event type (first at line 9)")) << out;
  EXPECT_FALSE(contains(out, "8:39: warning")) << out;
  // One fault, one finding.
  EXPECT_TRUE(contains(out, "10:16: error: event type 99999999999 is out of range 0 to 32")) << out;
  EXPECT_FALSE(contains(out, "maxInclusive")) << out;
  // A server block name is cut to bytes, not characters.
  EXPECT_TRUE(contains(out,
                       "11:32: warning: server block name is 128 characters (255 bytes) long: it is cut to 127 "
                       "when read, with part of the next"))
      << out;
}

TEST(ToolCheck, ChannelDescriptionMistakes) {
  std::string out;
  // The example repeats a property: a conversion drops the second channel,
  // a merge keeps what it gives before its PROP.
  EXPECT_EQ(check(kExamples + "/chan_descriptions.xml", &out), 0);  // warnings alone pass
  EXPECT_TRUE(contains(out,
                       "chan_descriptions.xml:83:7: warning: property 'TS.MAGNETS/QUAD/Q3/CURRENT.RBV' "
                       "already described at line 64: a merge or conversion drops DAQ name 'TS.Q3.I.UPD' and "
                       "the rest of this channel; a merge still carries its STREAM, EVTYPE and DTYPE over to the "
                       "first description\n"))
      << out;

  const std::string doc =
      "<CHANDESCRIPTIONS>\n"
      "<CHANNEL>\n"
      "<EVTYPE>abc</EVTYPE>\n"
      "<PROP>A/B/C</PROP>\n"
      "<NAME>ABC</NAME>\n"
      "<UNITS>kilovolt per metre</UNITS>\n"
      "<SIZE>-5</SIZE>\n"
      "<BIT>x\n<BIT_NAME>b</BIT_NAME></BIT>\n"
      "</CHANNEL>\n"
      "<CHANNEL><EVTYPE>33</EVTYPE><DTYPE>70</DTYPE><PROP>D</PROP><NAME>ABC</NAME></CHANNEL>\n"
      "</CHANDESCRIPTIONS>\n";
  EXPECT_EQ(check_text(doc, out), 1);
  EXPECT_TRUE(contains(out, "3:9: error: EVTYPE: 'abc' is not an integer")) << out;
  EXPECT_TRUE(contains(out, "6:8: warning: units is 18 characters long: it is cut to 15 when read")) << out;
  EXPECT_TRUE(contains(out, "7:7: error: SIZE: value '-5' must be greater than or equal to")) << out;
  EXPECT_TRUE(contains(out, "8:6: error: bit number 'x' is not a number")) << out;
  EXPECT_TRUE(contains(out, "11:18: error: event type 33 is out of range 0 to 31")) << out;
  EXPECT_TRUE(contains(out, "11:36: error: data type 70 is out of range 0 to 62")) << out;
  EXPECT_TRUE(contains(out, "11:66: warning: DAQ name 'ABC' already used at line 2")) << out;

  // Fields in any order, as the reader takes them; lengths in characters,
  // cut at whole characters.
  const std::string micro = "\xC2\xB5";
  std::string units;
  for (int i = 0; i < 10; ++i) units += micro;
  EXPECT_EQ(check_text("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CHANDESCRIPTIONS>\n"
                       "<CHANNEL><NAME>N</NAME><BIT>0<BIT_DESCR>d</BIT_DESCR><BIT_NAME>b</BIT_NAME></BIT>"
                       "<PROP>P</PROP><EVTYPE>1</EVTYPE></CHANNEL>\n"
                       "<CHANNEL><NAME>M</NAME><UNITS>" +
                           units +
                           "</UNITS><NAME>O</NAME></CHANNEL>\n"
                           "<CHANNEL><PROP>Q</PROP><NAME>Q</NAME><PROP>R</PROP></CHANNEL>\n"
                           "</CHANDESCRIPTIONS>\n",
                       out),
            1);
  EXPECT_EQ(out,
            "4:1: error: CHANNEL without PROP: it is not read\n"
            "4:31: warning: units is 10 characters (20 bytes) long: it is cut to 7 when read\n"
            "4:49: warning: NAME given again (first at line 4): the last one is read\n"
            "5:38: warning: PROP given again (first at line 5): the first one is read\n");
}

TEST(ToolCheck, DaqVariablesMistakes) {
  std::string out;
  EXPECT_EQ(check(kExamples + "/chan_daqvariables.xml", &out), 0);
  EXPECT_TRUE(contains(out,
                       ":72:8: warning: property 'TS.VAC/GAUGE/G12/PRESSURE' already described at line 5: "
                       "a merge or conversion drops DAQ name 'TS.VAC.G12.P.FAST' and the rest of this channel; "
                       "reading still carries its evType over to the first description\n"))
      << out;
  EXPECT_EQ(check_text("<DAQvariables>\n<DaqBits><nexol>P</nexol><firstIndex>3</firstIndex>\n"
                       "<bitTitle bit=\"1\">a</bitTitle><bitTitle bit=\"1\">b</bitTitle><bitTitle bit=\"2\"/>\n"
                       "</DaqBits>\n</DAQvariables>\n",
                       out),
            0);
  EXPECT_TRUE(contains(out, "2:38: warning: firstIndex 3 is not read")) << out;
  EXPECT_TRUE(contains(out, "3:46: warning: bit 1 already described at line 3")) << out;
  EXPECT_TRUE(contains(out, "3:61: warning: bit 2 has no title")) << out;

  // Fields in any order, as the reader takes them, but a matrix's own
  // description before its first dimension (after it, it is the
  // dimension's); the schema agrees.
  const std::string any_order =
      "<DAQvariables>\n"
      "<DaqFloatMatrix><units>u</units><nexol>P</nexol><evType>3</evType><dimension id=\"0\"><name>x</name>"
      "</dimension><daqName>D</daqName><freq>1</freq><dimension id=\"1\"/></DaqFloatMatrix>\n"
      "<DaqBits><bitTitle bit=\"1\">a</bitTitle><nexol>Q</nexol><freq>-1</freq><evType>1</evType></DaqBits>\n"
      "</DAQvariables>\n";
  EXPECT_EQ(check_text(any_order, out), 0) << out;
  std::string err;
  if (run_command("command -v xmllint", &out, &err) == 0) {
    TempFile f(any_order);
    EXPECT_EQ(run_command("xmllint --noout --nonet --schema " + kExamples + "/../schema/daqvariables.xsd " + f.path(),
                          &out, &err),
              0)
        << err;
  }
  EXPECT_EQ(check_text("<DAQvariables>\n"
                       "<DaqFloat><daqName>x</daqName><nexol>A</nexol><daqName>y</daqName><nexol>B</nexol></DaqFloat>\n"
                       "<DaqBits><evType>1</evType></DaqBits>\n"
                       "<DaqFloatMatrix><nexol>M</nexol><dimension id=\"0\"/><units>u</units></DaqFloatMatrix>\n"
                       "</DAQvariables>\n",
                       out),
            1);
  EXPECT_TRUE(contains(out,
                       "2:47: warning: daqName given again (first at line 2): the last one is read\n"
                       "2:67: warning: nexol given again (first at line 2): the first one is read\n"
                       "3:1: error: DaqBits without nexol: it is not read\n"))
      << out;
  EXPECT_TRUE(contains(out, "error: element 'units' is not allowed")) << out;
}

TEST(ToolCheck, DictionaryMistakes) {
  const std::string long_name(100, 'X');
  std::string out;
  EXPECT_EQ(check_text("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<ENVINDEXDICT>\n"
                       "<CHANNEL><INDEX>1</INDEX><PROP>A</PROP></CHANNEL>\n"
                       "<CHANNEL><INDEX>1</INDEX><PROP>" +
                           long_name +
                           "</PROP><DABS>1e-50</DABS></CHANNEL>\n"
                           "<CHANNEL><PROP>A</PROP><INDEX>2</INDEX></CHANNEL>\n"
                           "</ENVINDEXDICT>\n",
                       out),
            1);
  EXPECT_TRUE(contains(out, "4:17: error: index 1 already used at line 3")) << out;
  EXPECT_TRUE(contains(out, "4:32: warning: property is 100 characters long: readers of the old layout cut it to 79"))
      << out;
  EXPECT_TRUE(contains(out, "4:145: warning: DABS 1e-50 is too small for a float: it reads as 0")) << out;
  EXPECT_TRUE(contains(out, "5:16: warning: property 'A' already listed at line 3")) << out;
}

// Positions count characters, not bytes, in UTF-8 documents.
TEST(ToolCheck, PositionsInUtf8) {
  std::string out;
  EXPECT_EQ(check_text("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QAL3USERTRIGGERLIST><USERTRIGGER>"
                       "<Chan name=\"\xC3\xA9t\xC3\xA9\"/><Function name=\"MEANN\"/><Operation name=\"GT\"/>"
                       "</USERTRIGGER></QAL3USERTRIGGERLIST>\n",
                       out),
            1);
  EXPECT_TRUE(contains(out, "2:69: error: function 'MEANN'")) << out;
}

TEST(ToolCheck, HardenedReading) {
  std::string out;
  // No DTD, so no entity of any kind.
  EXPECT_EQ(check_text("<?xml version=\"1.0\"?>\n<!DOCTYPE BMR [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>\n"
                       "<BMR><EVENT><TYPE>&x;</TYPE></EVENT></BMR>\n",
                       out),
            1);
  EXPECT_TRUE(contains(out, "error: document type declarations are not accepted")) << out;
  EXPECT_FALSE(contains(out, "root:")) << out;
  // A schema named by the document is not loaded: ours applies.
  EXPECT_EQ(check_text("<BMR xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                       "xsi:noNamespaceSchemaLocation=\"http://example.invalid/any.xsd\">"
                       "<EVENT><TYPE>x</TYPE></EVENT></BMR>\n",
                       out),
            1);
  EXPECT_TRUE(contains(out, "TYPE: 'x' is not an integer")) << out;
  // Not well-formed, unknown root, nothing at all.
  EXPECT_EQ(check_text("<BMR>\n<EVENT>\n</BMR>\n", out), 1);
  EXPECT_TRUE(contains(out, "3:") && contains(out, "error:")) << out;
  EXPECT_EQ(check_text("<CHANNELS/>\n", out), 1);
  EXPECT_TRUE(contains(out, "1:1: error: root element 'CHANNELS' is none of BMR")) << out;
  EXPECT_EQ(check_text("", out), 1);
  EXPECT_TRUE(contains(out, "error:")) << out;
  TempFile empty;
  EXPECT_EQ(check_json(empty.path())["files"][0]["findings"][0]["source"], "check");
  // Deep nesting is refused by the schema without harm.
  std::string deep = "<BMR>";
  for (int i = 0; i < 5000; ++i) deep += "<EVENT>";
  EXPECT_EQ(check_text(deep + "\n", out), 1);
}

// Each case ends with its expected finding (or none) within a CPU-time
// ceiling that a walk quadratic in the line length, or an expansion of the
// document, exceeds many times over; the findings stay few.
TEST(ToolCheck, CostStaysLinearInTheInput) {
  const std::string event = "<EVENT><TYPE>1</TYPE><SBLOCK>B<CHLIST><CHAN>C.1/X</CHAN></CHLIST></SBLOCK></EVENT>";
  std::string one_line = "<?xml version=\"1.0\"?><BMR>", siblings = "<BMR>\n", deep = "<BMR>";
  while (one_line.size() < (std::size_t{1} << 20)) one_line += event;
  for (int i = 0; i < 100000; ++i) siblings += "<EVENT><TYPE>1</TYPE></EVENT>\n";
  for (int i = 0; i < 100000; ++i) deep += "<EVENT>";
  const std::string entity = "<!DOCTYPE BMR [<!ENTITY e \"" + std::string(100000, 'x') + "\">]>";
  std::string refs, operations;
  for (int i = 0; i < 900; ++i) refs += "&e;";
  for (int i = 0; i < 50000; ++i) operations += "<USERTRIGGER><Operation/></USERTRIGGER>";
  const struct {
    const char* what;
    std::string doc;
    int status;
    const char* finding;  // "" for none
  } kCases[] = {
      {"one line", one_line + "</BMR>", 0, ""},
      {"siblings", siblings + "</BMR>\n", 0, ""},
      {"deep", deep, 1, "nested deeper than the limit of 256 levels"},
      {"entity in text", entity + "<BMR><EVENT><TYPE>" + refs + "</TYPE></EVENT></BMR>", 1,
       "document type declarations are not accepted"},
      {"entity in attribute", entity + "<BMR><EVENT a=\"" + refs + "\"/></BMR>", 1,
       "document type declarations are not accepted"},
      {"long text", "<BMR><EVENT><TYPE>" + std::string(std::size_t{2} << 20, '1') + "</TYPE></EVENT></BMR>", 1,
       "longer than the limit of 1048576 characters"},
      {"long name", "<BMR><EVENT><" + std::string(std::size_t{2} << 20, 'N') + "/></EVENT></BMR>", 1,
       "element name longer than the limit of 1024 characters"},
      {"attribute default",
       "<!DOCTYPE QAL3USERTRIGGERLIST [\n<!ATTLIST Operation name CDATA \"TRUE\">]>\n"
       "<QAL3USERTRIGGERLIST>" +
           operations + "</QAL3USERTRIGGERLIST>",
       1,
       ":2:1: warning: the DTD gives attribute 'name' of 'Operation' the default value \"TRUE\": every Operation "
       "element without the attribute is read as if it had name=\"TRUE\""},
      {"data after a NUL", "<BMR><EVENT><TYPE>1</TYPE></EVENT></BMR>" + std::string(1, '\0') + "<BMR/>", 1,
       "error: a NUL character after the root element ends the document before its input ends"},
  };
  for (const auto& c : kCases) {
    TempFile f(c.doc);
    std::string out;
    EXPECT_EQ(run_command("ulimit -t 60; " + kTool + " check " + f.path(), &out), c.status) << c.what << "\n" << out;
    EXPECT_TRUE(contains(out, c.finding)) << c.what << "\n" << out;
    EXPECT_LE(std::count(out.begin(), out.end(), '\n'), 3) << c.what << "\n" << out;
  }
}

TEST(ToolCheck, CommandLine) {
  std::string out, err;
  EXPECT_EQ(check("--help", &out), 0);
  EXPECT_TRUE(contains(out, "Usage: qal3 check") && contains(out, "Exit status:"));
  EXPECT_EQ(check("", &out, &err), 2);
  EXPECT_EQ(check("--frobnicate " + kExamples + "/triggers.xml", &out, &err), 2);
  EXPECT_EQ(check("--known " + kExamples + "/triggers.xml", &out, &err), 2);  // the file taken as the names
  EXPECT_EQ(check("--known A,,B " + kExamples + "/triggers.xml", &out, &err), 2);
  EXPECT_EQ(check("/nonexistent/x.xml", &out, &err), 1);
  EXPECT_TRUE(contains(err, "qal3: /nonexistent/x.xml: No such file or directory")) << err;
  EXPECT_EQ(out, "");
  // Several files, standard input among them.
  EXPECT_EQ(run_command("cat " + kExamples + "/evlist_multi.xml | " + kTool + " check " + kExamples + "/triggers.xml -",
                        &out, &err),
            1);
  EXPECT_TRUE(contains(out, "<stdin>:15:9: error: event type 40")) << out;
  // --strict reports warnings as errors.
  EXPECT_EQ(check("--strict " + kExamples + "/chan_descriptions.xml", &out), 1);
  EXPECT_TRUE(contains(out, ":83:7: error: property")) << out;
  // -q: only the exit status tells; GNU forms of --known.
  EXPECT_EQ(check("-q " + kExamples + "/evlist_multi.xml", &out, &err), 1);
  EXPECT_EQ(out + err, "");
  TempFile own(
      "<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\"/><Function name=\"SITEFN\"/>"
      "<Operation name=\"SITEOP\"/></USERTRIGGER></QAL3USERTRIGGERLIST>\n");
  EXPECT_EQ(check(own.path(), &out), 1);
  EXPECT_EQ(check("--known=SITEFN,SITEOP " + own.path(), &out), 0) << out;
  EXPECT_EQ(check(own.path() + " --known SITEOP,SITEFN", &out), 0) << out;
  // The findings are data: a failed write of them is an error, said so.
  EXPECT_EQ(run_command("{ " + kTool + " check --json " + kExamples + "/triggers.xml >/dev/full; }", &out, &err), 1);
  EXPECT_TRUE(contains(err, "qal3: <stdout>: ")) << err;
}

// The schemas are the library's own: a tool moved without any schema file
// checks as before.
TEST(ToolCheck, SchemasNeedNoFile) {
  char tmpl[] = "/tmp/qal3-moved-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string moved = dir + "/bin/qal3";
  ASSERT_EQ(testutil::run_command("mkdir " + dir + "/bin && cp " + std::string(QAL3_TOOL_PATH) + " " + moved), 0);
  // The moved tool finds the libraries of the build where it found them before.
  const std::string built = std::string(QAL3_TOOL_PATH).substr(0, std::string(QAL3_TOOL_PATH).rfind('/'));
  const std::string run = "LD_LIBRARY_PATH=" + built + "/..:" + built + "/../lib " + testutil::program_command(moved);
  std::string out, err;
  EXPECT_EQ(testutil::run_command(run + " check " + kExamples + "/triggers.xml", &out, &err), 0) << out << err;
  testutil::run_command("rm -rf " + dir);
}

TEST(ToolCheck, Json) {
  const nlohmann::json j = check_json(kExamples + "/evlist_multi.xml " + kExamples + "/triggers.xml");
  ASSERT_EQ(j["files"].size(), 2u);
  EXPECT_EQ(j["errors"], 1);
  EXPECT_EQ(j["warnings"], 0);
  const auto& first = j["files"][0];
  EXPECT_EQ(first["root"], "BMR");
  ASSERT_EQ(first["findings"].size(), 1u);
  EXPECT_EQ(first["findings"][0]["line"], 15);
  EXPECT_EQ(first["findings"][0]["column"], 9);
  EXPECT_EQ(first["findings"][0]["severity"], "error");
  EXPECT_EQ(first["findings"][0]["source"], "check");
  EXPECT_TRUE(j["files"][1]["findings"].empty());
  // A file that cannot be read counts as an error.
  EXPECT_EQ(check_json(kExamples + "/triggers.xml /nonexistent/x.xml")["errors"], 1);
}

// The commands that convert or merge say what they drop; --strict makes it
// fatal, and nothing is written then.
TEST(ToolCheck, ConvertersWarnAndStrictFails) {
  std::string out, err;
  TempFile target;
  EXPECT_EQ(
      run_command(kTool + " chan convert --to daqvars -o " + target.path() + " " + kExamples + "/chan_descriptions.xml",
                  &out, &err),
      0);
  EXPECT_TRUE(contains(err, "chan_descriptions.xml:83:7: warning: property") && contains(err, "'TS.Q3.I.UPD'")) << err;
  const std::string none = target.path() + ".none";
  EXPECT_EQ(
      run_command(kTool + " chan merge --strict -o " + none + " " + kExamples + "/chan_descriptions.xml", &out, &err),
      1);
  EXPECT_TRUE(contains(err, ":83:7: error: property")) << err;
  EXPECT_TRUE(testutil::read_file(none).empty());
  EXPECT_EQ(run_command(kTool + " trigger convert --strict -o " + none + " " + kExamples + "/triggers.xml", &out, &err),
            0);
  std::remove(none.c_str());
  TempFile bad(
      "<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\"/><Function name=\"MEANN\"/>"
      "<Operation name=\"GT\"/></USERTRIGGER></QAL3USERTRIGGERLIST>\n");
  EXPECT_EQ(run_command(kTool + " trigger convert --strict -o " + none + " " + bad.path(), &out, &err), 1);
  EXPECT_TRUE(contains(err, "error: function 'MEANN'")) << err;
  EXPECT_TRUE(testutil::read_file(none).empty());
  TempFile dict(
      "<ENVINDEXDICT><CHANNEL><INDEX>1</INDEX><PROP>A</PROP></CHANNEL>"
      "<CHANNEL><INDEX>1</INDEX><PROP>B</PROP></CHANNEL></ENVINDEXDICT>\n");
  EXPECT_EQ(run_command(kTool + " envdict --xml " + none + " " + dict.path(), &out, &err), 0);
  EXPECT_TRUE(contains(err, "warning: index 1 already used at line 1")) << err;
  std::remove(none.c_str());
  EXPECT_EQ(run_command(kTool + " envdict --strict --xml " + none + " " + dict.path(), &out, &err), 1);
  EXPECT_TRUE(testutil::read_file(none).empty());
  // --strict is about conversions only.
  EXPECT_EQ(run_command(kTool + " envdict --strict " + dict.path(), &out, &err), 2);
  EXPECT_EQ(run_command(kTool + " envdict --strict --check " + dict.path(), &out, &err), 2);
}

// Standard input is checked too, under its message name; -q silences the
// warnings but not the errors of --strict, and an existing output is kept
// when --strict fails.
TEST(ToolCheck, ConverterWarningsOnStandardInputAndQuiet) {
  const std::string chan = kExamples + "/chan_descriptions.xml";
  std::string out, err;
  EXPECT_EQ(run_command(kTool + " chan merge - < " + chan, &out, &err), 0);
  EXPECT_TRUE(contains(err, "<stdin>:83:7: warning: property")) << err;
  EXPECT_TRUE(contains(out, "<CHANDESCRIPTIONS")) << out;
  EXPECT_EQ(run_command(kTool + " chan convert -q --to daqvars - < " + chan, &out, &err), 0);
  EXPECT_EQ(err, "");
  TempFile kept("old contents\n");
  EXPECT_EQ(run_command(kTool + " chan convert -q --strict --to daqvars -o " + kept.path() + " " + kExamples +
                            "/chan_daqvariables.xml - < " + chan,
                        &out, &err),
            1);
  EXPECT_TRUE(contains(err, "<stdin>:83:7: error: property")) << err;
  EXPECT_EQ(kept.read(), "old contents\n");
  EXPECT_EQ(out, "");
  TempFile bad(
      "<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\"/><Function name=\"MEANN\"/>"
      "<Operation name=\"GT\"/></USERTRIGGER></QAL3USERTRIGGERLIST>\n");
  EXPECT_EQ(run_command(kTool + " trigger convert --to text - < " + bad.path(), &out, &err), 0);
  EXPECT_TRUE(contains(err, "<stdin>:1:") && contains(err, "warning: function 'MEANN'")) << err;
  // Commands that only print do not warn.
  EXPECT_EQ(run_command(kTool + " chan print " + chan, &out, &err), 0);
  EXPECT_FALSE(contains(err, "warning")) << err;
}
