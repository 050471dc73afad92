// The qal3 tool: the envdict command.
#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace {

const std::string kTool = testutil::tool_command();
const std::string kDict = std::string(QAL3_EXAMPLES_DIR) + "/envdict.xml";

std::string run(const std::string& args, int* status, std::string* err = nullptr) {
  std::string out, e;
  *status = testutil::run_command(kTool + " envdict " + args, &out, &e);
  if (err) *err = e;
  return out;
}

TEST(ToolEnvdict, ListsConvertsAndChecks) {
  int rc = -1;
  std::string out = run(kDict, &rc);
  EXPECT_EQ(0, rc);
  EXPECT_EQ(0u, out.find("-------------- 1 -----------------\n Index : 0\n"
                         " Channel: TESTSTAND/HALL.TEMP/SENSOR.1/TEMPERATURE DABS 0.1 DREL 0.005\n"));
  EXPECT_NE(std::string::npos, out.find(" Channel: TESTSTAND/COOLING/WATER.FLOW/RATE & STATUS DABS 0 DREL 0.02\n"));

  // XML to standard output reads back to the same listing, from standard input too.
  out = run("--xml - " + kDict, &rc);
  EXPECT_EQ(0, rc);
  testutil::TempFile xml(out);
  EXPECT_EQ(0u, out.find("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<ENVINDEXDICT>\n\t<isodate>"));
  EXPECT_EQ(run(kDict, &rc), run("- < " + xml.path(), &rc));

  testutil::TempFile text("", ".txt");
  out = run("--2010 --text " + text.path() + " " + kDict, &rc);
  EXPECT_EQ(0, rc);
  EXPECT_EQ("", out);  // the writer's bookkeeping is no data
  EXPECT_EQ(0u, text.read().find("0\tTESTSTAND/HALL.TEMP/SENSOR.1/TEMPERATURE\t0.100000\t0.005000\n"));

  std::string err;
  EXPECT_EQ(kDict + ": 5 entries read\n", run("--check " + kDict, &rc, &err));
  EXPECT_EQ(0, rc);
  EXPECT_EQ("", err);
}

TEST(ToolEnvdict, WarnsAboutCutNamesAndRepeatedIndexes) {
  const std::string name(90, 'p');
  testutil::TempFile f("<ENVINDEXDICT><CHANNEL><INDEX>4</INDEX><PROP>" + name +
                       "</PROP></CHANNEL><CHANNEL><INDEX>4</INDEX><PROP>q</PROP></CHANNEL></ENVINDEXDICT>");
  int rc = -1;
  std::string err;
  // The default layout keeps the name whole.
  EXPECT_EQ(f.path() + ": 2 entries read, 1 repeated indexes\n", run("-c " + f.path(), &rc, &err));
  EXPECT_EQ(0, rc);
  EXPECT_EQ("qal3: " + f.path() + ": warning: index 4 used by 2 entries\n", err);
  EXPECT_NE(std::string::npos, run("--xml - " + f.path(), &rc, &err).find("<PROP>" + name + "</PROP>"));
  EXPECT_EQ(0, rc);
}

// Every cut is a warning, in either layout: the reader's note when reading,
// check's finding (and no note besides) when converting; the note quotes
// whole characters.
TEST(ToolEnvdict, EveryCutIsAWarning) {
  std::string mu;  // 'µ' in UTF-8: two bytes
  for (int i = 0; i < 150; ++i) mu += "\xC2\xB5";
  const struct {
    std::string name;
    const char* layout;
    std::string note;     // "" when nothing is cut
    std::string finding;  // check's, when converting
  } kCases[] = {
      {std::string(90, 'p'), "--old-layout", "PROP: text of 90 bytes cut to 79 (a field of 80 bytes): 'ppp",
       "property is 90 characters long: readers of the old layout cut it to 79"},
      {std::string(90, 'p'), "", "", ""},
      {mu.substr(0, 100), "--old-layout",
       "PROP: text of 100 bytes cut to 78 (a field of 80 bytes): '" + mu.substr(0, 32) + "...'",
       "property is 50 characters long: readers of the old layout cut it to 39"},
      {mu, "", "PROP: text of 300 bytes cut to 254 (a field of 256 bytes)", "it is cut to 127 when read"},
      {std::string(300, 'x'), "--2010", "PROP: text of 300 bytes cut to 255 (a field of 256 bytes)",
       "it is cut to 255 when read"},
  };
  for (const auto& c : kCases) {
    testutil::TempFile f("<?xml version=\"1.0\" encoding=\"UTF-8\"?><ENVINDEXDICT><CHANNEL><INDEX>7</INDEX><PROP>" +
                         c.name + "</PROP></CHANNEL></ENVINDEXDICT>");
    for (const std::string& action : {std::string("--check"), std::string("--text -")}) {
      int rc = -1;
      std::string err;
      run(std::string(c.layout) + " " + action + " " + f.path(), &rc, &err);
      EXPECT_EQ(0, rc) << err;
      const bool converting = action != "--check";
      if (c.note.empty()) {
        EXPECT_EQ(std::string::npos, err.find("cut to")) << err;
        continue;
      }
      EXPECT_NE(std::string::npos, err.find(f.path() + ":1:")) << err;
      EXPECT_EQ(std::string::npos != err.find(c.note), !converting) << c.layout << " " << action << "\n" << err;
      EXPECT_EQ(std::string::npos != err.find(c.finding), converting) << c.layout << " " << action << "\n" << err;
    }
  }
}

TEST(ToolEnvdict, FailuresAndUsage) {
  int rc = -1;
  std::string err;
  testutil::TempFile wrong("<CHANNEL/>");
  run(wrong.path(), &rc, &err);
  EXPECT_EQ(1, rc);
  EXPECT_NE(std::string::npos, err.find("WRONG root tag: 'CHANNEL' must be 'ENVINDEXDICT'"));
  EXPECT_NE(std::string::npos, err.find("qal3: " + wrong.path() + ": dictionary not read"));

  run("/nonexistent/dict.xml", &rc, &err);
  EXPECT_EQ(1, rc);
  EXPECT_NE(std::string::npos, err.find("/nonexistent/dict.xml"));

  const std::string out = run("--xml /nonexistent/out.xml " + kDict, &rc, &err);
  EXPECT_EQ(1, rc);
  EXPECT_EQ("", out);
  EXPECT_NE(std::string::npos, err.find("qal3: /nonexistent/out.xml: No such file or directory")) << err;

  EXPECT_NE(std::string::npos, run("--help", &rc).find("Usage: qal3 envdict"));
  EXPECT_EQ(0, rc);
  for (const char* bad : {"", "--bogus x.xml", "--xml", "--text= x.xml", "-c --xml o x.xml", "a.xml b.xml"}) {
    run(bad, &rc);
    EXPECT_EQ(2, rc) << bad;
  }
}

}  // namespace
