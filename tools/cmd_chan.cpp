// qal3 chan: print, convert, list, merge and query channel descriptions
// (CHANDESCRIPTIONS and DAQvariables documents).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "chan_selector.h"
#include "check_rules.h"
#include "cli_common.h"
#include "event_util.h"
#include "parse_chan_descr.h"

namespace {

const char kCmd[] = "chan";

const char kHelp[] =
    "Usage: qal3 chan COMMAND [options] ...\n"
    "\n"
    "Channel description documents (root CHANDESCRIPTIONS or DAQvariables).\n"
    "\n"
    "Commands:\n"
    "  print    FILE...                 print the descriptions of each document\n"
    "  convert  --to FORMAT FILE...     write the descriptions in another format\n"
    "  listing  -o OUT FILE...          write the tab-separated listing\n"
    "  names    -o OUT FILE...          write the DAQ name, size and data type table\n"
    "  merge    FILE...                 merge several documents into one\n"
    "  select   QUESTION ARG... FILE... ask the channel selector a question\n"
    "\n"
    "Run 'qal3 chan COMMAND --help' for the options of a command.\n"
    "A FILE of '-' reads standard input.\n"
    "\n"
    "Exit status: 0 success, 1 a document could not be read or written, 2 usage error.\n";

const char kPrintHelp[] =
    "Usage: qal3 chan print [--shift] FILE...\n"
    "\n"
    "Reads each description document and prints its channels.\n"
    "\n"
    "Options:\n"
    "  --shift     read event and data types as masks (bit n for type n)\n"
    "  -h, --help  show this help\n";

const char kConvertHelp[] =
    "Usage: qal3 chan convert --to FORMAT [--shift] [-o OUT] FILE...\n"
    "\n"
    "Reads the description documents (either format) and writes their channels\n"
    "as one document of FORMAT. A property that appears again is written once.\n"
    "\n"
    "Options:\n"
    "  --to FORMAT   chandescr (CHANDESCRIPTIONS) or daqvars (DAQvariables)\n"
    "  --shift       read event and data types as masks and write the masks\n"
    "  --strict      fail, writing nothing, when a document has findings\n"
    "  -o OUT        write to the file OUT (default: standard output)\n"
    "  -h, --help    show this help\n"
    "\n"
    "DAQvariables carries no data type, stream, count, database key, server\n"
    "block name or statistics; bit titles are written from bit descriptions.\n";

const char kListingHelp[] =
    "Usage: qal3 chan listing [--shift] -o OUT FILE...\n"
    "\n"
    "Writes the channels as a tab-separated listing to the file OUT: per channel\n"
    "stream, event type, DAQ name, property, set point, description, units, size,\n"
    "number of bits and of dimensions, then its bits, dimensions and statistics.\n"
    "\n"
    "Options:\n"
    "  --shift     read event and data types as masks\n"
    "  -o OUT      the file to write (required)\n"
    "  -h, --help  show this help\n";

const char kNamesHelp[] =
    "Usage: qal3 chan names -o OUT FILE...\n"
    "\n"
    "Writes one line per channel to the file OUT: the DAQ name right-aligned in\n"
    "50 columns, the size and the name of the data type. Data types are read as\n"
    "masks.\n"
    "\n"
    "Options:\n"
    "  -o OUT      the file to write (required)\n"
    "  -h, --help  show this help\n";

const char kMergeHelp[] =
    "Usage: qal3 chan merge [--to FORMAT] [--shift] [-o OUT] FILE...\n"
    "\n"
    "Reads the documents in order into one list, merging a channel whose property\n"
    "is already known into the first one (it takes the event and data type when\n"
    "the first has none and adds its stream), and writes the result as one\n"
    "document.\n"
    "\n"
    "Options:\n"
    "  --to FORMAT   chandescr (default) or daqvars\n"
    "  --shift       read event and data types as masks and write the masks\n"
    "  --strict      fail, writing nothing, when a document has findings\n"
    "  -o OUT        write to the file OUT (default: standard output)\n"
    "  -h, --help    show this help\n";

const char kSelectHelp[] =
    "Usage: qal3 chan select QUESTION ARG... FILE...\n"
    "\n"
    "Loads the documents into a channel selector (event and data types as masks)\n"
    "and answers one question. CHANNEL is a DAQ name or a property name.\n"
    "\n"
    "Questions:\n"
    "  in-event TYPE CHANNEL  yes/no: is CHANNEL wanted in events of TYPE\n"
    "                         (a number 0..31 or a name such as UPD); local and\n"
    "                         ML event types know channels by DAQ name, the\n"
    "                         others by property\n"
    "  event-type CHANNEL     the event-type mask and the names of its types\n"
    "  data-type CHANNEL      the data-type mask of the DAQ name and its types\n"
    "  slow CHANNEL           1 slow, 0 not slow, -1 unknown or without type\n"
    "  ml CHANNEL             1 ML channel, 0 not, -1 unknown or without type\n"
    "  subchannels CHANNEL    1 for a slow channel, else the number of dimensions\n"
    "\n"
    "Options:\n"
    "  -h, --help  show this help\n";

// Options shared by the commands that read documents and write one.
struct Options {
  bool shift = false;
  bool strict = false;  // findings of the inputs are fatal
  bool format_given = false;
  int format = 0;  // 0 CHANDESCRIPTIONS, 1 DAQvariables
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
int parse_options(const char* sub, const char* help, int argc, char** argv, bool with_format,
                  bool with_out, bool with_shift, Options& o) {
  const std::string cmd = std::string(kCmd) + " " + sub;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (cli::is_help(a)) {
      std::fputs(help, stdout);
      return cli::kOk;
    }
    if (with_shift && a == "--shift") {
      o.shift = true;
    } else if (with_out && a == "--strict") {
      o.strict = true;
    } else if (with_format && (a == "--to" || a == "-t")) {
      if (++i >= argc) return cli::usage_error(cmd.c_str(), "--to needs a format");
      if (!parse_format(argv[i], o.format))
        return cli::usage_error(cmd.c_str(), std::string("unknown format '") + argv[i] + "'");
      o.format_given = true;
    } else if (with_out && a == "-o") {
      if (++i >= argc) return cli::usage_error(cmd.c_str(), "-o needs a file name");
      o.out = argv[i];
      if (o.out.empty()) return cli::usage_error(cmd.c_str(), "-o needs a file name");
    } else if (a.size() > 1 && a[0] == '-') {
      return cli::usage_error(cmd.c_str(), "unknown option '" + a + "'");
    } else {
      o.files.push_back(a);
    }
  }
  if (o.files.empty()) return cli::usage_error(cmd.c_str(), "no description document given");
  return -1;
}

// Reads one document (a path, or "-" for standard input) into *list.
bool read_document(const std::string& file, std::vector<chan_descr_2010*>* list, bool shift,
                   bool merge) {
  cli::Input in;
  if (!cli::open_input(file, in)) return false;
  const int rc = in.from_stdin
                     ? parse_descr_list_read(&in.text[0], list, shift, merge)
                     : parse_descr_list_readf(const_cast<char*>(file.c_str()), list, shift, merge);
  if (rc != 0) {
    cli::file_error(in.name, "channel descriptions not read (error sum " + std::to_string(rc) + ")");
    return false;
  }
  return true;
}

bool read_documents(const Options& o, std::vector<chan_descr_2010*>* list, bool merge) {
  bool ok = true;
  for (const std::string& f : o.files) ok = read_document(f, list, o.shift, merge) && ok;
  return ok;
}

// Writes the XML document of *list to o.out, or to standard output.
int write_document(const Options& o, std::vector<chan_descr_2010*>* list) {
  if (!o.out.empty()) {
    std::fflush(stdout);
    const int rc = dump_chan_desr(list, const_cast<char*>(o.out.c_str()), 2, o.format);
    if (rc != 0) {
      cli::file_error(o.out, "cannot be written");
      return cli::kBadDocument;
    }
    return cli::kOk;
  }
  std::string doc;
  if (dump_chan_desr(list, nullptr, 2, o.format, -1, &doc) != 0) return cli::kBadDocument;
  if (std::fwrite(doc.data(), 1, doc.size(), stdout) != doc.size() || std::fflush(stdout) != 0) {
    cli::file_error("<stdout>", "cannot be written");
    return cli::kBadDocument;
  }
  return cli::kOk;
}

int run_print(int argc, char** argv) {
  Options o;
  const int st = parse_options("print", kPrintHelp, argc, argv, false, false, true, o);
  if (st >= 0) return st;
  int status = cli::kOk;
  for (const std::string& f : o.files) {
    List list;
    if (!read_document(f, list.get(), o.shift, false)) {
      status = cli::kBadDocument;
      continue;
    }
    print_qal3_chan_descr(list.get());
    std::fflush(stdout);
  }
  return status;
}

int run_convert(int argc, char** argv) {
  Options o;
  const int st = parse_options("convert", kConvertHelp, argc, argv, true, true, true, o);
  if (st >= 0) return st;
  if (!o.format_given) return cli::usage_error("chan convert", "--to FORMAT is required");
  if (check::warn_dropped_inputs(o.files, "", o.strict)) return cli::kBadDocument;
  List list;
  if (!read_documents(o, list.get(), false)) return cli::kBadDocument;
  return write_document(o, list.get());
}

int run_merge(int argc, char** argv) {
  Options o;
  const int st = parse_options("merge", kMergeHelp, argc, argv, true, true, true, o);
  if (st >= 0) return st;
  if (check::warn_dropped_inputs(o.files, "", o.strict)) return cli::kBadDocument;
  List list;
  if (!read_documents(o, list.get(), true)) return cli::kBadDocument;
  return write_document(o, list.get());
}

// listing (mode 1) and names (mode 3): text written to a file only.
int run_table(const char* sub, const char* help, int mode, int argc, char** argv) {
  Options o;
  const int st = parse_options(sub, help, argc, argv, false, true, mode == 1, o);
  if (st >= 0) return st;
  const std::string cmd = std::string(kCmd) + " " + sub;
  if (o.out.empty()) return cli::usage_error(cmd.c_str(), "-o OUT is required");
  if (mode == 3) o.shift = true;  // the table names data types read as masks
  List list;
  if (!read_documents(o, list.get(), false)) return cli::kBadDocument;
  std::fflush(stdout);
  if (dump_chan_desr(list.get(), const_cast<char*>(o.out.c_str()), mode, 0) != 0) {
    cli::file_error(o.out, "cannot be written");
    return cli::kBadDocument;
  }
  return cli::kOk;
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
bool load_selector(chan_selector& sel, const std::vector<std::string>& files) {
  bool ok = true;
  for (const std::string& f : files) {
    cli::Input in;
    if (!cli::open_input(f, in)) {
      ok = false;
      continue;
    }
    std::string text = in.from_stdin ? in.text : f;
    sel.change_mode(in.from_stdin ? 1 : 0);
    std::vector<char*> src{&text[0]};
    if (sel.set_descriptions(&src, nullptr)) {
      cli::file_error(in.name, "channel descriptions not read");
      ok = false;
    }
  }
  return ok;
}

int run_select(int argc, char** argv) {
  const char* cmd = "chan select";
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (cli::is_help(a)) {
      std::fputs(kSelectHelp, stdout);
      return cli::kOk;
    }
    if (a.size() > 1 && a[0] == '-') return cli::usage_error(cmd, "unknown option '" + a + "'");
    args.push_back(a);
  }
  if (args.empty()) return cli::usage_error(cmd, "no question given");
  const std::string q = args[0];
  std::size_t nargs = 1;
  if (q == "in-event") {
    nargs = 2;
  } else if (q != "event-type" && q != "data-type" && q != "slow" && q != "ml" &&
             q != "subchannels") {
    return cli::usage_error(cmd, "unknown question '" + q + "'");
  }
  if (args.size() < 1 + nargs) return cli::usage_error(cmd, q + ": missing argument");
  if (args.size() == 1 + nargs) return cli::usage_error(cmd, "no description document given");
  int ev = -1;
  if (q == "in-event") {
    ev = parse_event_type(args[1]);
    if (ev < 0) return cli::usage_error(cmd, "unknown event type '" + args[1] + "'");
  }
  std::string chan = args[nargs];
  const std::vector<std::string> files(args.begin() + 1 + nargs, args.end());

  chan_selector sel;
  if (!load_selector(sel, files)) return cli::kBadDocument;
  if (q == "in-event") {
    std::puts(sel.find_channel(ev, &chan[0]) ? "yes" : "no");
  } else if (q == "event-type") {
    const unsigned m = static_cast<unsigned>(sel.get_event_type(&chan[0]));
    std::printf("0x%x %s\n", m, event_names(m).c_str());
  } else if (q == "data-type") {
    const unsigned m = static_cast<unsigned>(sel.get_data_type(&chan[0]));
    std::printf("0x%x %s\n", m, block_names(m).c_str());
  } else {
    const int num = find_index(sel, chan);
    const int r = q == "slow" ? sel.is_channel_slow(num)
                  : q == "ml" ? sel.is_channel_ml(num)
                              : sel.get_subchannels(num);
    std::printf("%d\n", r);
  }
  return std::fflush(stdout) == 0 ? cli::kOk : cli::kBadDocument;
}

}  // namespace

int cmd_chan(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kHelp, stderr);
    return cli::kUsage;
  }
  const std::string sub = argv[1];
  if (cli::is_help(sub) || sub == "help") {
    std::fputs(kHelp, stdout);
    return cli::kOk;
  }
  try {
    if (sub == "print") return run_print(argc - 1, argv + 1);
    if (sub == "convert") return run_convert(argc - 1, argv + 1);
    if (sub == "listing") return run_table("listing", kListingHelp, 1, argc - 1, argv + 1);
    if (sub == "names") return run_table("names", kNamesHelp, 3, argc - 1, argv + 1);
    if (sub == "merge") return run_merge(argc - 1, argv + 1);
    if (sub == "select") return run_select(argc - 1, argv + 1);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qal3 chan: %s\n", e.what());
    return cli::kBadDocument;
  }
  return cli::usage_error(kCmd, "unknown command '" + sub + "'");
}
