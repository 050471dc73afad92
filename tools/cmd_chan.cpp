// qal3 chan: print, convert, list, merge and query channel descriptions
// (CHANDESCRIPTIONS and DAQvariables documents).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "chan_selector.h"
#include "check_rules.h"
#include "cli_common.h"
#include "event_util.h"
#include "parse_chan_descr.h"

namespace {

const char kCmd[] = "chan";

// Options shared by the commands that read documents and write one.
struct Options {
  bool shift = false;
  bool strict = false;  // findings of the documents are fatal
  bool format_given = false;
  int format = 0;  // 0 CHANDESCRIPTIONS, 1 DAQvariables
  bool json = false;
  bool quiet = false;
  cli::Output::Links links = cli::Output::Links::replace;
  std::size_t max_input = cli::kDefaultMaxInput;
  std::string out;
  std::vector<std::string> files;
};

// The descriptions read by a command, released on every path.
class List {
 public:
  List() = default;
  List(const List&) = delete;
  List& operator=(const List&) = delete;
  ~List() { clean_chan_desr_list(&v_); }
  std::vector<chan_descr_2010*>* get() { return &v_; }

 private:
  std::vector<chan_descr_2010*> v_;
};

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

// Parses the options of print/convert/listing/names/merge. Returns -1 to go
// on, else the exit status (help shown or usage error).
int parse_options(const char* sub, int argc, char** argv, Options& o) {
  const std::string cmd = std::string(kCmd) + " " + sub;
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

// Reads a channel description document with `memory(text)` or `file(path)`:
// a named file with the file reader's rules, whose details differ, as it
// always has; standard input with the memory reader.
template <class Memory, class File>
auto read_descriptions(cli::Input& in, Memory&& memory, File&& file) {
  return in.from_stdin ? cli::read_document(in, memory, file) : cli::read_as_file(in, file);
}

// Parses one document read from the command line into *list.
bool parse_document(cli::Input& in, std::vector<chan_descr_2010*>* list, bool shift, bool merge) {
  const auto rc = read_descriptions(
      in, [&](char* xml) { return parse_descr_list_read(xml, list, shift, merge); },
      [&](char* path) { return parse_descr_list_readf(path, list, shift, merge); });
  if (rc.value_or(1) != 0) {
    cli::file_error(in.name, "channel descriptions not read");
    return false;
  }
  return true;
}

// How documents are combined into one list: appended as read, or merged
// by property name.
enum class Combine { append, merge };
// Whether the findings of each document (what a conversion would drop or
// change) are reported before it is read.
enum class Findings { silent, warn };

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

// Reads the documents into one list and writes it (mode 2 XML in o.format,
// 1 listing, 3 names table) to o.out or standard output, whole or not at
// all. The output is made first, so that a folder it cannot be made in
// shows before any reading.
int convert_documents(const Options& o, Combine combine, Findings findings, int mode = 2) {
  cli::Output out(o.out, o.links);
  if (!out.open()) return cli::kBadDocument;
  List list;
  if (!read_documents(o, list.get(), combine, findings)) return cli::kBadDocument;
  int rc;
  {
    const cli::MessageScope scope(out.name(), out.writer_path(), cli::MessageScope::kWriting);
    rc = dump_chan_desr(list.get(), out.writer_path(), mode, mode == 2 ? o.format : 0);
  }
  if (rc != 0) {
    cli::file_error(out.name(), "channel descriptions not written");
    return cli::kBadDocument;
  }
  return out.commit() ? cli::kOk : cli::kBadDocument;
}

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

int run_print(int argc, char** argv) {
  Options o;
  const int st = parse_options("print", argc, argv, o);
  if (st >= 0) return st;
  int status = cli::kOk;
  nlohmann::json files = nlohmann::json::array();
  // The listing names the event and data types of masks, so it is made
  // from masks whatever the form asked for; --json shows that form.
  const bool shift = o.shift || !o.json;
  for (const std::string& f : o.files) {
    List list;
    cli::Input in;
    if (!cli::read_input(f, o.max_input, in) || !parse_document(in, list.get(), shift, false)) {
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

int run_convert(int argc, char** argv) {
  Options o;
  const int st = parse_options("convert", argc, argv, o);
  if (st >= 0) return st;
  if (!o.format_given) return cli::usage_error("chan convert", "--to FORMAT is required");
  return convert_documents(o, Combine::append, Findings::warn);
}

int run_merge(int argc, char** argv) {
  Options o;
  const int st = parse_options("merge", argc, argv, o);
  if (st >= 0) return st;
  return convert_documents(o, Combine::merge, Findings::warn);
}

// listing (mode 1) and names (mode 3): text tables.
int run_table(const char* sub, int mode, int argc, char** argv) {
  Options o;
  const int st = parse_options(sub, argc, argv, o);
  if (st >= 0) return st;
  if (mode == 3) o.shift = true;  // the table names data types stored as masks
  return convert_documents(o, Combine::append, Findings::silent, mode);
}

// ---------------------------------------------------------------------------
// select

// Names of the event types set in `mask`, joined by ':'.
std::string event_names(unsigned mask) {
  std::string s;
  for (int n = 0; n < 32; ++n) {
    if (!((mask >> n) & 1u)) continue;
    if (!s.empty()) s += ':';
    s += event_name_itoa(n);
  }
  return s;
}

// Names of the sub-block types of a data-type mask (bit 31 marks the 2010
// layout: bit n then stands for type 32 + n).
std::string block_names(unsigned mask) {
  const int base = (mask & 0x80000000u) != 0 ? 32 : 0;
  std::string s;
  for (int n = 0; n < 31; ++n) {
    if (!((mask >> n) & 1u)) continue;
    if (!s.empty()) s += ':';
    s += block_name_itoa(base + n);
  }
  return s;
}

// An event type given as a number 0..31 or by its name; -1 when neither.
int parse_event_type(const std::string& s) {
  if (s.empty()) return -1;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (*end == '\0') return v >= 0 && v < 32 ? static_cast<int>(v) : -1;
  for (int n = 0; n < 32; ++n)
    if (s == event_name_itoa(n)) return n;
  return -1;
}

// Index of the first description with DAQ name `name`, else with that
// property; -1 when none.
int find_index(chan_selector& sel, const std::string& name) {
  for (int i = 0; i < sel.size(); ++i)
    if (name == sel.get_channel(i)) return i;
  for (int i = 0; i < sel.size(); ++i)
    if (name == sel.get_prop(i)) return i;
  return -1;
}

// Loads each document with its own set_descriptions call, so that a failed
// document is named.
bool load_selector(chan_selector& sel, const std::vector<std::string>& files, std::size_t max_input) {
  bool ok = true;
  for (const std::string& f : files) {
    cli::Input in;
    if (!cli::read_input(f, max_input, in)) {
      ok = false;
      continue;
    }
    const auto load = [&sel](int mode, char* source) {
      sel.change_mode(mode);
      std::vector<char*> src{source};
      return sel.set_descriptions(&src, nullptr);
    };
    const auto failed = read_descriptions(
        in, [&](char* xml) { return load(1, xml); }, [&](char* path) { return load(0, path); });
    if (failed.value_or(true)) {
      cli::file_error(in.name, "channel descriptions not read");
      ok = false;
    }
  }
  return ok;
}

// Exit statuses of select: the answer, as grep gives it.
enum Answer : int { kYes = 0, kNo = 1, kError = 2 };

int run_select(int argc, char** argv) {
  const char* cmd = "chan select";
  cli::Args a;
  const int st = cli::parse(cli::command(cmd), argc, argv, a);
  if (st >= 0) return st;
  const std::vector<std::string>& args = a.operands;
  if (args.empty()) return cli::usage_error(cmd, "no question given");
  const std::string q = args[0];
  if (std::find(std::begin(cli::kSelectQuestions), std::end(cli::kSelectQuestions), q) ==
      std::end(cli::kSelectQuestions))
    return cli::usage_error(cmd, "unknown question '" + q + "'");
  const std::size_t nargs = q == "in-event" ? 2 : 1;
  if (args.size() < 1 + nargs) return cli::usage_error(cmd, q + ": missing argument");
  if (args.size() == 1 + nargs) return cli::usage_error(cmd, "no description document given");
  int ev = -1;
  if (q == "in-event") {
    ev = parse_event_type(args[1]);
    if (ev < 0) return cli::usage_error(cmd, "unknown event type '" + args[1] + "'");
  }
  std::string chan = args[nargs];
  const std::vector<std::string> files(args.begin() + 1 + nargs, args.end());
  if (cli::stdin_once(cmd, files) >= 0) return kError;

  chan_selector sel;
  if (!load_selector(sel, files, a.max_input)) return kError;
  const int num = find_index(sel, chan);
  const bool known = num >= 0;
  nlohmann::json doc = {{"question", q}, {"channel", chan}, {"known", known}};
  std::string text;
  int status = known ? kYes : kNo;
  const cli::MessageScope scope(cmd);  // the selector's notes go to standard error
  if (q == "in-event") {
    const bool yes = sel.find_channel(ev, &chan[0]);
    doc["event_type"] = ev;
    doc["answer"] = yes;
    text = yes ? "yes\n" : "no\n";
    status = yes ? kYes : kNo;
  } else if (q == "event-type" || q == "data-type") {
    const unsigned m = static_cast<unsigned>(q == "event-type" ? sel.get_event_type(&chan[0])
                                                               : sel.get_data_type(&chan[0]));
    const std::string names = q == "event-type" ? event_names(m) : block_names(m);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", m);
    doc["answer"] = {{"mask", m}, {"names", names}};
    text = std::string(hex) + " " + names + "\n";
  } else {
    const int r = q == "slow" ? sel.is_channel_slow(num)
                  : q == "ml" ? sel.is_channel_ml(num)
                              : sel.get_subchannels(num);
    doc["answer"] = r;
    text = std::to_string(r) + "\n";
  }
  if (!known) cli::file_error(cmd, "unknown channel '" + chan + "'");
  if (a.json) cli::print_json(doc);
  else if (!a.quiet) cli::put(text);
  // An answer that cannot be written is an error, never the answer "no".
  cli::flush_stdout();
  return std::ferror(stdout) ? kError : status;
}

}  // namespace

int cmd_chan(int argc, char** argv) {
  const cli::CommandInfo& group = cli::command(kCmd);
  if (argc < 2) {
    std::fputs(cli::help_text(group).c_str(), stderr);
    return cli::kUsage;
  }
  const std::string sub = argv[1];
  if (sub == "-h" || sub == "--help" || sub == "help") return cli::put(cli::help_text(group)), cli::kOk;
  if (sub == "--version") return cli::print_version(), cli::kOk;
  if (sub == "print") return run_print(argc - 1, argv + 1);
  if (sub == "convert") return run_convert(argc - 1, argv + 1);
  if (sub == "listing") return run_table("listing", 1, argc - 1, argv + 1);
  if (sub == "names") return run_table("names", 3, argc - 1, argv + 1);
  if (sub == "merge") return run_merge(argc - 1, argv + 1);
  if (sub == "select") return run_select(argc - 1, argv + 1);
  return cli::usage_error(kCmd, "unknown command '" + sub + "'");
}
