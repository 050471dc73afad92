// qal3 trigger: registry listing, print, convert and test.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qal3.hpp"
#include "test_util.h"
#include "user_case_trigger.h"

using testutil::run_command;
using testutil::TempFile;

namespace {

const std::string kTool = testutil::tool_command();
const std::string kTriggers = std::string(QAL3_EXAMPLES_DIR) + "/triggers.xml";
const std::string kSpectrum = std::string(QAL3_EXAMPLES_DIR) + "/spectrum.txt";

int trigger(const std::string& args, std::string* out, std::string* err = nullptr) {
  return run_command(kTool + " trigger " + args, out, err);
}

struct OwnedList {
  qal3::List<qal3_user_case_trigger> owned;
  std::vector<qal3_user_case_trigger*>& v = owned.records();
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const char kTwoTriggers[] =
    "<QAL3USERTRIGGERLIST>\n"
    "<USERTRIGGER><Chan name=\"S\"/><Function name=\"SUM\" start=\"0\" end=\"-1\"/>"
    "<Operation name=\"GTE\"/><UpperLimit value=\"9\"/></USERTRIGGER>\n"
    "<USERTRIGGER><Chan name=\"T\"/><Function name=\"DIFFVALUE\" position=\"11\"/>"
    "<Operation name=\"TRUE\"/></USERTRIGGER>\n"
    "</QAL3USERTRIGGERLIST>\n";

}  // namespace

TEST(ToolTrigger, HelpAndUsage) {
  std::string out, err;
  for (const char* action : {"", "registry ", "print ", "convert ", "test "}) {
    EXPECT_EQ(trigger(std::string(action) + "--help", &out), 0) << action;
    EXPECT_TRUE(contains(out, "Usage: qal3 trigger")) << action;
  }
  EXPECT_EQ(trigger("test --help", &out), 0);
  EXPECT_TRUE(contains(out, "Spectrum file format"));
  EXPECT_EQ(trigger("", &out, &err), 2);
  EXPECT_EQ(trigger("frobnicate", &out, &err), 2);
  EXPECT_TRUE(contains(err, "unknown action 'frobnicate'"));
  for (const std::string& bad : std::vector<std::string>{
           "print", "convert --to html " + kTriggers, "test " + kTriggers, "test " + kTriggers + " --value 1,x",
           "test " + kTriggers + " --slow v", "registry --functions --operations"})
    EXPECT_EQ(trigger(bad, &out, &err), 2) << bad;
}

TEST(ToolTrigger, Registry) {
  std::string out;
  ASSERT_EQ(trigger("registry", &out), 0);
  EXPECT_TRUE(contains(out, "Functions:\n"));
  EXPECT_TRUE(contains(out, "Operations:\n"));
  EXPECT_TRUE(contains(out, "   2  MEAN : mean value    in a spectrum/image   parameters 0:start(usec)"));
  EXPECT_TRUE(contains(out, "  12  BITS : (result & bitmask) - at least one bit present\n"));
  EXPECT_FALSE(contains(out, "FUNC16"));
  ASSERT_EQ(trigger("registry --operations --all", &out), 0);
  EXPECT_FALSE(contains(out, "Functions:"));
  EXPECT_TRUE(contains(out, "  31  OP31 : undefined\n"));
  // --json gives the help as the Python module does: the name is a field of
  // its own, and free slots say so.
  ASSERT_EQ(trigger("registry --json --all", &out), 0);
  EXPECT_TRUE(contains(out, "\"help\": \"mean value    in a spectrum/image")) << out;
  EXPECT_TRUE(contains(out, "\"free\": true,\n      \"help\": \"undefined\",\n      \"name\": \"OP31\"")) << out;
}

TEST(ToolTrigger, PrintAndConvert) {
  std::string out, err;
  ASSERT_EQ(trigger("print " + kTriggers, &out), 0);
  EXPECT_TRUE(contains(out, "-------------- 4 -----------------\n Channel: VAC/Status\tsubchannel: 0\n"));
  EXPECT_TRUE(contains(out, " Low: 2.5\tUpper: 3.5\n"));

  // XML to a file reads back to the same definitions, escaped texts included.
  TempFile converted;
  ASSERT_EQ(trigger("convert -o " + converted.path() + " " + kTriggers, &out), 0);
  OwnedList original, back;
  ASSERT_FALSE(parse_trigger_list_readf(const_cast<char*>(kTriggers.c_str()), &original.v));
  ASSERT_FALSE(parse_trigger_list_readf(converted.c_path(), &back.v));
  ASSERT_EQ(original.v.size(), 4u);
  ASSERT_EQ(back.v.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_TRUE(QAL3_USER_THESAME(original.v[i], back.v[i])) << i;
  EXPECT_STREQ(back.v[0]->description, "Mean current in the \"bunch\" window & nothing else");

  // XML and text on standard output; standard input as the source.
  ASSERT_EQ(trigger("convert - < " + converted.path(), &out), 0);
  EXPECT_EQ(out.rfind("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<QAL3USERTRIGGERLIST>\n", 0), 0u);
  ASSERT_EQ(trigger("convert --to text " + kTriggers, &out), 0);
  EXPECT_EQ(out.rfind("BEAM/Current\t0\tMEAN\n[0]:2.000000\t", 0), 0u);
  EXPECT_TRUE(contains(out, "INSIDE\n2.500000\t3.500000\t0x0\n"));

  ASSERT_EQ(trigger("convert -o /nonexistent/dir/out.xml " + kTriggers, &out, &err), 1);
  EXPECT_TRUE(contains(err, "/nonexistent/dir/out.xml"));
}

// A document's control characters (C0, DEL, C1) reach no terminal: the
// listing, the test lines and the messages show them escaped. A NaN result
// is "nan", whatever its sign bit.
TEST(ToolTrigger, ControlCharactersAndNaNAreShownAsText) {
  TempFile list(
      "<?xml version=\"1.1\"?><QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"&#27;[2J&#x9b;x&#127;\"/>"
      "<Function name=\"VALUE\"/><Operation name=\"TRUE\"/></USERTRIGGER></QAL3USERTRIGGERLIST>");
  const std::string shown = "\\x1b[2J\\u009bx\\x7f";
  std::string out, err;
  ASSERT_EQ(trigger("print " + list.path(), &out), 0);
  EXPECT_TRUE(contains(out, " Channel: " + shown + "\tsubchannel: 0\n")) << out;
  ASSERT_EQ(trigger("test " + list.path() + " --value -nan", &out), 0);
  EXPECT_TRUE(contains(out, "1\t1\t" + shown + "\t0\tVALUE\tnan\tTRUE\tfires\n")) << out;
  EXPECT_EQ(trigger("test " + list.path() + " --value '\x1b[2J'", &out, &err), 2);
  EXPECT_TRUE(contains(err, "--value: not a number: '\\x1b[2J'")) << err;
}

TEST(ToolTrigger, BadTriggerListNamesTheFile) {
  TempFile wrong("<CHANDESCRIPTIONS/>");
  std::string out, err;
  EXPECT_EQ(trigger("print " + wrong.path(), &out, &err), 1);
  EXPECT_TRUE(contains(err, "WRONG root tag: 'CHANDESCRIPTIONS' must be 'QAL3USERTRIGGERLIST'"));
  EXPECT_TRUE(contains(err, "qal3: " + wrong.path() + ": trigger list not read"));
  EXPECT_EQ(trigger("test /nonexistent.xml --value 1", &out, &err), 1);
}

TEST(ToolTrigger, TestOnExampleSpectrumAndValues) {
  std::string out;
  ASSERT_EQ(trigger("test " + kTriggers + " --spectrum " + kSpectrum + " --value 5 --spectrum " + kSpectrum, &out), 0);
  EXPECT_TRUE(contains(out, "1\t1\tBEAM/Current\t0\tMEAN\t3\tINSIDE\tfires\n"));
  EXPECT_TRUE(contains(out, "1\t2\tBEAM/Current\t1\tP2P\t6\tGT\tfires\n"));
  EXPECT_TRUE(contains(out, "1\t3\tBEAM/Current\t0\tDIFFMAX\t-\tOUTSIDE\tfirst event\n"));
  EXPECT_TRUE(contains(out, "1\t4\tVAC/Status\t0\tVALUE\t0\tBITS\tdoes not fire\n"));
  EXPECT_TRUE(contains(out, "2\t2\tBEAM/Current\t1\tP2P\t-\tGT\tno result\n"));
  EXPECT_TRUE(contains(out, "2\t3\tBEAM/Current\t0\tDIFFMAX\t-4\tOUTSIDE\tfires\n"));
  EXPECT_TRUE(contains(out, "2\t4\tVAC/Status\t0\tVALUE\t5\tBITS\tfires\n"));
  EXPECT_TRUE(contains(out, "3\t3\tBEAM/Current\t0\tDIFFMAX\t4\tOUTSIDE\tfires\n"));

  ASSERT_EQ(trigger("test --channel VAC/Status " + kTriggers + " --slow VAC/Status=2,other=4", &out), 0);
  EXPECT_TRUE(contains(out, "1\t4\tVAC/Status\t0\tVALUE\t2\tBITS\tdoes not fire\n"));
  EXPECT_FALSE(contains(out, "BEAM/Current"));
}

TEST(ToolTrigger, TestSpectrumFormat) {
  TempFile list(kTwoTriggers);
  TempFile spectrum("# two subchannels\n10 0.5  # axis\n1 2 3\n\t4\n--\n0 1\n7 8\n", ".txt");
  std::string out, err;
  ASSERT_EQ(
      trigger("test " + list.path() + " --spectrum " + spectrum.path() + " --spectrum " + spectrum.path(), &out, &err),
      0)
      << err;
  // SUM of subchannel 0 over the whole axis: 1 + 2 + 3 + 4.
  EXPECT_TRUE(contains(out, "1\t1\tS\t0\tSUM\t10\tGTE\tfires\n"));
  // VALUE at position 11 is sample 2 (value 3) on subchannel 0's axis.
  EXPECT_TRUE(contains(out, "1\t2\tT\t0\tDIFFVALUE\t-\tTRUE\tfirst event\n"));
  EXPECT_TRUE(contains(out, "2\t2\tT\t0\tDIFFVALUE\t0\tTRUE\tfires\n"));

  TempFile bad("0 1\n1 2 x3\n", ".txt");
  EXPECT_EQ(trigger("test " + list.path() + " --spectrum " + bad.path(), &out, &err), 1);
  EXPECT_TRUE(contains(err, bad.path() + ": line 2: not a number: 'x3'"));
  TempFile no_axis("0 1\n1 2\n--\n5\n", ".txt");
  EXPECT_EQ(trigger("test " + list.path() + " --spectrum " + no_axis.path(), &out, &err), 1);
  EXPECT_TRUE(contains(err, "subchannel 1 has no axis start and increment"));
  EXPECT_EQ(trigger("test " + list.path() + " --spectrum /nonexistent.txt", &out, &err), 1);
  EXPECT_TRUE(contains(err, "/nonexistent.txt"));
}

// --events: one spectrum a line, text or CSV, replayed in order so that a
// DIFF function sees each event's predecessor; a summary per trigger.
TEST(ToolTrigger, TestReplaysAFileOfEvents) {
  TempFile list(kTwoTriggers);
  TempFile text("# run 7\n10 0.5 1 2 3 4\n\n10 0.5\t1 2 5 4\n", ".txt");
  TempFile csv("start,increment,s0,s1,s2,s3\n10,0.5,1,2,3,4\n10, 0.5, 1,2,5,4\n", ".CSV");
  for (const TempFile* events : {&text, &csv}) {
    std::string out, err;
    ASSERT_EQ(trigger("test " + list.path() + " --events " + events->path(), &out, &err), 0) << err;
    for (const char* line : {"1\t1\tS\t0\tSUM\t10\tGTE\tfires\n", "1\t2\tT\t0\tDIFFVALUE\t-\tTRUE\tfirst event\n",
                             "2\t2\tT\t0\tDIFFVALUE\t2\tTRUE\tfires\n",
                             "# trigger 1 (S SUM GTE): fires in 2 of 2 events\n"
                             "# trigger 2 (T DIFFVALUE TRUE): fires in 1 of 2 events\n"})
      EXPECT_TRUE(contains(out, line)) << events->path() << "\n" << out;
  }
  std::string out, err;
  ASSERT_EQ(trigger("test --json " + list.path() + " --events " + csv.path(), &out, &err), 0) << err;
  std::vector<std::string> records;
  for (std::size_t at = 0, nl; (nl = out.find('\n', at)) != std::string::npos; at = nl + 1)
    records.push_back(out.substr(at, nl - at));
  ASSERT_EQ(records.size(), 5u) << out;
  EXPECT_TRUE(contains(records[3], "\"event\":2") && contains(records[3], "\"result\":2.0")) << records[3];
  EXPECT_EQ(records[4],
            "{\"summary\":[{\"events\":2,\"fires\":2,\"trigger\":1},{\"events\":2,\"fires\":1,"
            "\"trigger\":2}]}");
  // --plot draws the chosen event only.
  TempFile svg("", ".svg");
  ASSERT_EQ(trigger("test " + list.path() + " --events " + text.path() + " --plot " + svg.path() + " --plot-event 2",
                    &out, &err),
            0)
      << err;
  EXPECT_TRUE(contains(svg.read(), "event 2, trigger 2") && !contains(svg.read(), "event 1, trigger"));
  struct Bad {
    std::string args, message;
    int status;
  };
  TempFile bad("0 1 2\n1 x\n", ".txt");
  TempFile binary(std::string("\x93NUMPY\x01\x00v\x00{'descr': '<f4'}\n", 27), ".npy");
  TempFile unnamed("channel,start,inc,s0\nS,0,1,2\n,0,1,3\n", ".csv");
  const Bad bads[] = {
      {"--events " + binary.path(), binary.path() + ": line 1: not a text events file", 1},
      {"--events " + unnamed.path(), unnamed.path() + ": line 3: no channel name", 1},
      {"--recording " + text.path(), text.path() + ": not a recording", 1},
      {"--value 1 --start 2", "--start and --inc are the axes of a --recording's spectra", 2},
      {"--events " + bad.path(), bad.path() + ": line 2: not a number: 'x'", 1},
      {"--events " + text.path() + " --plot " + svg.path() + " --plot-event 3", "no event 3 to draw: there are 2", 1},
      {"--events " + text.path() + " --plot-event x", "--plot-event: not an event number: 'x'", 2},
      {"--events " + text.path() + " --value 1", "--events and --recording take one file, and no other event", 2},
      {"--events /nonexistent.txt", "/nonexistent.txt: No such file or directory", 1},
  };
  for (const Bad& b : bads) {
    EXPECT_EQ(trigger("test " + list.path() + " " + b.args, &out, &err), b.status) << b.args;
    EXPECT_TRUE(contains(err, b.message)) << b.args << "\n" << err;
  }
}

// --plot: one panel per trigger evaluated on a spectrum, valid SVG that a
// renderer turns into a picture.
TEST(ToolTrigger, PlotOfTheExamplePulse) {
  TempFile svg("", ".svg");
  std::string out, err;
  ASSERT_EQ(trigger("test " + std::string(QAL3_EXAMPLES_DIR) + "/plot_triggers.xml --spectrum " +
                        std::string(QAL3_EXAMPLES_DIR) + "/plot_spectrum.txt --value 1 --plot " + svg.path(),
                    &out, &err),
            0)
      << err;
  const std::string doc = svg.read();
  EXPECT_EQ(run_command("xmllint --noout " + svg.path(), &out, &err), 0) << err;
  // Three panels (the name/value event draws none), with what each shows.
  std::size_t panels = 0;
  for (std::size_t at = 0; (at = doc.find("<g class=\"panel\"", at)) != std::string::npos; ++at) ++panels;
  EXPECT_EQ(panels, 3u);
  for (const char* part : {"time (\u00b5s)", "sample value", "event 1, trigger 2: P2P of BEAM/Current", ">FIRES<",
                           ">does not fire<", "read: 12 to 27.5 \u00b5s", "set: 12 to 28 \u00b5s, step 2",
                           "step 2 samples, 16 samples read", "sample read: 16 at 8 \u00b5s", "P2P = 0.154", "UL 0.1",
                           "LL 0.95", "result &lt; LL 0.95 or &gt; UL 1.05", "samples: 80"})
    EXPECT_TRUE(contains(doc, part)) << part;
  const std::string png = svg.path() + ".png";
  const int rendered = run_command("rsvg-convert -o " + png + " " + svg.path(), &out, &err);
  std::remove(png.c_str());
  EXPECT_EQ(rendered, 0) << err;  // rsvg-convert: Debian librsvg2-bin
}

TEST(ToolTrigger, PlotEdgeCases) {
  std::string out, err;
  // Markup in names is escaped; a failed function draws no window.
  TempFile list(
      "<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"A&lt;B&amp;&quot;C\"/>"
      "<Function name=\"MEAN\" start=\"5\" end=\"1\"/><Operation name=\"INSIDE\"/>"
      "<LowLimit value=\"1\"/><UpperLimit value=\"2\"/></USERTRIGGER></QAL3USERTRIGGERLIST>\n");
  TempFile flat("0 1\n3 3 3 nan 3\n", ".txt");
  TempFile svg("", ".svg");
  ASSERT_EQ(trigger("test " + list.path() + " --spectrum " + flat.path() + " --plot " + svg.path(), &out, &err), 0);
  const std::string doc = svg.read();
  EXPECT_EQ(run_command("xmllint --noout " + svg.path(), &out, &err), 0) << err;
  EXPECT_TRUE(contains(doc, "A&lt;B&amp;&quot;C")) << doc;
  EXPECT_TRUE(contains(doc, "read: no sample"));
  EXPECT_TRUE(contains(doc, ">no result<"));
  EXPECT_FALSE(contains(doc, "nan")) << doc;
  // An output that cannot be written fails; nothing is left behind.
  EXPECT_EQ(
      trigger("test " + list.path() + " --spectrum " + flat.path() + " --plot /nonexistent/dir/p.svg", &out, &err), 1);
  EXPECT_TRUE(contains(err, "/nonexistent/dir/p.svg")) << err;
  // The table owns standard output: '--plot -' is refused.
  EXPECT_EQ(trigger("test " + list.path() + " --spectrum " + flat.path() + " --plot -", &out, &err), 2);
  EXPECT_EQ(trigger("test " + list.path() + " --spectrum " + flat.path() + " --plot=", &out, &err), 2);
  // Without a spectrum there is nothing to draw, and the picture says so.
  ASSERT_EQ(trigger("test " + list.path() + " --value 1 --plot=" + svg.path(), &out, &err), 0);
  EXPECT_TRUE(contains(svg.read(), "no trigger was evaluated on a spectrum"));
}
