// qal3 trigger registry: list the function and operation slots.
#include <cstdio>
#include <string>

#include "cli_forms.h"
#include "trigger_facts.h"
#include "trigger_list.h"
#include "user_case_trigger.h"

using trigger::slot_name;

namespace {

// The used slots of one table (all with `all`): number, name, help text and
// whether the slot is free. The help text is as the registry gives it
// ("NAME : help"), or without its "NAME : " with `bare`, as the Python
// module gives it (the name is a field of its own).
nlohmann::json table(bool functions, bool all, bool bare) {
  nlohmann::json slots = nlohmann::json::array();
  for (int i = 0; i < qal3::trigger::kSlots; ++i) {
    const bool free_slot = qal3::trigger::slot_free(i, functions);
    if (free_slot && !all) continue;
    const char* help = functions ? qal3_get_function_help(i) : qal3_get_operation_help(i);
    const char* name = functions ? qal3_get_function_string(i) : qal3_get_operation_string(i);
    slots.push_back({{"slot", i},
                     {"name", slot_name(name)},
                     {"help", bare ? qal3::trigger::bare_help(help, name) : slot_name(help)},
                     {"free", free_slot}});
  }
  return slots;
}

void print_table(const char* title, const nlohmann::json& slots) {
  std::string out = std::string(title) + ":\n";
  char num[16];
  for (const auto& s : slots) {
    std::snprintf(num, sizeof num, "  %2d  ", s["slot"].get<int>());
    out += num + cli::one_line(s["help"].get<std::string>()) + "\n";
  }
  cli::put(out);
}

}  // namespace

int cmd_trigger_registry(const cli::CommandInfo& command_info, int argc, char** argv) {
  cli::Args args;
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  if (!args.operands.empty())
    return cli::usage_error("trigger registry", "unexpected argument '" + args.operands[0] + "'");
  bool functions = !args.has("operations") || args.has("functions");
  bool operations = !args.has("functions") || args.has("operations");
  if (args.has("functions") && args.has("operations"))
    return cli::usage_error("trigger registry", "--functions and --operations exclude each other");
  const bool all = args.has("all");
  nlohmann::json doc = nlohmann::json::object();
  if (functions) doc["functions"] = table(true, all, args.json);
  if (operations) doc["operations"] = table(false, all, args.json);
  if (args.json) {
    cli::print_json(doc);
    return cli::kOk;
  }
  if (functions) print_table("Functions", doc["functions"]);
  if (functions && operations) cli::put("\n");
  if (operations) print_table("Operations", doc["operations"]);
  return cli::kOk;
}
