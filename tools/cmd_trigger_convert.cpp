// qal3 trigger convert: write a trigger list as XML or as text.
#include <string>

#include "cli_check.h"
#include "cli_clock.h"
#include "cli_messages.h"
#include "record_json_read.h"
#include "trigger_list.h"
#include "user_case_trigger.h"

int cmd_trigger_convert(const cli::CommandInfo& command_info, int argc, char** argv) {
  cli::Args args;
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  const std::string to = args.has("to") ? args.value("to") : "xml";
  if (to != "xml" && to != "text")
    return cli::usage_error(command_info.name, "--to must be xml or text, not '" + to + "'");
  if (args.operands.size() != 1) return cli::usage_error(command_info.name, "give exactly one trigger list");
  bool json = false;
  if (!cli::input_format(command_info, args, &json)) return cli::kUsage;
  if (cli::fits_creation_time(command_info, args) >= 0) return cli::kUsage;
  // The output is made first, so that a folder it cannot be made in shows
  // before any reading.
  cli::Output out(args.value("output"), cli::links_option(args));
  if (!out.open()) return cli::kBadDocument;
  cli::Input in;
  if (!cli::read_input(args.operands[0], args.max_input, in)) return cli::kBadDocument;
  // Before reading: the records' creation time is the clock's.
  if (cli::keep_date(args, in) && cli::fits_creation_time(command_info, args, &in.name) >= 0) return cli::kUsage;
  trigger::TriggerList list;
  if (json) {
    if (!cli::records_from_document(in, &list.records())) return cli::kBadDocument;
  } else {
    if (cli::warn_dropped(in.name, in.text, args.has("strict"), args.quiet)) return cli::kBadDocument;
    cli::reader_notes_said();
    if (!list.read(in)) return cli::kBadDocument;
  }
  const int mode = to == "xml" ? USER_TRIG_DUMP_XML_FILE : USER_TRIG_DUMP_TXT_FILE;
  return cli::write_document(out, "trigger list", [&](char* path) {
    return trigger::Triggers::write(&list.records(), path, mode, -1, nullptr);
  });
}
