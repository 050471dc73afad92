// qal3 gige: list the features of GigE camera feature files.
#include <string>
#include <utility>
#include <vector>

#include "cli_commands.h"
#include "cli_input.h"
#include "cli_output.h"
#include "qal3_gige_descr.h"
#include "record_fields.h"
#include "record_json.h"
#include "record_text.h"

namespace {

using Feature = qal3::records::Description<QAL3GigEFeature>;

// The features of one file, destroyed on exit.
using Features = qal3::records::OwnedList<QAL3GigEFeature>;

std::string type_name(int type) { return type >= 0 && type < FEATURE_TYPE_MAX ? FeatureTags[type] : "Undefined"; }

// Reads one file into `features`; false (message printed) on failure.
bool read_features(const std::string& arg, std::size_t max_input, std::string& name, Features& features) {
  cli::Input in;
  if (!cli::read_input(arg, max_input, in)) return false;
  name = in.name;
  // The root as the library finds it: the reader takes any root but
  // another family's, as the library's reader does; a document without one
  // goes to the reader, which says why.
  const cli::Root root = cli::root_of(in);
  if (!root.name.empty() && root.family != QAL3_FAMILY_GIGE && root.family != QAL3_FAMILY_UNKNOWN) {
    cli::root_error(in, root, "not a feature file: root element '" + root.name + "' must be '" + Feature::root + "'");
    return false;
  }
  // The reader takes a path only: it reads the very bytes checked above.
  return cli::parse_input(in, "feature file",
                          [&](char* path) { return Feature::read_file(path, &features.items, {}); });
}

}  // namespace

int cmd_gige(const cli::CommandInfo& command_info, int argc, char** argv) {
  cli::Args args;
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  if (args.operands.empty()) return cli::usage_error(command_info.name, "no feature file given");
  if (cli::stdin_once(command_info.name, args.operands) >= 0) return cli::kUsage;

  int status = cli::kOk;
  nlohmann::json files = nlohmann::json::array();
  for (const std::string& f : args.operands) {
    Features features;
    std::string name;
    if (!read_features(f, args.max_input, name, features)) {
      status = cli::kBadDocument;
      continue;
    }
    std::size_t unnamed = 0;
    nlohmann::json list = nlohmann::json::array();
    std::string lines;
    for (std::size_t i = 0; i < features.items.size(); ++i) {
      const QAL3GigEFeature* x = features.items[i];
      if (args.json) {
        nlohmann::json feature = cli::record_json(*x);
        feature["position"] = i;
        feature["type_name"] = type_name(x->type);
        list.push_back(std::move(feature));
      }
      if (x->name.empty()) {
        ++unnamed;
        continue;
      }
      // The position and the type's name, then the feature's fields.
      std::vector<std::string> cells{std::to_string(i), type_name(x->type)};
      for (std::string& cell : cli::record_cells(*x)) cells.push_back(std::move(cell));
      lines += cli::tab_line(cells);
    }
    if (args.json) {
      files.push_back({{"file", name}, {"features", list}});
      continue;
    }
    if (!args.quiet) cli::put(lines);
    std::string summary = name + ": " + std::to_string(features.items.size()) + " features";
    if (unnamed) summary += " (" + std::to_string(unnamed) + " without a name)";
    cli::put(summary + "\n");
  }
  if (args.json) cli::print_json({{"files", files}});
  return status;
}
