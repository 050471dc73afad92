// qal3 evlist: read and print event lists.
#include <string>

#include "cli_commands.h"
#include "cli_input.h"
#include "cli_output.h"
#include "parse_ev_list.h"
#include "record_fields.h"
#include "record_json.h"

int cmd_evlist(const cli::CommandInfo& command_info, int argc, char** argv) {
  cli::Args args;
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  if (args.operands.empty()) return cli::usage_error(command_info.name, "no event list given");
  if (cli::stdin_once(command_info.name, args.operands) >= 0) return cli::kUsage;

  int status = cli::kOk;
  nlohmann::json files = nlohmann::json::array();
  for (const std::string& f : args.operands) {
    cli::Input in;
    if (!cli::read_input(f, args.max_input, in)) {
      status = cli::kBadDocument;
      continue;
    }
    qal3::records::OwnedList<qal3_ev_entry> list;  // freed on every path
    if (!cli::read_records(in, &list.items)) {
      status = cli::kBadDocument;
      continue;
    }
    if (args.json) {
      nlohmann::json entries = nlohmann::json::array();
      for (const qal3_ev_entry* e : list.items) entries.push_back(cli::record_json(*e));
      files.push_back({{"file", in.name}, {"entries", entries}});
      continue;
    }
    if (!args.quiet) qal3_print_ev_list(&list.items);
    cli::put(cli::one_line(in.name) + ": " + std::to_string(list.items.size()) + " event entries read\n");
  }
  if (args.json) cli::print_json({{"files", files}});
  return status;
}
