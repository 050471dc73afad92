// Records read back from the tool's JSON: the document's parse and the
// messages of a refusal.
#include "record_json_read.h"

#include "cli_forms.h"
#include "cli_output.h"
#include "document_limits.h"

namespace cli {

bool input_format(const CommandInfo& command_info, const Args& args, bool* json) {
  const std::string from = args.has("from") ? args.value("from") : "xml";
  *json = from == "json";
  if (from != "xml" && from != "json")
    return usage_error(command_info.name, "--from must be xml or json, not '" + one_line(from) + "'"), false;
  if (*json && args.has("keep-date"))
    return usage_error(command_info.name, "--keep-date keeps an XML input's isodate: not with --from json"), false;
  return true;
}

bool parse_json(const Input& in, nlohmann::json* doc) {
  struct TooDeep {};
  const auto bounded = [](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
    if (static_cast<std::size_t>(depth) > qal3::limits::kMaxDepth) throw TooDeep();
    return true;
  };
  try {
    *doc = nlohmann::json::parse(in.text, bounded);
    return true;
  } catch (const nlohmann::json::parse_error& e) {
    // The byte the parser stopped at counts from 1; its message says where
    // again ("... at line 1, column 2: why"), which the position says.
    const std::string what = e.what();
    const std::size_t at = what.find("column");
    const std::size_t colon = at == std::string::npos ? at : what.find(": ", at);
    document_error(in, e.byte > 0 ? e.byte - 1 : 0,
                   "not JSON: " + (colon == std::string::npos ? what : what.substr(colon + 2)));
  } catch (const TooDeep&) {
    file_error(in.name, "not read: nested deeper than " + std::to_string(qal3::limits::kMaxDepth) + " levels");
  }
  return false;
}

void json_refused(const Input& in, const JsonRefusal& r) {
  file_error(in.name, (r.path.empty() ? std::string("the document") : r.path) + ": " + one_line(r.what()));
}

}  // namespace cli
