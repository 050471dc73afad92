// The converting commands' --from json: the JSON the tool prints for a
// document reads back to the same records, and what a field cannot take
// is refused naming its place.
#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

using testutil::run_command;
using testutil::TempFile;

namespace {

const std::string kTool = testutil::tool_command();
const std::string kExamples = QAL3_EXAMPLES_DIR;

// Runs "qal3 ARGS < json"; its exit status, with what it wrote.
int from_json(const std::string& args, const std::string& json, std::string* out, std::string* err) {
  const TempFile in(json, ".json");
  return run_command(kTool + " " + args + " < " + in.path(), out, err);
}

// What a conversion of the printed JSON writes holds the records the
// conversion of the document itself writes.
TEST(ToolJsonIn, PrintedJsonConvertsToTheSameRecords) {
  struct Row {
    const char* print;    // prints the example as JSON
    const char* convert;  // writes a document to standard output, given its input last
    const char* example;
  };
  const Row rows[] = {
      {"trigger print --json", "trigger convert", "triggers.xml"},
      {"trigger print --json", "trigger convert", "plot_hard_triggers.xml"},
      {"chan print --json", "chan convert --to chandescr", "chan_descriptions.xml"},
      {"chan print --json", "chan convert --to daqvars", "chan_daqvariables.xml"},
      {"envdict --json", "envdict --xml -", "envdict.xml"},
      {"envdict --old-layout --json", "envdict --old-layout --xml -", "envdict.xml"},
  };
  for (const Row& r : rows) {
    const std::string example = kExamples + "/" + r.example;
    std::string json, direct, xml, err;
    ASSERT_EQ(run_command(kTool + " " + r.print + " " + example, &json, &err), 0) << r.print << err;
    ASSERT_EQ(run_command(kTool + " " + r.convert + " -q " + example, &direct, &err), 0) << r.convert << err;
    EXPECT_EQ(from_json(std::string(r.convert) + " --from json -", json, &xml, &err), 0)
        << r.convert << " " << r.example << "\n"
        << err;
    const TempFile of_xml(direct), of_json(xml);
    std::string diff;
    EXPECT_EQ(run_command(kTool + " diff --records-only " + of_xml.path() + " " + of_json.path(), &diff, &err), 0)
        << r.convert << " " << r.example << "\n"
        << diff << err;
  }
}

TEST(ToolJsonIn, ValuesGivenOnceAreTakenAndTwiceMustAgree) {
  struct Row {
    std::string command;
    std::string json;
    int status;
    std::string said;  // in the document written, or on standard error
  };
  const std::string convert = "trigger convert --from json -";
  const std::string one = R"({"triggers": [{"channel": "C", )";
  const Row rows[] = {
      // taken: a name alone, a parameter by its name, the list of records alone, a document of files
      {convert, one + R"("function_name": "MAX", "start": 3}]})", 0, R"(<Function name="MAX" param0="3.000000")"},
      {convert, R"([{"channel": "C", "operation": "INSIDE", "x0": 2, "fparam": [2]}])", 0,
       R"(<Operation name="INSIDE"/>)"},
      {"chan convert --to chandescr --from json -", R"({"files": [{"file": "a", "channels": [{"prop_name": "P"}]}]})",
       0, "<PROP>P</PROP>"},
      // refused, naming the place
      {convert, one + R"("function": 2, "function_name": "MAX"}]})", 1,
       "triggers[0].function_name: 'MAX' and function 2 (MEAN) name different slots"},
      {convert, one + R"("fparam": [1], "start": 2}]})", 1, "triggers[0].start: 2 and fparam[0] 1.0 differ"},
      {convert, one + R"("function_name": "NOSUCH"}]})", 1, "triggers[0].function_name: no function named 'NOSUCH'"},
      {convert, one + R"("operation": 20}]})", 1, "triggers[0].operation: 20 is a free registry slot"},
      {convert, R"({"triggers": [{"channel": ")" + std::string(300, 'c') + R"("}]})", 1,
       "triggers[0].channel: is 300 bytes long; at most"},
      {convert, one + R"("low": "high"}]})", 1, "triggers[0].low: must be a number or null, not a string"},
      {convert, one + R"("low": 1e39}]})", 1, "triggers[0].low: 1e+39 is beyond what a float holds"},
      {convert, one + R"("lower": 1}]})", 1, "triggers[0].lower: no field of Trigger"},
      {convert, one + R"("subchannel": 3000000000}]})", 1, "triggers[0].subchannel: 3000000000 is out of range"},
      {convert, R"({"triggers": [)", 1, "<stdin>:1:15: not JSON: syntax error"},
      {convert, std::string(300, '[') + std::string(300, ']'), 1, "nested deeper than 256 levels"},
      {"chan convert --to chandescr --from json -", R"({"channels": [{"prop_name": "P", "nbits": 2, "bits": []}]})", 1,
       "channels[0].nbits: 2 does not count bits, which holds 0"},
      {"chan convert --to chandescr --from json -", R"({"channels": [{"prop_name": " "}]})", 1,
       "channels[0].prop_name: is only white space"},
      {"envdict --old-layout --from json --xml - -", R"({"layout": "2010", "entries": []})", 1,
       "layout: \"2010\" is not the layout read (old)"},
      {"envdict --from json --xml - -", R"({"entries": [{"index": -1, "env_prop": "P"}]})", 1,
       "entries[0].index: -1 is out of range"},
      {"envdict --from json -", R"({"entries": []})", 2, "--from json goes with --xml or --text"},
      {"trigger convert --from yaml -", "{}", 2, "--from must be xml or json"},
  };
  for (const Row& r : rows) {
    std::string out, err;
    EXPECT_EQ(from_json(r.command, r.json, &out, &err), r.status) << r.json << "\n" << err;
    EXPECT_NE((r.status == 0 ? out : err).find(r.said), std::string::npos) << r.json << "\n" << out << err;
  }
}

}  // namespace
