// qal3 trigger registry: list the function and operation slots.
#include <cstdio>
#include <string>

#include "cli_forms.h"
#include "trigger_list.h"
#include "user_case_trigger.h"

using trigger::slot_name;

namespace {

// The used slots of one table (all 32 with `all`): number, name, help text.
nlohmann::json table(char* (*help)(int), char* (*name)(int), bool all) {
  static const char kFree[] = " : undefined";
  nlohmann::json slots = nlohmann::json::array();
  for (int i = 0; i < 32; ++i) {
    const std::string text = help(i) ? help(i) : "";
    const bool free_slot = text.size() >= sizeof kFree - 1 &&
                           text.compare(text.size() - (sizeof kFree - 1), std::string::npos, kFree) == 0;
    if (free_slot && !all) continue;
    slots.push_back({{"slot", i}, {"name", slot_name(name(i))}, {"help", text}, {"free", free_slot}});
  }
  return slots;
}

// The help text of a slot without its "NAME : " prefix, as the Python
// module gives it (the name is a field of its own).
std::string bare_help(const nlohmann::json& slot) {
  std::string help = slot["help"].get<std::string>();
  const std::string prefix = slot["name"].get<std::string>() + " : ";
  if (help.compare(0, prefix.size(), prefix) == 0) help.erase(0, prefix.size());
  return help;
}

char* function_name(int i) { return const_cast<char*>(qal3_get_function_string(i)); }
char* operation_name(int i) { return const_cast<char*>(qal3_get_operation_string(i)); }

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
  if (functions) doc["functions"] = table(qal3_get_function_help, function_name, all);
  if (operations) doc["operations"] = table(qal3_get_operation_help, operation_name, all);
  if (args.json) {
    for (auto& part : doc)
      for (auto& slot : part) slot["help"] = bare_help(slot);
    cli::print_json(doc);
    return cli::kOk;
  }
  if (functions) print_table("Functions", doc["functions"]);
  if (functions && operations) cli::put("\n");
  if (operations) print_table("Operations", doc["operations"]);
  return cli::kOk;
}
