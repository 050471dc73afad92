// The README's list of each record's JSON fields against the records' field
// tables, from which the tool makes that JSON; no field name written by
// hand in the tool or the Python module; and a new record of each family
// (Description::make) holding what its reader gives a document without the
// field.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

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
      {"tools/cli_commands.cpp", "channel"},         // trigger test --channel
      {"tools/cmd_trigger_test.cpp", "channel"},     // the option, and the verdict's JSON: function and
      {"tools/cmd_trigger_test.cpp", "subchannel"},  // operation there are slot names
      {"tools/cmd_trigger_test.cpp", "function"},
      {"tools/cmd_trigger_test.cpp", "operation"},
      {"tools/cmd_chan_select.cpp", "channel"},    // the channel asked about
      {"tools/cmd_trigger_registry.cpp", "name"},  // a slot's name
      {"tools/cmd_diff.cpp", "description"},       // DAQvariables element names the
      {"tools/cmd_diff.cpp", "units"},             // reader keeps, not record fields
      {"tools/cmd_diff.cpp", "name"},
      {"python/src/documents.cpp", "ev_type"},    // Selector.find_channel's argument
      {"python/src/module.cpp", "name"},          // the registry lookups' argument
      {"python/src/site_functions.cpp", "name"},  // a registered function's arguments
      {"python/src/site_functions.cpp", "function"},
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

// --- new records ------------------------------------------------------------

using qal3::records::Tag;

// Documents of one record holding only its identity, or the least the
// reader keeps a record with (a trigger: its channel), that identity set
// in the new record `r`.
std::vector<std::string> minimal(Tag<qal3_ev_entry>, qal3_ev_entry& r) {
  r.evtype = static_cast<QAL3_EVTYPE>(7);
  return {"<BMR><EVENT><TYPE>7</TYPE></EVENT></BMR>"};
}
std::vector<std::string> minimal(Tag<chan_descr_2010>, chan_descr_2010& r) {
  std::strcpy(r.prop_name, "P");
  return {"<CHANDESCRIPTIONS><CHANNEL><PROP>P</PROP></CHANNEL></CHANDESCRIPTIONS>",
          "<DAQvariables><DaqFloat><nexol>P</nexol></DaqFloat></DAQvariables>"};
}
template <class Entry>
std::vector<std::string> minimal(Tag<Entry>, Entry& r) {  // both dictionary layouts
  r.index = 3;
  std::strcpy(r.data.env_prop, "P");
  return {"<ENVINDEXDICT><CHANNEL><INDEX>3</INDEX><PROP>P</PROP></CHANNEL></ENVINDEXDICT>"};
}
std::vector<std::string> minimal(Tag<qal3_user_case_trigger>, qal3_user_case_trigger& r) {
  std::strcpy(r.channel, "C");
  return {"<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\"/></USERTRIGGER></QAL3USERTRIGGERLIST>"};
}
std::vector<std::string> minimal(Tag<QAL3GigEFeature>, QAL3GigEFeature& r) {
  r.name = "F";
  return {"<RegisterDescription><Undefined Name=\"F\"/></RegisterDescription>"};
}

// Each field of a record as "name=value" lines, records nested.
template <class R>
std::string fields_of(const R& r);

struct Shown {
  template <class V>
  std::string integer(V v) const {
    return std::to_string(static_cast<long long>(v));
  }
  std::string real(float v) const {
    char text[32];
    std::snprintf(text, sizeof text, "%a", static_cast<double>(v));
    return text;
  }
  template <std::size_t N>
  std::string reals(const float (&v)[N]) const {
    std::string out;
    for (float x : v) out += real(x) + " ";
    return out;
  }
  template <std::size_t N>
  std::string text(const char (&v)[N]) const {
    return std::string(v, strnlen(v, N));
  }
  std::string string(const std::string& v) const { return v; }
  std::string texts(const std::vector<char*>& v) const {
    std::string out;
    for (const char* c : v) out += std::string(c) + " ";
    return out;
  }
  template <class T>
  std::string records(const std::vector<T*>& v) const {
    std::string out;
    for (const T* x : v) out += "{" + fields_of(*x) + "}";
    return out;
  }
  template <class T>
  std::string record(const T& v) const {
    return "{" + fields_of(v) + "}";
  }
};

template <class R>
std::string fields_of(const R& r) {
  std::string out;
  qal3::records::for_each_field<R>([&](const auto& field) {
    out += std::string(field.name) + "=" + qal3::records::visit_value(field.of(r), Shown{}) + "\n";
  });
  return out;
}

TEST(ToolRecordFields, NewRecordsHoldWhatTheReaderGivesADocumentWithoutTheField) {
  const time_t when = 1700000000;  // the clock the reader stamps a trigger's time with, and make
  const qal3::ThreadClock clock(&when);
  ASSERT_TRUE(clock.ok());
  std::apply(
      [](auto... family) {
        auto check = [](auto tag) {
          using R = typename decltype(tag)::type;
          using D = qal3::records::Description<R>;
          qal3::records::OwnedList<R> made;
          for (std::string doc : minimal(tag, made.add())) {
            qal3::records::OwnedList<R> read;
            ASSERT_EQ(D::read_text(&doc[0], doc.size(), &read.items, {}), 0) << doc;
            ASSERT_EQ(read.items.size(), 1u) << doc;
            EXPECT_EQ(fields_of(*read.items[0]), fields_of(*made.items[0])) << doc;
          }
        };
        (check(family), ...);
      },
      qal3::records::Families{});
}

}  // namespace
