// qal3 chan print: print the descriptions of each document, as a listing or
// as JSON.
#include <string>

#include "chan_documents.h"
#include "record_json.h"

int cmd_chan_print(const cli::CommandInfo& command_info, int argc, char** argv) {
  chan_docs::Options o;
  const int st = chan_docs::parse_options(command_info, argc, argv, o);
  if (st >= 0) return st;
  int status = cli::kOk;
  nlohmann::json files = nlohmann::json::array();
  // The listing names the event and data types of masks, so it is made
  // from masks whatever the form asked for; --json shows that form.
  const bool shift = o.has("shift") || !o.json;
  for (const std::string& f : o.operands) {
    chan_docs::List list;
    cli::Input in;
    if (!cli::read_input(f, o.max_input, in) || !chan_docs::parse_document(in, &list.items, shift, false)) {
      status = cli::kBadDocument;
      continue;
    }
    if (o.json) {
      nlohmann::json channels = nlohmann::json::array();
      for (const chan_descr_2010* d : list.items)
        if (d) channels.push_back(cli::record_json(*d));
      files.push_back({{"file", in.name}, {"channels", channels}});
      continue;
    }
    print_qal3_chan_descr(&list.items);
  }
  if (o.json) cli::print_json({{"files", files}});
  return status;
}
