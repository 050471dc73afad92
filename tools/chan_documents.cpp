// The channel description commands' common part.
#include "chan_documents.h"

#include <utility>

#include "check_rules.h"
#include "record_fields.h"

namespace chan_docs {

namespace {

using Chan = qal3::records::Description<chan_descr_2010>;

bool parse_format(const std::string& s, int& format) {
  if (s == "chandescr" || s == "CHANDESCRIPTIONS" || s == "0") {
    format = 0;
  } else if (s == "daqvars" || s == "DAQvariables" || s == "1") {
    format = 1;
  } else {
    return false;
  }
  return true;
}

}  // namespace

int parse_options(const char* sub, int argc, char** argv, Options& o) {
  const std::string cmd = std::string("chan") + " " + sub;
  cli::Args args;
  const int st = cli::parse(cli::command(cmd), argc, argv, args);
  if (st >= 0) return st;
  o.shift = args.has("shift");
  o.strict = args.has("strict");
  o.json = args.json;
  o.quiet = args.quiet;
  o.max_input = args.max_input;
  o.out = args.value("output");
  o.links = cli::links_option(args);
  if (args.has("to")) {
    if (!parse_format(args.value("to"), o.format))
      return cli::usage_error(cmd, "unknown format '" + args.value("to") + "'");
    o.format_given = true;
  }
  o.files = args.operands;
  if (o.files.empty()) return cli::usage_error(cmd, "no description document given");
  return cli::stdin_once(cmd, o.files);
}

bool parse_document(cli::Input& in, std::vector<chan_descr_2010*>* list, bool shift, bool merge) {
  return parse_descriptions(
      in, [&](char* xml) { return Chan::read_text(xml, std::strlen(xml), list, {shift, merge}); },
      [&](char* path) { return Chan::read_file(path, list, {shift, merge}); });
}

namespace {

// Reads the documents into one list. With Findings::warn the findings of
// each are reported first, and with --strict they fail the run before any
// is parsed.
bool read_documents(const Options& o, std::vector<chan_descr_2010*>* list, Combine combine,
                    Findings findings) {
  const bool merge = combine == Combine::merge;
  const bool warn = findings == Findings::warn;
  bool ok = true;
  std::vector<cli::Input> inputs;
  for (const std::string& f : o.files) {
    cli::Input in;
    if (cli::read_input(f, o.max_input, in)) inputs.push_back(std::move(in));
    else ok = false;
  }
  if (warn && check::warn_dropped_inputs(inputs, o.strict, o.quiet)) return false;
  for (cli::Input& in : inputs) ok = parse_document(in, list, o.shift, merge) && ok;
  return ok;
}

}  // namespace

int convert_documents(const Options& o, Combine combine, Findings findings, int mode) {
  cli::Output out(o.out, o.links);
  if (!out.open()) return cli::kBadDocument;
  List list;
  if (!read_documents(o, list.get(), combine, findings)) return cli::kBadDocument;
  return cli::write_document(out, "channel descriptions", [&](char* path) {
    return Chan::write(list.get(), path, mode, mode == 2 ? o.format : 0, -1, nullptr, nullptr);
  });
}


}  // namespace chan_docs
