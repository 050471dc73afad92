// qal3 chan print: print the descriptions of each document, as a listing or
// as JSON.
#include <cstdint>
#include <string>

#include "chan_documents.h"
#include "cli_common.h"

namespace {

nlohmann::json channel_json(const chan_descr_2010& d) {
  nlohmann::json bits = nlohmann::json::array();
  for (const bit_descr* b : d.bits)
    if (b)
      bits.push_back({{"bit", b->bit}, {"bit_name", cli::field_text(b->bit_name)},
                      {"bit_desc", cli::field_text(b->bit_desc)}});
  nlohmann::json dims = nlohmann::json::array();
  for (const dim_descr* x : d.dims) {
    if (!x) continue;
    nlohmann::json stats = nlohmann::json::array();
    for (const stat_descr* s : x->stats)
      if (s)
        stats.push_back({{"stat", s->stat}, {"stat_name", cli::field_text(s->stat_name)},
                         {"stat_desc", cli::field_text(s->stat_desc)}, {"units", cli::field_text(s->units)}});
    dims.push_back({{"dim", x->dim}, {"dim_name", cli::field_text(x->dim_name)},
                    {"dim_desc", cli::field_text(x->dim_desc)}, {"units", cli::field_text(x->units)},
                    {"nstats", x->nstats}, {"stats", stats}});
  }
  // Event and data types in the sign the writers give them ("%d"), so that
  // a mask with bit 31 reads the same here and in a written document.
  return {{"stream", d.stream},       {"ev_type", static_cast<std::int32_t>(d.ev_type)},
          {"count", d.count},         {"dtype", static_cast<std::int32_t>(d.dtype)},
          {"db_key", d.db_key},       {"prop_name", cli::field_text(d.prop_name)},
          {"daq_name", cli::field_text(d.daq_name)}, {"prop_desc", cli::field_text(d.prop_desc)},
          {"units", cli::field_text(d.units)},       {"max_size", d.max_size},
          {"nbits", d.nbits},         {"bits", bits},
          {"ndims", d.ndims},         {"dims", dims},
          {"sb_name", cli::field_text(d.sb_name)},   {"set_point", d.set_point},
          {"subsystem", cli::field_text(d.subsystem)}};
}

}  // namespace

int cmd_chan_print(int argc, char** argv) {
  chan_docs::Options o;
  const int st = chan_docs::parse_options("print", argc, argv, o);
  if (st >= 0) return st;
  int status = cli::kOk;
  nlohmann::json files = nlohmann::json::array();
  // The listing names the event and data types of masks, so it is made
  // from masks whatever the form asked for; --json shows that form.
  const bool shift = o.shift || !o.json;
  for (const std::string& f : o.files) {
    chan_docs::List list;
    cli::Input in;
    if (!cli::read_input(f, o.max_input, in) || !chan_docs::parse_document(in, list.get(), shift, false)) {
      status = cli::kBadDocument;
      continue;
    }
    if (o.json) {
      nlohmann::json channels = nlohmann::json::array();
      for (const chan_descr_2010* d : *list.get())
        if (d) channels.push_back(channel_json(*d));
      files.push_back({{"file", in.name}, {"channels", channels}});
      continue;
    }
    print_qal3_chan_descr(list.get());
  }
  if (o.json) cli::print_json({{"files", files}});
  return status;
}

