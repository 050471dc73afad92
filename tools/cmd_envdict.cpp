// qal3 envdict: print, convert and check environment index dictionaries.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "cli_check.h"
#include "cli_clock.h"
#include "cli_commands.h"
#include "cli_input.h"
#include "cli_messages.h"
#include "cli_output.h"
#include "parse_env_index_dictionary.h"
#include "record_fields.h"
#include "record_json.h"
#include "record_json_read.h"

namespace {

enum class Action { list, check, xml, text };

// The member of the JSON document that names the layout.
constexpr char kLayout[] = "layout";

// The command line, with the layout and the action it asks for.
struct Options : cli::Args {
  bool layout_2010 = true;
  bool json_input = false;  // --from json
  Action action = Action::list;
  std::string out;
};

// The writer of each layout: Description<Entry>::write.
using qal3::records::Description;

// A dictionary read from the command line's input; entries freed on exit.
template <class Entry>
struct Dictionary : qal3::records::OwnedList<Entry> {
  // False (message printed) when the dictionary cannot be read.
  bool read(cli::Input& in) { return cli::read_records(in, &this->items, {}, false, "dictionary"); }
};

template <class Entry>
int check(const cli::Input& in, const std::vector<Entry*>& entries, bool quiet) {
  std::map<int, int> seen;
  for (const Entry* e : entries) ++seen[e->index];
  int repeated = 0;
  for (const auto& s : seen) {
    if (s.second < 2) continue;
    ++repeated;
    if (!quiet)
      cli::file_error(
          in.name, "warning: index " + std::to_string(s.first) + " used by " + std::to_string(s.second) + " entries");
  }
  std::string line = in.name + ": " + std::to_string(entries.size()) + " entries read";
  if (repeated) line += ", " + std::to_string(repeated) + " repeated indexes";
  cli::put(line + "\n");
  return cli::kOk;
}

template <class Entry>
nlohmann::json to_json(const cli::Input& in, const std::vector<Entry*>& entries, bool layout_2010) {
  nlohmann::json list = nlohmann::json::array();
  for (const Entry* e : entries) list.push_back(cli::record_json(*e));
  return {{cli::kJsonFile, in.name}, {kLayout, layout_2010 ? "2010" : "old"}, {cli::json_list<Entry>(), list}};
}

// Writes the dictionary (mode 2 XML, 1 text) to the open `out`, whole or
// not at all.
template <class Entry>
int write(cli::Output& out, std::vector<Entry*>& entries, int mode) {
  return cli::write_document(out, "dictionary",
                             [&](char* path) { return Description<Entry>::write(&entries, path, mode, -1, nullptr); });
}

template <class Entry>
int run(const Options& opt) {
  const bool converting = opt.action == Action::xml || opt.action == Action::text;
  // The output is made first, so that a folder it cannot be made in shows
  // before any reading.
  cli::Output out(opt.out, cli::links_option(opt));
  if (converting && !out.open()) return cli::kBadDocument;
  cli::Input in;
  if (!cli::read_input(opt.operands[0], opt.max_input, in)) return cli::kBadDocument;
  Dictionary<Entry> dict;
  if (opt.json_input) {
    // The entries' layout is the command's: a document of the other layout
    // is refused, for its names may not fit.
    const std::string layout = opt.layout_2010 ? "2010" : "old";
    const auto same_layout = [&](const nlohmann::json& doc) {
      if (doc.contains(kLayout) && doc.at(kLayout) != layout)
        throw cli::JsonRefusal(kLayout, doc.at(kLayout).dump() + " is not the layout read (" + layout +
                                            (opt.layout_2010 ? "; --old-layout reads the old one)" : ")"));
    };
    if (!cli::records_from_document(in, &dict.items, {kLayout}, same_layout)) return cli::kBadDocument;
    return write(out, dict.items, opt.action == Action::xml ? 2 : 1);
  }
  cli::keep_date(opt, in);
  if (converting) {
    if (cli::warn_dropped(in.name, in.text, opt.has("strict"), opt.quiet)) return cli::kBadDocument;
    cli::reader_notes_said();
  }
  if (!dict.read(in)) return cli::kBadDocument;
  switch (opt.action) {
    case Action::check:
      return check(in, dict.items, opt.quiet);
    case Action::list:
      if (opt.json) {
        cli::print_json(to_json(in, dict.items, opt.layout_2010));
        return cli::kOk;
      }
      Description<Entry>::write(&dict.items, nullptr, 2, -1, nullptr);  // the console form
      return cli::kOk;
    case Action::xml:
      return write(out, dict.items, 2);
    case Action::text:
      return write(out, dict.items, 1);
  }
  return cli::kOk;
}

// Parses the command line; returns -1 to go on, else the exit status.
int parse_options(const cli::CommandInfo& command_info, int argc, char** argv, Options& opt) {
  const int st = cli::parse(command_info, argc, argv, opt);
  if (st >= 0) return st;
  opt.layout_2010 = !opt.has("old-layout");
  if (opt.has("old-layout") && opt.has("2010"))
    return cli::usage_error(command_info.name, "--2010 and --old-layout exclude each other");
  int actions = 0;
  for (const auto& o : opt.options) {
    if (o.first == "check") {
      opt.action = Action::check;
    } else if (o.first == "xml" || o.first == "text") {
      opt.action = o.first == "xml" ? Action::xml : Action::text;
      opt.out = o.second;
      if (opt.out.empty())
        return cli::usage_error(command_info.name, "option '--" + o.first + "' needs an output file");
    } else {
      continue;
    }
    ++actions;
  }
  if (actions > 1) return cli::usage_error(command_info.name, "choose one of --check, --xml, --text");
  if (opt.has("strict") && opt.action != Action::xml && opt.action != Action::text)
    return cli::usage_error(command_info.name, "--strict goes with --xml or --text");
  if (opt.json && opt.action != Action::list)
    return cli::usage_error(command_info.name, "--json lists the entries: not with --check, --xml or --text");
  if (!cli::input_format(command_info, opt, &opt.json_input)) return cli::kUsage;
  if (opt.json_input && opt.action != Action::xml && opt.action != Action::text)
    return cli::usage_error(command_info.name, "--from json goes with --xml or --text");
  if (opt.operands.empty()) return cli::usage_error(command_info.name, "no dictionary given");
  if (opt.operands.size() > 1) return cli::usage_error(command_info.name, "only one dictionary at a time");
  return -1;
}

}  // namespace

int cmd_envdict(const cli::CommandInfo& command_info, int argc, char** argv) {
  Options opt;
  const int status = parse_options(command_info, argc, argv, opt);
  if (status >= 0) return status;
  return opt.layout_2010 ? run<qal3_env_index_dictionary_entry_2010>(opt) : run<qal3_env_index_dictionary_entry>(opt);
}
