// The channel description commands' common part.
#include "chan_documents.h"

#include <string>
#include <utility>
#include <vector>

#include "cli_check.h"
#include "cli_clock.h"
#include "cli_forms.h"
#include "cli_messages.h"
#include "record_fields.h"
#include "record_json_read.h"

namespace chan_docs {

namespace {

using Chan = qal3::records::Description<chan_descr_2010>;

// The format --to names: 0 CHANDESCRIPTIONS, 1 DAQvariables; -1 for none.
int parse_format(const std::string& s) {
  if (s == "chandescr" || s == "CHANDESCRIPTIONS" || s == "0") return 0;
  if (s == "daqvars" || s == "DAQvariables" || s == "1") return 1;
  return -1;
}

}  // namespace

int parse_options(const cli::CommandInfo& command_info, int argc, char** argv, Options& o) {
  const std::string cmd = command_info.name;
  const int st = cli::parse(command_info, argc, argv, o);
  if (st >= 0) return st;
  o.format = o.has("to") ? parse_format(o.value("to")) : 0;
  if (o.format < 0) return cli::usage_error(cmd, "unknown format '" + cli::one_line(o.value("to")) + "'");
  if (o.operands.empty()) return cli::usage_error(cmd, "no description document given");
  if (!cli::input_format(command_info, o, &o.json_input)) return cli::kUsage;
  if (o.json_input && o.has("shift"))
    return cli::usage_error(cmd, "--shift is how the XML readers store types: with --from json they are as given");
  return cli::stdin_once(cmd, o.operands);
}

bool parse_descriptions(cli::Input& in, const cli::Reader& memory, const cli::Reader& file) {
  static const char kWhat[] = "channel descriptions";
  return in.from_stdin ? cli::parse_input(in, kWhat, memory, file) : cli::parse_input(in, kWhat, file);
}

bool parse_document(cli::Input& in, std::vector<chan_descr_2010*>* list, bool shift, bool merge) {
  return cli::read_records(in, list, {shift, merge}, true);
}

namespace {

// A document read into the list: its name and the records it appended
// (from `first` up to `last`).
struct Read {
  std::string name;
  std::size_t first;
  std::size_t last;
};

// Reads the documents into one list, each noted in *reads. With
// Findings::warn the findings of each are reported first, and with --strict
// they fail the run before any is parsed.
bool read_documents(const Options& o, std::vector<chan_descr_2010*>* list, const Writing& w, std::vector<Read>* reads) {
  // The names table names data types stored as masks.
  const bool shift = o.has("shift") || w.form == Form::names;
  bool ok = true;
  std::vector<cli::Input> inputs;
  for (const std::string& f : o.operands) {
    cli::Input in;
    if (cli::read_input(f, o.max_input, in))
      inputs.push_back(std::move(in));
    else
      ok = false;
  }
  if (o.json_input) {  // records as the JSON gives them: no XML to check, no reader to shift or merge
    for (cli::Input& in : inputs) {
      const std::size_t first = list->size();
      ok = cli::records_from_document(in, list) && ok;
      reads->push_back({in.name, first, list->size()});
    }
    return ok;
  }
  bool fatal = false;
  if (w.findings == Findings::warn) {
    for (const cli::Input& in : inputs) fatal = cli::warn_dropped(in.name, in.text, o.has("strict"), o.quiet) || fatal;
    cli::reader_notes_said();
  }
  if (fatal) return false;
  for (cli::Input& in : inputs) {
    cli::keep_date(o, in);
    const std::size_t first = list->size();
    ok = parse_document(in, list, shift, w.combine == Combine::merge) && ok;
    reads->push_back({in.name, first, list->size()});
  }
  return ok;
}

// Says for each document what its records lose in the format `o` writes
// (records::losses): as warnings, nothing with -q; as errors with --strict,
// and then true: nothing is to be written.
bool say_losses(const Options& o, const std::vector<chan_descr_2010*>& list, const std::vector<Read>& reads) {
  const qal3::records::Options to{false, false, o.format == 1};
  const bool strict = o.has("strict");
  bool lost = false;
  for (const Read& r : reads) {
    for (const qal3::records::Loss& loss : qal3::records::losses(list, to, r.first, r.last)) {
      lost = true;
      if (strict || !o.quiet)
        cli::file_error(r.name,
                        (strict ? "error: " : "warning: ") + qal3::records::loss_line<chan_descr_2010>(loss, to));
    }
  }
  return strict && lost;
}

}  // namespace

}  // namespace chan_docs

// Reads the documents into one list and writes it in the form of the
// command's row to o.out or standard output, whole or not at all. The
// output is made first, so that a folder it cannot be made in shows before
// any reading. A document is written only after what its records lose in
// the format written has been said (an error with --strict, which writes
// nothing).
int cmd_chan_write(const cli::CommandInfo& command_info, int argc, char** argv) {
  const chan_docs::Writing& w = *command_info.writing;
  chan_docs::Options o;
  const int st = chan_docs::parse_options(command_info, argc, argv, o);
  if (st >= 0) return st;
  if (w.format_required && !o.has("to")) return cli::usage_error(command_info.name, "--to FORMAT is required");
  cli::Output out(o.value("output"), cli::links_option(o));
  if (!out.open()) return cli::kBadDocument;
  chan_docs::List list;
  std::vector<chan_docs::Read> reads;
  if (!chan_docs::read_documents(o, &list.items, w, &reads)) return cli::kBadDocument;
  if (w.form == chan_docs::Form::xml && chan_docs::say_losses(o, list.items, reads)) return cli::kBadDocument;
  const int mode = static_cast<int>(w.form);
  const int written = cli::write_document(out, "channel descriptions", [&](char* path) {
    return chan_docs::Chan::write(&list.items, path, mode, w.form == chan_docs::Form::xml ? o.format : 0, -1, nullptr,
                                  nullptr);
  });
  if (written == cli::kOk && w.form == chan_docs::Form::xml && o.has("shift"))
    cli::file_error(out.name(),
                    "warning: event and data types written as masks (--shift): 'qal3 check' refuses them, and the "
                    "readers take them for other types");
  return written;
}
