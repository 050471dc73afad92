// The README's list of each record's JSON fields against the records' field
// tables, from which the tool makes that JSON; and no field name written by
// hand in the tool or the Python module.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include "record_fields.h"

namespace {

using Names = std::set<std::string>;

// The names of the fields the tool prints for the records R...
template <class... R>
Names printed() {
  Names names;
  auto add = [&](const auto& field) { names.insert(field.name); };
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

// A source line that spells a field name as a string literal: a field
// written by hand where the field table should give it. The table lists
// the literals that are no fields: XML names, options, words of messages
// and the members of the tool's own JSON.
TEST(ToolRecordFields, NoFieldNameIsWrittenByHandInTheToolOrTheModule) {
  Names fields;
  qal3::records::for_each_family_record([&](auto tag) {
    const Names of = printed<typename decltype(tag)::type>();
    fields.insert(of.begin(), of.end());
  });
  const std::set<std::pair<std::string, std::string>> not_fields = {
      {"tools/check_document.cpp", "name"},  // XML attribute
      {"tools/check_rules.cpp", "name"},     // XML attributes and elements, words of messages
      {"tools/check_rules.cpp", "bit"},
      {"tools/check_rules.cpp", "units"},
      {"tools/check_rules.cpp", "description"},
      {"tools/check_rules.cpp", "subsystem"},
      {"tools/check_rules.cpp", "function"},
      {"tools/check_rules.cpp", "operation"},
      {"tools/cli_commands.cpp", "channel"},         // trigger test --channel
      {"tools/cmd_trigger_test.cpp", "channel"},     // the option, and the verdict's JSON: function and
      {"tools/cmd_trigger_test.cpp", "subchannel"},  // operation there are slot names
      {"tools/cmd_trigger_test.cpp", "function"},
      {"tools/cmd_trigger_test.cpp", "operation"},
      {"tools/cmd_chan_select.cpp", "channel"},    // the channel asked about
      {"tools/cmd_trigger_registry.cpp", "name"},  // a slot's name
      {"python/src/documents.cpp", "ev_type"},     // Selector.find_channel's argument
      {"python/src/module.cpp", "name"},           // the registry lookups' argument
  };
  namespace fs = std::filesystem;
  const fs::path root = fs::path(QAL3_TOOLS_DIR).parent_path();
  const std::regex char_literal(R"re('(\\.|[^'\\])')re");
  const std::regex literal(R"re("((\\.|[^"\\])*)")re");
  std::set<std::pair<std::string, std::string>> used;
  for (const char* dir : {"tools", "python/src"}) {
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root / dir)) {
      const std::string ext = e.path().extension().string();
      if (ext != ".cpp" && ext != ".h") continue;
      const std::string file = fs::relative(e.path(), root).generic_string();
      std::ifstream in(e.path());
      std::string line;
      for (int n = 1; std::getline(in, line); ++n) {
        line = std::regex_replace(line, char_literal, "' '");
        for (std::sregex_iterator i(line.begin(), line.end(), literal), end; i != end; ++i) {
          const std::string text = (*i)[1];
          if (!fields.count(text)) continue;
          used.insert({file, text});
          EXPECT_TRUE(not_fields.count({file, text}))
              << file << ":" << n << ": field name \"" << text << "\" written by hand";
        }
      }
    }
  }
  for (const auto& nf : not_fields)  // every listed exception is met in the sources
    EXPECT_TRUE(used.count(nf)) << nf.first << ": \"" << nf.second << "\" is no longer written";
}

}  // namespace
