// qal3 chan print: print the descriptions of each document, as a listing or
// as JSON.
#include <string>
#include <vector>

#include "chan_documents.h"
#include "record_json.h"

namespace {

// The JSON document {"files": [{"channels": [...], "file": NAME}, ...]},
// printed a channel at a time in the bytes cli::print_json gives the whole,
// so that no tree of every channel is ever held.
class JsonFiles {
 public:
  void file(const std::string& name, const std::vector<chan_descr_2010*>& channels) {
    std::string text = files_ ? ",\n    {\n" : "{\n  \"files\": [\n    {\n";
    text += "      \"channels\": [";
    bool any = false;
    for (const chan_descr_2010* d : channels) {
      if (!d) continue;
      text += any ? ",\n" : "\n";
      any = true;
      text += indented(dump(cli::record_json(*d)), "        ");
      cli::put(text);
      text.clear();
    }
    text += any ? "\n      ],\n" : "],\n";
    cli::put(text + "      \"file\": " + dump(name) + "\n    }");
    ++files_;
  }
  void finish() const { cli::put(files_ ? "\n  ]\n}\n" : "{\n  \"files\": []\n}\n"); }

 private:
  static std::string dump(const nlohmann::json& j) {
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  static std::string indented(const std::string& text, const std::string& by) {
    std::string out = by;
    for (const char c : text) {
      out += c;
      if (c == '\n') out += by;
    }
    return out;
  }
  std::size_t files_ = 0;
};

}  // namespace

int cmd_chan_print(const cli::CommandInfo& command_info, int argc, char** argv) {
  chan_docs::Options o;
  const int st = chan_docs::parse_options(command_info, argc, argv, o);
  if (st >= 0) return st;
  int status = cli::kOk;
  JsonFiles json;
  // The listing names the event and data types of masks, so it is made
  // from masks whatever the form asked for; --json shows that form.
  const bool shift = o.has("shift") || !o.json;
  for (const std::string& f : o.operands) {
    chan_docs::List list;
    cli::Input in;
    if (!cli::read_input(f, o.max_input, in)) {
      status = cli::kBadDocument;
      continue;
    }
    if (!chan_docs::parse_document(in, &list.items, shift, false)) {
      status = cli::kBadDocument;
      continue;
    }
    const std::string name = in.name;
    in = cli::Input();  // the records hold what is read
    if (o.json)
      json.file(name, list.items);
    else
      print_qal3_chan_descr(&list.items);
  }
  if (o.json) json.finish();
  return status;
}
