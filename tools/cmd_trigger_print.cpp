// qal3 trigger print: print a trigger list, as its listing or as JSON.
#include <string>

#include "record_json.h"
#include "trigger_list.h"
#include "user_case_trigger.h"

using trigger::slot_name;

namespace {

// The trigger's fields, with the names of its function and operation slots.
nlohmann::json trigger_json(const qal3_user_case_trigger& t) {
  nlohmann::json j = cli::record_json(t);
  j["function_name"] = slot_name(qal3_get_function_string(t.function));
  j["operation_name"] = slot_name(qal3_get_operation_string(t.operation));
  return j;
}

}  // namespace

int cmd_trigger_print(const cli::CommandInfo& command_info, int argc, char** argv) {
  cli::Args args;
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  if (args.operands.size() != 1) return cli::usage_error(command_info.name, "give exactly one trigger list");
  trigger::TriggerList list;
  if (!list.read(args.operands[0], args.max_input)) return cli::kBadDocument;
  if (args.json) {
    nlohmann::json triggers = nlohmann::json::array();
    for (const qal3_user_case_trigger* t : list.records())
      if (t) triggers.push_back(trigger_json(*t));
    cli::print_json({{"file", list.name()}, {"triggers", triggers}});
    return cli::kOk;
  }
  trigger::Triggers::write(&list.records(), nullptr, USER_TRIG_DUMP_TO_SCREEN, -1, nullptr);
  return cli::kOk;
}
