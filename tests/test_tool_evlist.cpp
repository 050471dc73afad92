// The qal3 tool: top level and the evlist command.
#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace {

const std::string kTool = testutil::tool_command();
const std::string kExamples = QAL3_EXAMPLES_DIR;

TEST(Tool, TopLevel) {
  std::string out, err;
  EXPECT_EQ(testutil::run_command(kTool + " --help", &out, &err), 0);
  EXPECT_NE(out.find("Usage: qal3"), std::string::npos);
  EXPECT_NE(out.find("evlist"), std::string::npos);
  EXPECT_EQ(testutil::run_command(kTool, &out, &err), 2);
  EXPECT_EQ(testutil::run_command(kTool + " frobnicate", &out, &err), 2);
  EXPECT_NE(err.find("unknown command 'frobnicate'"), std::string::npos);
}

TEST(Tool, EvlistPrintsAndReports) {
  std::string out, err;
  EXPECT_EQ(testutil::run_command(kTool + " evlist " + kExamples + "/evlist_basic.xml", &out, &err), 0) << err;
  EXPECT_NE(out.find("EVENT TYPE:\tNORMAL"), std::string::npos);
  EXPECT_NE(out.find("evlist_basic.xml: 2 event entries read"), std::string::npos);

  EXPECT_EQ(testutil::run_command(kTool + " evlist - < " + kExamples + "/evlist_multi.xml", &out, &err), 0);
  EXPECT_NE(out.find("<stdin>: 3 event entries read"), std::string::npos);

  // The result line goes where the help says: standard output.
  EXPECT_EQ(testutil::run_command(kTool + " evlist -q " + kExamples + "/evlist_basic.xml", &out, &err), 0);
  EXPECT_EQ(out, kExamples + "/evlist_basic.xml: 2 event entries read\n");
  EXPECT_EQ(err, "");
  EXPECT_EQ(testutil::run_command(kTool + " evlist --help", &out, &err), 0);
  EXPECT_NE(out.find("Usage: qal3 evlist"), std::string::npos);
  EXPECT_NE(out.find("event entries read', on standard output"), std::string::npos) << out;
  EXPECT_EQ(testutil::run_command(kTool + " evlist", &out, &err), 2);
  EXPECT_EQ(testutil::run_command(kTool + " evlist --bogus x", &out, &err), 2);
}

TEST(Tool, EvlistBadDocuments) {
  testutil::TempFile wrong("<NOTBMR/>");
  std::string out, err;
  EXPECT_EQ(testutil::run_command(kTool + " evlist -q " + wrong.path() + " /nonexistent.xml", &out, &err), 1);
  EXPECT_NE(err.find("WRONG root tag: NOTBMR must be 'BMR'"), std::string::npos) << err;
  EXPECT_NE(err.find("qal3: " + wrong.path() + ": event list not read"), std::string::npos) << err;
  EXPECT_NE(err.find("qal3: /nonexistent.xml: No such file or directory"), std::string::npos) << err;
}

}  // namespace
