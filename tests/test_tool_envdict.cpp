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

// Every cut is a warning, in either layout; the warning counts characters
// and quotes what was kept, never part of a character.
TEST(ToolEnvdict, EveryCutIsAWarning) {
  std::string mu;  // 'µ' in UTF-8: two bytes
  for (int i = 0; i < 150; ++i) mu += "\xC2\xB5";
  const struct {
    std::string name;
    const char* layout;
    std::string warning;  // "" when nothing is cut
  } kCases[] = {
      {std::string(90, 'p'), "--old-layout", "(90 characters) cut to 79 characters: '" + std::string(79, 'p') + "'"},
      {std::string(90, 'p'), "", ""},
      {mu.substr(0, 100), "--old-layout", "(50 characters) cut to 39 characters: '" + mu.substr(0, 78) + "'"},
      {mu, "", "(150 characters) cut to 127 characters: '" + mu.substr(0, 254) + "'"},
      {std::string(300, 'x'), "--2010", "(300 characters) cut to 255 characters: '" + std::string(255, 'x') + "'"},
  };
  for (const auto& c : kCases) {
    testutil::TempFile f("<?xml version=\"1.0\" encoding=\"UTF-8\"?><ENVINDEXDICT><CHANNEL><INDEX>7</INDEX><PROP>" +
                         c.name + "</PROP></CHANNEL></ENVINDEXDICT>");
    for (const std::string& action : {std::string("--check"), std::string("--text -")}) {
      int rc = -1;
      std::string err;
      run(std::string(c.layout) + " " + action + " " + f.path(), &rc, &err);
      EXPECT_EQ(0, rc) << err;
      const std::string line = "qal3: " + f.path() + ": warning: property name of index 7 " + c.warning + "\n";
      if (c.warning.empty())
        EXPECT_EQ(std::string::npos, err.find("cut to")) << err;
      else
        EXPECT_NE(std::string::npos, err.find(line)) << c.layout << " " << action << "\n" << err;
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
