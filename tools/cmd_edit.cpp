// qal3 trigger|chan|envdict set|add|drop: a record of a document changed,
// added or dropped, with only the bytes of the change rewritten.
#include <cstring>
#include <string>

#include "cli_args.h"
#include "cli_commands.h"
#include "cli_input.h"
#include "cli_messages.h"
#include "cli_output.h"
#include "record_edit.h"

namespace {

using qal3::edit::Action;

// The command's last word: set, add or drop.
Action action_of(const std::string& name) {
  if (name.size() >= 3 && name.compare(name.size() - 3, 3, "add") == 0) return Action::add;
  if (name.size() >= 4 && name.compare(name.size() - 4, 4, "drop") == 0) return Action::drop;
  return Action::set;
}

}  // namespace

int cmd_edit(const cli::CommandInfo& command_info, int argc, char** argv) {
  cli::Args args;
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  const std::string name = command_info.name;
  qal3::edit::Request request;
  request.action = action_of(name);
  request.all = args.has("all");
  const std::size_t fixed = request.action == Action::add ? 1 : 2;
  if (args.operands.size() < fixed || (request.action != Action::drop && args.operands.size() == fixed))
    return cli::usage_error(command_info.name, std::string("give FILE") + (fixed == 2 ? " SELECTOR" : "") +
                                                   (request.action == Action::drop ? "" : " FIELD=VALUE..."));
  if (request.action == Action::drop && args.operands.size() > 2)
    return cli::usage_error(command_info.name, "drop takes FILE and one SELECTOR");
  if (args.has("in-place") && args.has("output"))
    return cli::usage_error(command_info.name, "--in-place and --output exclude each other");
  if (args.has("in-place") && args.operands[0] == "-")
    return cli::usage_error(command_info.name, "--in-place needs a file, not standard input");
  if (fixed == 2) request.selector = args.operands[1];
  request.assignments.assign(args.operands.begin() + static_cast<long>(fixed), args.operands.end());

  cli::Output out(args.has("in-place") ? args.operands[0] : args.value("output"), cli::links_option(args));
  if (!out.open()) return cli::kBadDocument;
  cli::Input in;
  if (!cli::read_input(args.operands[0], args.max_input, in)) return cli::kBadDocument;
  const cli::Root root = cli::root_of(in);
  // The command's family: its first word.
  const bool mine = name.rfind("trigger", 0) == 0 ? root.family == QAL3_FAMILY_TRIGGER_LIST
                    : name.rfind("chan", 0) == 0
                        ? root.family == QAL3_FAMILY_CHAN_DESCRIPTIONS || root.family == QAL3_FAMILY_DAQ_VARIABLES
                    : name.rfind("envdict", 0) == 0 ? root.family == QAL3_FAMILY_ENV_DICT
                                                    : false;
  if (!mine) {
    cli::root_error(in, root, "not a document this command edits");
    return cli::kBadDocument;
  }
  const qal3::edit::Outcome result =
      qal3::edit::edit_document(root.family, in.name, in.text, request, args.has("old-layout"));
  if (!result.error.empty()) {
    if (result.line > 0) {
      cli::flush_stdout();
      std::fprintf(stderr, "%s:%d:%d: %s\n", in.name.c_str(), result.line, result.column, result.error.c_str());
    } else {
      cli::file_error(in.name, result.error);
    }
    return cli::kBadDocument;
  }
  if (!out.write(result.document) || !out.commit()) return cli::kBadDocument;
  return cli::kOk;
}
