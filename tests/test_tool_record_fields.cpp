// The README's list of each record's JSON fields against the records' field
// tables, from which the tool makes that JSON.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "record_fields.h"

namespace {

using Names = std::set<std::string>;

// The names of the fields the tool prints for the records R...
template <class... R>
Names printed() {
  Names names;
  auto add = [&](const auto& field) {
    if (field.kind != qal3::records::Kind::state) names.insert(field.name);
  };
  (qal3::records::for_each_field<R>(add), ...);
  return names;
}

// The quoted names of the README's JSON block of `command`: its line of the
// --json list and the indented lines after it.
Names readme_names(const std::string& command) {
  std::ifstream in(QAL3_README);
  std::string line, block;
  bool inside = false;
  while (std::getline(in, line)) {
    if (inside && !line.empty() && line[0] != ' ') break;
    if (!inside && line.rfind(command + " ", 0) == 0 && line.find('{') != std::string::npos) inside = true;
    if (inside) block += line + "\n";
  }
  Names names;
  const std::regex quoted("\"([A-Za-z_0-9]+)\"");
  for (std::sregex_iterator i(block.begin(), block.end(), quoted), end; i != end; ++i) names.insert((*i)[1]);
  return names;
}

struct Case {
  const char* command;
  std::function<Names()> fields;
  Names extra;  // the document's own members and fields the tool adds
};

TEST(ToolRecordFields, ReadmeListsEachRecordsFieldsAndNoOthers) {
  const Case cases[] = {
      {"evlist", printed<qal3_ev_entry, qal3_ev_sb_list, time_stamp>, {"files", "file", "entries"}},
      {"chan print", printed<chan_descr_2010, bit_descr, dim_descr, stat_descr>, {"files", "file", "channels"}},
      {"envdict", printed<qal3_env_index_dictionary_entry_2010>, {"file", "layout", "entries", "old", "2010"}},
      {"envdict", printed<qal3_env_index_dictionary_entry>, {"file", "layout", "entries", "old", "2010"}},
      {"trigger print", printed<qal3_user_case_trigger>, {"file", "triggers", "function_name", "operation_name"}},
      {"gige", printed<QAL3GigEFeature>, {"files", "file", "features", "position", "type_name"}},
  };
  for (const Case& c : cases) {
    Names expected = c.fields();
    expected.insert(c.extra.begin(), c.extra.end());
    EXPECT_EQ(readme_names(c.command), expected) << c.command;
  }
}

}  // namespace
