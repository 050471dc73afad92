// The qal3 tool: the gige command.
#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace {

const std::string kTool = testutil::tool_command();
const std::string kCamera = std::string(QAL3_EXAMPLES_DIR) + "/gige_camera.xml";

TEST(ToolGige, ListsNamedFeatures) {
  std::string out, err;
  EXPECT_EQ(0, testutil::run_command(kTool + " gige " + kCamera, &out, &err)) << err;
  EXPECT_EQ(0u, out.find("0\tInteger\t1\tWidth\t\tWidth of the image in pixels.\t"));
  EXPECT_NE(std::string::npos, out.find("\n4\tInteger\t1\tGainRaw\tGain\tAnalog gain in steps of the camera.\t\n"));
  EXPECT_EQ(std::string::npos, out.find("\n6\t"));
  EXPECT_NE(std::string::npos, out.find(kCamera + ": 9 features (1 without a name)\n"));

  EXPECT_EQ(0, testutil::run_command(kTool + " gige -q " + kCamera, &out, &err));
  EXPECT_EQ(kCamera + ": 9 features (1 without a name)\n", out);
}

TEST(ToolGige, FailuresAndUsage) {
  std::string out, err;
  testutil::TempFile broken("<RegisterDescription><Integer Name=\"A\">");
  EXPECT_EQ(1, testutil::run_command(kTool + " gige " + broken.path() + " " + kCamera, &out, &err));
  EXPECT_NE(std::string::npos, err.find(broken.path() + ":1:"));  // FILE:LINE:COLUMN: message
  EXPECT_NE(std::string::npos, err.find("qal3: " + broken.path() + ": feature file not read"));
  EXPECT_NE(std::string::npos, out.find(kCamera + ": 9 features"));  // the next file is still read

  EXPECT_EQ(1, testutil::run_command(kTool + " gige /nonexistent/cam.xml", &out, &err));
  EXPECT_NE(std::string::npos, err.find("/nonexistent/cam.xml"));

  EXPECT_EQ(0, testutil::run_command(kTool + " gige --help", &out, &err));
  EXPECT_NE(std::string::npos, out.find("Usage: qal3 gige"));
  for (const char* bad : {"", " --bogus x.xml"})
    EXPECT_EQ(2, testutil::run_command(kTool + " gige" + bad, &out, &err)) << bad;
}

}  // namespace
