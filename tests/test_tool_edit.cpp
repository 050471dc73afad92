// qal3 trigger|chan|envdict set|add|drop: each edit changes only its own
// bytes, reads back, passes check, and a refused edit changes nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"

using testutil::run_command;
using testutil::TempFile;

namespace {

const std::string kTool = testutil::tool_command();

// Hand-written documents: comments, odd layout, spellings the writers do not
// use (start="2", 0.25, an element left out).
const std::string kTriggers =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n"
    "<QAL3USERTRIGGERLIST>\n"
    "  <isodate>2026-01-02T03:04:05</isodate>\n"
    "  <!-- the mean -->\n"
    "  <USERTRIGGER>\n"
    "    <Chan name=\"A/B\" subchan=\"0\"/>\n"
    "    <Function name=\"MEAN\" start=\"2\" end=\"5\"/>\n"
    "    <Operation name=\"INSIDE\"/>\n"
    "    <LowLimit value=\"0.25\"/>\n"
    "    <UpperLimit value=\"3.5\"/>\n"
    "  </USERTRIGGER>\n"
    "  <!-- the peak -->\n"
    "  <USERTRIGGER>\n"
    "    <Chan name=\"A/B\" subchan=\"1\"/>\n"
    "    <Function name=\"MAX\"/>\n"
    "    <Operation name=\"GT\"/>\n"
    "    <UpperLimit value=\"5\"/>\n"
    "  </USERTRIGGER>\n"
    "</QAL3USERTRIGGERLIST>\n";

const std::string kChan =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n"
    "<!-- two channels -->\n"
    "<CHANDESCRIPTIONS>\n"
    "<CHANNEL>\n<PROP>X/Y</PROP>\n<NAME>XY</NAME>\n<UNITS>mm</UNITS>\n<SIZE>1</SIZE>\n</CHANNEL>\n"
    "<CHANNEL>\n<PROP>X/Z</PROP>\n<NAME>XZ</NAME>\n</CHANNEL>\n"
    "</CHANDESCRIPTIONS>\n";

const std::string kDict =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n"
    "<ENVINDEXDICT>\n"
    "<isodate>2024-03-18T09:30:00</isodate>\n"
    "<CHANNEL><INDEX>1</INDEX><PROP>T/1</PROP><DABS>0.1</DABS></CHANNEL>\n"
    "<!-- keep me -->\n"
    "<CHANNEL><INDEX>2</INDEX><PROP>T/2</PROP></CHANNEL>\n"
    "</ENVINDEXDICT>\n";

const std::string kDaq =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n"
    "<DAQvariables>\n<DaqFloat><nexol>X/Y</nexol><units>mm</units></DaqFloat>\n</DAQvariables>\n";

// `text` with each (from, to) replaced once, in order.
std::string replaced(std::string text, const std::vector<std::pair<std::string, std::string>>& changes) {
  for (const auto& [from, to] : changes) {
    const std::size_t at = text.find(from);
    if (at == std::string::npos) return "(no '" + from + "' in the document)";
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace

// `text` with its line ends as CR LF.
std::string crlf(std::string text) {
  for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) text.insert(at, "\r");
  return text;
}

TEST(ToolEdit, ChangesOnlyTheBytesOfTheEdit) {
  const struct {
    const std::string& doc;
    std::string command;  // "trigger set SELECTOR FIELD=VALUE": FILE goes after the command's two words
    std::vector<std::pair<std::string, std::string>> changes;
    bool crlf = false;  // the document's and the changes' lines end with CR LF
  } cases[] = {
      {kTriggers,
       "trigger set 1 upper=4 start=1.5",
       {{"start=\"2\"", "start=\"1.500000\""}, {"value=\"3.5\"", "value=\"4.000000\""}}},
      {kTriggers,
       "trigger set channel=A/B,subchannel=1 low=1 function=MIN",
       {{"\"MAX\"", "\"MIN\""},
        {"    <Operation name=\"GT\"/>\n", "    <Operation name=\"GT\"/>\n    <LowLimit value=\"1.000000\"/>\n"}}},
      {kTriggers,
       "trigger set --all channel=A/B group=beam",
       {{"value=\"3.5\"/>\n", "value=\"3.5\"/>\n    <Group name=\"beam\"/>\n"},
        {"value=\"5\"/>\n", "value=\"5\"/>\n    <Group name=\"beam\"/>\n"}}},
      {kTriggers,
       "trigger set 2 'description=caf\xc3\xa9&<'",
       {{"    <UpperLimit value=\"5\"/>\n  </",
         "    <UpperLimit value=\"5\"/>\n    <Description text=\"caf&#233;&amp;&lt;\"/>\n  </"}}},
      {kTriggers,
       "trigger drop 1",
       {{"  <USERTRIGGER>\n    <Chan name=\"A/B\" subchan=\"0\"/>\n    <Function name=\"MEAN\" start=\"2\" "
         "end=\"5\"/>\n"
         "    <Operation name=\"INSIDE\"/>\n    <LowLimit value=\"0.25\"/>\n    <UpperLimit value=\"3.5\"/>\n"
         "  </USERTRIGGER>\n",
         ""}}},
      {kTriggers,
       "trigger add channel=C/D operation=LT upper=2",
       {{"  </USERTRIGGER>\n</Q",
         "  </USERTRIGGER>\n  <USERTRIGGER>\n    <Chan name=\"C/D\"/>\n    <Function name=\"MEAN\"/>\n"
         "    <Operation name=\"LT\"/>\n"
         "    <UpperLimit value=\"2.000000\"/>\n  </USERTRIGGER>\n</Q"}}},
      {kTriggers, "trigger set 1 group=g", {{"value=\"3.5\"/>\n", "value=\"3.5\"/>\n    <Group name=\"g\"/>\n"}}, true},
      {kChan,
       "chan set prop_name=X/Z units=V daq_name=XZ2",
       {{"<NAME>XZ</NAME>", "<NAME>XZ2</NAME>\n<UNITS>V</UNITS>"}}},
      {kChan, "chan set 1 units=", {{"<UNITS>mm</UNITS>", "<UNITS></UNITS>"}}},
      {kChan,
       "chan drop prop_name=X/Y",
       {{"<CHANNEL>\n<PROP>X/Y</PROP>\n<NAME>XY</NAME>\n<UNITS>mm</UNITS>\n<SIZE>1</SIZE>\n</CHANNEL>\n", ""}}},
      {kChan,
       "chan add prop_name=N/P",
       {{"</CHANNEL>\n</C", "</CHANNEL>\n<CHANNEL>\n<PROP>N/P</PROP>\n</CHANNEL>\n</C"}}},
      {kDaq, "chan set 1 units=V", {{"<units>mm</units>", "<units>V</units>"}}},
      {kDict,
       "envdict set index=1 env_ch_abs_delta=0.5 env_prop=T/9",
       {{"<PROP>T/1</PROP><DABS>0.1</DABS>", "<PROP>T/9</PROP><DABS>0.500000</DABS>"}}},
      {kDict, "envdict drop 2", {{"<CHANNEL><INDEX>2</INDEX><PROP>T/2</PROP></CHANNEL>\n", ""}}},
      {kDict,
       "envdict add index=3 env_prop=T/3",
       {{"</CHANNEL>\n</E", "</CHANNEL>\n<CHANNEL><INDEX>3</INDEX><PROP>T/3</PROP></CHANNEL>\n</E"}}},
  };
  for (const auto& c : cases) {
    const std::string doc = c.crlf ? crlf(c.doc) : c.doc;
    auto changes = c.changes;
    for (auto& [from, to] : changes)
      if (c.crlf) from = crlf(from), to = crlf(to);
    TempFile f(doc);
    const std::size_t space = c.command.find(' ', c.command.find(' ') + 1);
    const std::string args = c.command.substr(0, space) + " " + f.path() + c.command.substr(space);
    std::string out, err;
    EXPECT_EQ(run_command(kTool + " " + args, &out, &err), 0) << c.command << ": " << err;
    EXPECT_EQ(out, replaced(doc, changes)) << c.command;
    // In place, the same bytes; and check accepts the result.
    EXPECT_EQ(run_command(kTool + " " + c.command.substr(0, space) + " -i " + f.path() + c.command.substr(space),
                          nullptr, &err),
              0)
        << c.command;
    EXPECT_EQ(f.read(), out) << c.command;
    EXPECT_EQ(run_command(kTool + " check " + f.path(), nullptr, &err), 0) << c.command << ": " << err;
  }
}

TEST(ToolEdit, RefusesAndChangesNothing) {
  const std::string repeated =  // the writer leaves the second X/Y out
      "<CHANDESCRIPTIONS>\n<CHANNEL><PROP>X/Y</PROP></CHANNEL>\n<CHANNEL><PROP>X/Y</PROP></CHANNEL>\n"
      "</CHANDESCRIPTIONS>\n";
  const std::string broken = kTriggers.substr(0, kTriggers.size() / 2);
  const struct {
    std::string command;  // as above
    const char* message;  // part of standard error
    int status;
    const std::string& doc = kTriggers;
  } cases[] = {
      {"trigger set 3 low=1", "no record 3: the document holds 2", 1},
      {"trigger set channel=A/B low=1", "2 records match channel=A/B", 1},
      {"trigger set channel=Q/Q low=1", "no record matches channel=Q/Q", 1},
      {"trigger set 1 low=1e40", ":5:3: low: '1e40' is beyond what a float holds", 1},
      {"trigger set 1 function=NOPE", "no function is named 'NOPE'", 1},
      {"trigger set 1 nofield=2", "no field is named 'nofield'", 1},
      {"trigger set 1 subchannel=x", "'x' is not a whole number", 1},
      {"trigger set 1 time=5", "a document does not hold time", 1},
      {"trigger set 0 low=1", "neither a position", 1},
      {"trigger set 1 low", "'low' is no FIELD=VALUE", 1},
      {"trigger set 1", "give FILE SELECTOR FIELD=VALUE", 2},
      {"chan set 1 low=1", "not a document this command edits", 1},
      {"chan set 2 units=V", "the writer writes 1 of the 2 records", 1, repeated},
      {"trigger set 1 low=1", "cannot be read", 1, broken},
      {"chan set 1 stream=3", "DAQvariables cannot hold stream: 1 channel loses it", 1, kDaq},
  };
  for (const auto& c : cases) {
    TempFile f(c.doc);
    const std::size_t space = c.command.find(' ', c.command.find(' ') + 1);
    const std::string args =
        c.command.substr(0, space) + " -i " + f.path() + (space == std::string::npos ? "" : c.command.substr(space));
    std::string err;
    EXPECT_EQ(run_command(kTool + " " + args, nullptr, &err), c.status) << c.command;
    EXPECT_NE(err.find(c.message), std::string::npos) << c.command << ": " << err;
    EXPECT_EQ(f.read(), c.doc) << c.command;
  }
}
