// The libraries' lines as the tool shows them: documents named as the user
// gave them, positions on every line about a document, the DOCTYPE note,
// the system's reason for a failed write, -q, and no redirection of the
// tool's own standard streams (nor a temporary file for them).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

using testutil::run_command;

const std::string kTool = testutil::tool_command();
const std::string kEx = QAL3_EXAMPLES_DIR;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// True when `line` starts with "NAME:LINE:COLUMN: ".
bool located(const std::string& line, const std::string& name) {
  if (line.compare(0, name.size() + 1, name + ":") != 0) return false;
  std::size_t p = name.size() + 1;
  for (int field = 0; field < 2; ++field) {
    const std::size_t digits = line.find_first_not_of("0123456789", p);
    if (digits == p || digits == std::string::npos || line[digits] != ':') return false;
    p = digits + 1;
  }
  return line.compare(p, 1, " ") == 0;
}

// A scratch folder holding e1.xml, removed with it.
struct Folder {
  std::string path;
  explicit Folder(const std::string& document) {
    char tmpl[] = "/tmp/qal3-msg-XXXXXX";
    path = mkdtemp(tmpl);
    std::ofstream(path + "/e1.xml", std::ios::binary) << document;
  }
  ~Folder() { run_command("rm -rf " + path); }
  // Runs the tool in the folder.
  int qal3(const std::string& args, std::string* out, std::string* err) const {
    return run_command("cd " + path + " && " + kTool + " " + args, out, err);
  }
};

}  // namespace

// Every line the libraries give about a document names it as given, with a
// position: a malformed document, a wrong root, an empty and a non-XML one,
// read by each reader, from a relative path and from standard input (the
// tool's own "qal3: NAME: ... not read" may close them).
TEST(ToolMessages, DocumentsNamedAsGivenWithPositions) {
  const struct {
    const char* cmd;
    std::string document;
  } kCases[] = {
      {"evlist", "<BMR>\n<EVENT><TYPE>1</TYPE>\n</BMR>\n"},
      {"chan print", "<CHANDESCRIPTIONS>\n<CHANNEL>\n</CHANDESCRIPTIONS>\n"},
      {"chan select slow X", "<CHANDESCRIPTIONS>\n<CHANNEL>\n</CHANDESCRIPTIONS>\n"},
      {"trigger print", "<QAL3USERTRIGGERLIST>\n<USERTRIGGER>\n</QAL3USERTRIGGERLIST>\n"},
      {"envdict", "<ENVINDEXDICT>\n<X>\n</ENVINDEXDICT>\n"},
      {"gige", "<RegisterDescription>\n<Integer Name=\"A\">\n</RegisterDescription>\n"},
      {"evlist", "<FOO>\n</FOO>\n"},
      {"chan print", "<FOO/>\n"},
      {"trigger print", "<?xml version=\"1.0\"?>\n<FOO/>\n"},
      {"envdict", "<FOO/>\n"},
      {"gige", "\n<BMR/>\n"},
      {"evlist", ""},
      {"trigger print", ""},
      {"gige", ""},
      {"chan print", "just some words\n"},
      {"envdict", "just some words\n"},
  };
  for (const auto& c : kCases) {
    const Folder folder(c.document);
    for (const std::string source : {"e1.xml", "- < e1.xml"}) {
      const std::string name = source == "e1.xml" ? "e1.xml" : "<stdin>";
      std::string out, err;
      EXPECT_NE(folder.qal3(std::string(c.cmd) + " " + source, &out, &err), 0) << c.cmd << " " << source;
      std::vector<std::string> lines = lines_of(err);
      if (!lines.empty() && lines.back().rfind("qal3: " + name + ": ", 0) == 0) lines.pop_back();
      ASSERT_GE(lines.size(), 1u) << c.cmd << " " << source << ":\n" << err;
      for (const std::string& line : lines) EXPECT_TRUE(located(line, name)) << c.cmd << " " << source << ":\n" << err;
      EXPECT_EQ(err.find("/proc/self/fd"), std::string::npos) << err;
      EXPECT_EQ(err.find(folder.path), std::string::npos) << err;
    }
  }
}

// A DOCTYPE is read: its internal declarations are checked (a document they
// do not fit is refused with a note saying so), external ones are not read.
TEST(ToolMessages, DoctypeRefusalsSaySo) {
  const std::string head = "<?xml version=\"1.0\"?>\n";
  const struct {
    std::string doctype;
    int status;
    const char* note;  // null: none
  } kCases[] = {
      {"<!DOCTYPE BMR [<!ELEMENT X ANY>]>", 1,
       "e1.xml:2:1: note: a document with a DOCTYPE is checked against the declarations in it"},
      {"<!DOCTYPE BMR SYSTEM \"x.dtd\">", 1,
       "e1.xml:2:1: note: document type definitions outside the document (SYSTEM or PUBLIC) are not read"},
      {"<!DOCTYPE BMR [<!ELEMENT BMR ANY>]>", 0, nullptr},
      {"<!DOCTYPE BMR>", 0, nullptr},
  };
  for (const auto& c : kCases) {
    const Folder folder(head + c.doctype + "\n<BMR>\n</BMR>\n");
    std::string out, err;
    EXPECT_EQ(folder.qal3("evlist e1.xml", &out, &err), c.status) << c.doctype;
    if (c.note) {
      EXPECT_NE(err.find(c.note), std::string::npos) << c.doctype << ":\n" << err;
      EXPECT_EQ(err.find("note:"), err.rfind("note:")) << "one note:\n" << err;
    } else {
      EXPECT_EQ(err, "") << c.doctype;
    }
  }
}

// A failed write of standard output gives the system's reason, once, and
// exit status 1, whichever way the data was written (the tool's own lines,
// the libraries' listings, a converted document).
TEST(ToolMessages, FailedWriteGivesTheSystemsReason) {
  struct stat st {};
  if (stat("/dev/full", &st) != 0 || !S_ISCHR(st.st_mode)) GTEST_SKIP() << "no /dev/full";
  for (const std::string& args :
       {"evlist " + kEx + "/evlist_basic.xml", "chan print " + kEx + "/chan_descriptions.xml",
        "trigger print " + kEx + "/triggers.xml", "trigger convert -q " + kEx + "/triggers.xml",
        "envdict " + kEx + "/envdict.xml", "gige " + kEx + "/gige_camera.xml", std::string("trigger registry")}) {
    std::string err;
    EXPECT_EQ(run_command("(" + kTool + " " + args + " > /dev/full)", nullptr, &err), 1) << args;
    const std::string want = "qal3: <stdout>: No space left on device\n";
    EXPECT_NE(err.find(want), std::string::npos) << args << ":\n" << err;
    EXPECT_EQ(err.find(want), err.rfind(want)) << args << ":\n" << err;
  }
}

// -q silences the evaluation's informational lines; the data stays.
TEST(ToolMessages, QuietSilencesTheLibrariesInformation) {
  const Folder folder(
      "<QAL3USERTRIGGERLIST>\n"
      "<USERTRIGGER><Chan name=\"S\"/><Function name=\"SUM\" start=\"0\" end=\"-1\"/>"
      "<Operation name=\"GTE\"/><UpperLimit value=\"9\"/></USERTRIGGER>\n"
      "<USERTRIGGER><Chan name=\"S\"/><Function name=\"MAX\" start=\"0\" end=\"-1\"/>"
      "<Operation name=\"GTE\"/><UpperLimit value=\"9\"/></USERTRIGGER>\n"
      "</QAL3USERTRIGGERLIST>\n");
  std::ofstream(folder.path + "/s.txt") << "0 1\n1 2 3 4\n";
  const std::string args = "trigger test e1.xml --spectrum s.txt --slow A=1";
  std::string out, err, quiet_out, quiet_err;
  ASSERT_EQ(folder.qal3(args, &out, &err), 0) << err;
  EXPECT_EQ(err, "trigger 1:  HERE DATA 10.000000 \n");
  ASSERT_EQ(folder.qal3(args + " -q", &quiet_out, &quiet_err), 0);
  EXPECT_EQ(quiet_err, "");
  EXPECT_EQ(quiet_out, out);
}

// The tool's standard streams are its own: no temporary file stands in for
// them, and no source of the tool or the module redirects descriptor 1 or 2.
TEST(ToolMessages, StandardStreamsAreNeverRedirected) {
  for (const std::string& args :
       {"trigger convert -q " + kEx + "/triggers.xml", "chan convert --to daqvars -q " + kEx + "/chan_descriptions.xml",
        "envdict --xml - " + kEx + "/envdict.xml"}) {
    std::string out, err;
    EXPECT_EQ(run_command("TMPDIR=/nonexistent " + kTool + " " + args, &out, &err), 0) << args << ":\n" << err;
    EXPECT_EQ(out.rfind("<?xml", 0), 0u) << args;
  }
  const std::filesystem::path tools = QAL3_TOOLS_DIR;
  for (const auto& dir : {tools, tools.parent_path() / "python"}) {
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path());
      int n = 0;
      for (std::string line; std::getline(in, line);) {
        ++n;
        EXPECT_TRUE(line.find("dup2") == std::string::npos && line.find("freopen") == std::string::npos)
            << entry.path().string() << ":" << n << ": " << line;
      }
    }
  }
}
