// qal3 trigger convert: write a trigger list as XML or as text.
#include <string>
#include <vector>

#include "check_rules.h"
#include "cli_common.h"
#include "trigger_list.h"
#include "user_case_trigger.h"

using trigger::slot_name;

int cmd_trigger_convert(int argc, char** argv) {
  cli::Args args;
  const int st = trigger::parse_action("convert", argc, argv, args);
  if (st >= 0) return st;
  const std::string to = args.has("to") ? args.value("to") : "xml";
  if (to != "xml" && to != "text")
    return cli::usage_error("trigger convert", "--to must be xml or text, not '" + to + "'");
  if (args.operands.size() != 1) return cli::usage_error("trigger convert", "give exactly one trigger list");
  // The output is made first, so that a folder it cannot be made in shows
  // before any reading.
  cli::Output out(args.value("output"), cli::links_option(args));
  if (!out.open()) return cli::kBadDocument;
  std::vector<cli::Input> inputs(1);
  if (!cli::read_input(args.operands[0], args.max_input, inputs[0])) return cli::kBadDocument;
  if (check::warn_dropped_inputs(inputs, args.has("strict"), args.quiet)) return cli::kBadDocument;
  trigger::TriggerList list;
  if (!list.read(inputs[0])) return cli::kBadDocument;
  const int mode = to == "xml" ? USER_TRIG_DUMP_XML_FILE : USER_TRIG_DUMP_TXT_FILE;
  return cli::write_document(out, "trigger list", [&](char* path) {
    return trigger::Triggers::write(&list.records(), path, mode, -1, nullptr);
  });
}
