// qal3 trigger: list the function and operation registry; print, convert and
// test trigger lists.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "check_rules.h"
#include "cli_common.h"
#include "event_util.h"
#include "qal3_evutl_blocks.h"
#include "trigger_plot.h"
#include "user_case_trigger.h"

namespace {

const char kCmd[] = "trigger";

const char kHelp[] =
    "Usage: qal3 trigger <action> [options]\n"
    "\n"
    "Actions:\n"
    "  registry  list the function and operation slots with their help texts\n"
    "  print     print a trigger list\n"
    "  convert   write a trigger list as XML or as text\n"
    "  test      evaluate a trigger list against data given as files or values\n"
    "\n"
    "Run 'qal3 trigger <action> --help' for the options of an action.\n"
    "\n"
    "Exit status: 0 success, 1 a document could not be read or written,\n"
    "2 usage error.\n";

const char kRegistryHelp[] =
    "Usage: qal3 trigger registry [--functions | --operations] [--all]\n"
    "\n"
    "Lists the slots of the function and operation tables: slot number, name\n"
    "and help text. Free slots (help text \"undefined\") are left out unless\n"
    "--all is given.\n"
    "\n"
    "Options:\n"
    "  --functions   only the function table\n"
    "  --operations  only the operation table\n"
    "  --all         include free slots\n"
    "  -h, --help    show this help\n";

const char kPrintHelp[] =
    "Usage: qal3 trigger print FILE\n"
    "\n"
    "Reads the trigger list FILE (root element QAL3USERTRIGGERLIST) and prints\n"
    "every trigger: channel, subchannel, function, its sixteen parameters,\n"
    "operation, limits and bit mask. FILE '-' reads standard input.\n"
    "\n"
    "Exit status: 0 read, 1 the list could not be read, 2 usage error.\n";

const char kConvertHelp[] =
    "Usage: qal3 trigger convert [--to xml|text] [-o OUT] FILE\n"
    "\n"
    "Reads the trigger list FILE and writes it again, as an XML trigger list\n"
    "(--to xml, the default) or as text (--to text: per trigger a line with\n"
    "channel, subchannel and function, a line of parameters, a line with the\n"
    "operation and a line with low limit, upper limit and bit mask). Without\n"
    "-o the result goes to standard output. FILE '-' reads standard input.\n"
    "\n"
    "Options:\n"
    "  --to FORMAT   xml or text\n"
    "  -o OUT        write to the file OUT\n"
    "  --strict      fail, writing nothing, when the list has findings\n"
    "  -h, --help    show this help\n"
    "\n"
    "Exit status: 0 written, 1 the list could not be read or written, 2 usage\n"
    "error.\n";

const char kTestHelp[] =
    "Usage: qal3 trigger test [--channel NAME] [--plot OUT.svg] FILE EVENT...\n"
    "\n"
    "Reads the trigger list FILE and evaluates its triggers on each EVENT in\n"
    "turn. Every EVENT is one block of channel data:\n"
    "\n"
    "  --spectrum SPECTRUM   a spectrum read from the text file SPECTRUM\n"
    "  --value V[,V...]      a name/value block; the i-th value belongs to\n"
    "                        subchannel i\n"
    "  --slow NAME=V[,...]   a slow channel block with update values; a\n"
    "                        trigger finds the value whose NAME equals its\n"
    "                        channel\n"
    "\n"
    "Every trigger is evaluated on every event (the block's channel name is\n"
    "not compared); --channel NAME keeps only the triggers of channel NAME.\n"
    "Give several events to see the DIFF functions, which compare with the\n"
    "previous event and give no verdict on their first one.\n"
    "\n"
    "--plot OUT.svg draws every trigger evaluated on a spectrum into the SVG\n"
    "file OUT.svg, one panel each: the samples of its subchannel against the\n"
    "axis, the window the function read, the function's value, the limits\n"
    "and the operation, and the verdict.\n"
    "\n"
    "Spectrum file format: numbers separated by spaces, tabs or newlines;\n"
    "'#' starts a comment that runs to the end of the line. The first number\n"
    "is the axis start (microseconds), the second the increment between\n"
    "samples, the others are the samples, so that sample i lies at\n"
    "start + i * increment. A line holding only '--' ends one subchannel and\n"
    "begins the next (subchannel 0, 1, ...), which again starts with its own\n"
    "axis start and increment. Example with two subchannels:\n"
    "\n"
    "  # axis start, increment\n"
    "  0 1\n"
    "  0 1 2 3 4 5 6 7 8 9\n"
    "  --\n"
    "  100 0.5\n"
    "  7 1 5\n"
    "\n"
    "Output: one line per event and trigger, tab-separated: event number,\n"
    "trigger number, channel, subchannel, function, result ('-' when the\n"
    "function gave none), operation and the verdict: 'fires', 'does not\n"
    "fire', 'no result' (the function failed: no data, window outside the\n"
    "spectrum, wrong kind of data), 'first event' (a DIFF function has\n"
    "nothing to compare with yet) or 'invalid' (function or operation slot\n"
    "out of range).\n"
    "\n"
    "Exit status: 0 evaluated, 1 the list or a data file could not be read,\n"
    "2 usage error.\n";

// ---------------------------------------------------------------------------
// A trigger list read from a file or standard input; releases its records.

class TriggerList {
 public:
  TriggerList() = default;
  TriggerList(const TriggerList&) = delete;
  TriggerList& operator=(const TriggerList&) = delete;
  ~TriggerList() {
    for (qal3_user_case_trigger* t : list_) QAL3_FREE_USER(t);
  }

  // Reads `arg` (a path or "-"); false, with a message, when it fails.
  bool read(const std::string& arg) {
    cli::Input in;
    if (!cli::open_input(arg, in)) return false;
    const bool failed = in.from_stdin
                            ? parse_trigger_list_read(&in.text[0], &list_)
                            : parse_trigger_list_readf(const_cast<char*>(arg.c_str()), &list_);
    if (failed) {
      cli::file_error(in.name, "trigger list not read");
      return false;
    }
    return true;
  }

  std::vector<qal3_user_case_trigger*>& records() { return list_; }

 private:
  std::vector<qal3_user_case_trigger*> list_;
};

// ---------------------------------------------------------------------------
// registry

void list_table(const char* title, char* (*help)(int), bool all) {
  std::printf("%s:\n", title);
  static const char kFree[] = " : undefined";
  for (int i = 0; i < 32; ++i) {
    const std::string text = help(i) ? help(i) : "";
    const bool free_slot = text.size() >= sizeof kFree - 1 &&
                           text.compare(text.size() - (sizeof kFree - 1), std::string::npos, kFree) == 0;
    if (free_slot && !all) continue;
    std::printf("  %2d  %s\n", i, text.c_str());
  }
}

int run_registry(int argc, char** argv) {
  bool functions = true;
  bool operations = true;
  bool all = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (cli::is_help(a)) {
      std::fputs(kRegistryHelp, stdout);
      return cli::kOk;
    }
    if (a == "--functions") {
      operations = false;
    } else if (a == "--operations") {
      functions = false;
    } else if (a == "--all") {
      all = true;
    } else {
      return cli::usage_error(kCmd, "registry: unexpected argument '" + a + "'");
    }
  }
  if (!functions && !operations)
    return cli::usage_error(kCmd, "registry: --functions and --operations exclude each other");
  if (functions) list_table("Functions", qal3_get_function_help, all);
  if (functions && operations) std::printf("\n");
  if (operations) list_table("Operations", qal3_get_operation_help, all);
  return cli::kOk;
}

// ---------------------------------------------------------------------------
// print

int run_print(int argc, char** argv) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (cli::is_help(a)) {
      std::fputs(kPrintHelp, stdout);
      return cli::kOk;
    }
    if (a.size() > 1 && a[0] == '-') return cli::usage_error(kCmd, "print: unknown option '" + a + "'");
    files.push_back(a);
  }
  if (files.size() != 1) return cli::usage_error(kCmd, "print: give exactly one trigger list");
  TriggerList list;
  if (!list.read(files[0])) return cli::kBadDocument;
  dump_user_trigger_list(&list.records(), nullptr, USER_TRIG_DUMP_TO_SCREEN, -1, nullptr);
  std::fflush(stdout);
  return cli::kOk;
}

// ---------------------------------------------------------------------------
// convert

int run_convert(int argc, char** argv) {
  std::string to = "xml";
  std::string out;
  bool strict = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (cli::is_help(a)) {
      std::fputs(kConvertHelp, stdout);
      return cli::kOk;
    }
    if (a == "--to" || a == "-o") {
      if (i + 1 >= argc) return cli::usage_error(kCmd, "convert: " + a + " needs a value");
      (a == "--to" ? to : out) = argv[++i];
    } else if (a == "--strict") {
      strict = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return cli::usage_error(kCmd, "convert: unknown option '" + a + "'");
    } else {
      files.push_back(a);
    }
  }
  if (to != "xml" && to != "text")
    return cli::usage_error(kCmd, "convert: --to must be xml or text, not '" + to + "'");
  if (files.size() != 1) return cli::usage_error(kCmd, "convert: give exactly one trigger list");
  if (check::warn_dropped_inputs(files, "", strict)) return cli::kBadDocument;
  TriggerList list;
  if (!list.read(files[0])) return cli::kBadDocument;
  const int mode = to == "xml" ? USER_TRIG_DUMP_XML_FILE : USER_TRIG_DUMP_TXT_FILE;
  std::fflush(stdout);
  const int rc = out.empty()
                     ? dump_user_trigger_list(&list.records(), nullptr, mode, 1, nullptr)
                     : dump_user_trigger_list(&list.records(), &out[0], mode, -1, nullptr);
  std::fflush(stdout);
  if (rc != 0) {
    cli::file_error(out.empty() ? "<stdout>" : out, "trigger list not written");
    return cli::kBadDocument;
  }
  return cli::kOk;
}

// ---------------------------------------------------------------------------
// test: the data of the events.

struct BlockDeleter {
  void operator()(qal3_serv_block_subhead_2010* b) const { qal3_evutl_free_block(b); }
};
using Block = std::unique_ptr<qal3_serv_block_subhead_2010, BlockDeleter>;

struct Event {
  std::string label;
  Block block;
};

// Reads a whole number text as a float; false when anything but the number
// (and surrounding white space) is there.
bool parse_float(const std::string& text, float& out) {
  const char* s = text.c_str();
  char* end = nullptr;
  const float v = std::strtof(s, &end);
  if (end == s) return false;
  while (*end == ' ' || *end == '\t' || *end == '\r') ++end;
  if (*end != '\0') return false;
  out = v;
  return true;
}

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::string::size_type begin = 0;
  for (;;) {
    const auto pos = text.find(sep, begin);
    parts.push_back(text.substr(begin, pos - begin));
    if (pos == std::string::npos) break;
    begin = pos + 1;
  }
  return parts;
}

struct Subchannel {
  std::vector<float> numbers;  // start, increment, samples
};

// Parses the spectrum text format; false with `error` set.
bool parse_spectrum(const std::string& text, std::vector<Subchannel>& subs, std::string& error) {
  subs.assign(1, Subchannel{});
  std::istringstream lines(text);
  std::string line;
  int lineno = 0;
  while (std::getline(lines, line)) {
    ++lineno;
    const auto hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string word;
    std::vector<std::string> tokens;
    while (words >> word) tokens.push_back(word);
    if (tokens.size() == 1 && tokens[0] == "--") {
      subs.emplace_back();
      continue;
    }
    for (const std::string& t : tokens) {
      float v = 0;
      if (!parse_float(t, v)) {
        error = "line " + std::to_string(lineno) + ": not a number: '" + t + "'";
        return false;
      }
      subs.back().numbers.push_back(v);
    }
  }
  for (std::size_t i = 0; i < subs.size(); ++i) {
    if (subs[i].numbers.size() < 2) {
      error = "subchannel " + std::to_string(i) + " has no axis start and increment";
      return false;
    }
    if (subs[i].numbers.size() - 2 > 0x7fffffffu) {
      error = "subchannel " + std::to_string(i) + " has too many samples";
      return false;
    }
  }
  return true;
}

bool spectrum_event(const std::string& path, Event& ev) {
  std::string text;
  if (!cli::read_all(path, text)) {
    cli::file_error(path, std::string("cannot read spectrum: ") + std::strerror(errno));
    return false;
  }
  std::vector<Subchannel> subs;
  std::string error;
  if (!parse_spectrum(text, subs, error)) {
    cli::file_error(path, error);
    return false;
  }
  std::vector<qal3_spect_header_2010> headers;
  std::vector<const float*> samples;
  for (const Subchannel& s : subs) {
    qal3_spect_header_2010 h{};
    h.start = s.numbers[0];
    h.inc = s.numbers[1];
    h.ndata = static_cast<int32_t>(s.numbers.size() - 2);
    h.groups = 1;
    h.group_inc = 1.0f;
    headers.push_back(h);
    samples.push_back(s.numbers.data() + 2);
  }
  ev.label = "spectrum " + path;
  ev.block.reset(qal3_evutl_make_spectrum(path.c_str(), QAL3_DATA_SPECTRUM,
                                          static_cast<int>(subs.size()), headers.data(),
                                          samples.data()));
  if (!ev.block) {
    cli::file_error(path, "spectrum block cannot be built");
    return false;
  }
  return true;
}

bool value_event(const std::string& arg, Event& ev) {
  std::vector<float> values;
  for (const std::string& part : split(arg, ',')) {
    float v = 0;
    if (!parse_float(part, v)) {
      cli::usage_error(kCmd, "test: --value: not a number: '" + part + "'");
      return false;
    }
    values.push_back(v);
  }
  ev.label = "value " + arg;
  ev.block.reset(qal3_evutl_make_namval("value", static_cast<int>(values.size()), values.data()));
  if (!ev.block) {
    cli::usage_error(kCmd, "test: --value: block cannot be built");
    return false;
  }
  return true;
}

bool slow_event(const std::string& arg, Event& ev) {
  std::vector<qal3_upd_data_block_2010> upd;
  for (const std::string& part : split(arg, ',')) {
    const auto eq = part.rfind('=');
    qal3_upd_data_block_2010 u{};
    if (eq == std::string::npos || eq == 0 || !parse_float(part.substr(eq + 1), u.upd_ch_data)) {
      cli::usage_error(kCmd, "test: --slow: expected NAME=VALUE, not '" + part + "'");
      return false;
    }
    const std::string name = part.substr(0, eq);
    std::snprintf(u.upd_prop, sizeof u.upd_prop, "%s", name.c_str());
    upd.push_back(u);
  }
  ev.label = "slow " + arg;
  ev.block.reset(qal3_evutl_make_slow("slow", static_cast<int>(upd.size()), upd.data(), 0, nullptr));
  if (!ev.block) {
    cli::usage_error(kCmd, "test: --slow: block cannot be built");
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// test: evaluation.

// Evaluates one trigger and prints its line. The result buffer is dropped
// before each evaluation so that a function that fails shows no result.
std::string evaluate(int event_no, int trigger_no, qal3_serv_block_subhead_2010* block,
                     qal3_user_case_trigger& t) {
  std::free(t.fresult);
  t.fresult = nullptr;
  const bool had_previous = t.fprevresult != nullptr;
  const int rc = qal3_is_trigger_on(block, &t);

  const char* verdict = "does not fire";
  if (rc < 0) verdict = "invalid";
  else if (rc == 1) verdict = "fires";
  else if (!t.fresult) verdict = "no result";
  else if (!had_previous && t.fprevresult) verdict = "first event";

  char result[64] = "-";
  if (t.fresult) std::snprintf(result, sizeof result, "%g", static_cast<double>(*t.fresult));
  const char* function = qal3_get_function_string(t.function);
  const char* operation = qal3_get_operation_string(t.operation);
  std::printf("%d\t%d\t%s\t%d\t%s\t%s\t%s\t%s\n", event_no, trigger_no, t.channel, t.subchannel,
              function ? function : "", result, operation ? operation : "", verdict);
  std::fflush(stdout);
  return verdict;
}

int run_test(int argc, char** argv) {
  std::string channel;
  bool channel_given = false;
  std::string plot_file;
  std::vector<std::string> files;
  std::vector<std::pair<std::string, std::string>> event_args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (cli::is_help(a)) {
      std::fputs(kTestHelp, stdout);
      return cli::kOk;
    }
    if (a == "--spectrum" || a == "--value" || a == "--slow" || a == "--channel" || a == "--plot") {
      if (i + 1 >= argc) return cli::usage_error(kCmd, "test: " + a + " needs a value");
      const std::string v = argv[++i];
      if (a == "--plot") {
        plot_file = v;
      } else if (a == "--channel") {
        channel = v;
        channel_given = true;
      } else {
        event_args.emplace_back(a, v);
      }
    } else if (a.size() > 1 && a[0] == '-') {
      return cli::usage_error(kCmd, "test: unknown option '" + a + "'");
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 1) return cli::usage_error(kCmd, "test: give exactly one trigger list");
  if (event_args.empty())
    return cli::usage_error(kCmd, "test: give at least one event (--spectrum, --value or --slow)");

  std::vector<Event> events(event_args.size());
  for (std::size_t i = 0; i < event_args.size(); ++i) {
    const auto& ea = event_args[i];
    if (ea.first == "--spectrum") {
      if (!spectrum_event(ea.second, events[i])) return cli::kBadDocument;
    } else if (ea.first == "--value") {
      if (!value_event(ea.second, events[i])) return cli::kUsage;
    } else if (!slow_event(ea.second, events[i])) {
      return cli::kUsage;
    }
  }

  TriggerList list;
  if (!list.read(files[0])) return cli::kBadDocument;

  std::vector<plot::Panel> panels;
  std::printf("#event\ttrigger\tchannel\tsubchan\tfunction\tresult\toperation\tverdict\n");
  for (std::size_t e = 0; e < events.size(); ++e) {
    std::printf("# event %zu: %s\n", e + 1, events[e].label.c_str());
    int n = 0;
    for (qal3_user_case_trigger* t : list.records()) {
      ++n;
      if (!t || (channel_given && channel != t->channel)) continue;
      const std::string verdict = evaluate(static_cast<int>(e + 1), n, events[e].block.get(), *t);
      plot::Panel panel;
      const std::string title = "event " + std::to_string(e + 1) + ", trigger " + std::to_string(n);
      if (!plot_file.empty() && plot::make_panel(events[e].block.get(), *t, title, verdict, panel))
        panels.push_back(std::move(panel));
    }
  }
  std::string error;
  if (!plot_file.empty() && !plot::write_svg(plot_file, panels, error)) {
    cli::file_error(plot_file, error);
    return cli::kBadDocument;
  }
  return cli::kOk;
}

}  // namespace

int cmd_trigger(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kHelp, stderr);
    return cli::kUsage;
  }
  const std::string action = argv[1];
  if (cli::is_help(action)) {
    std::fputs(kHelp, stdout);
    return cli::kOk;
  }
  try {
    if (action == "registry") return run_registry(argc - 1, argv + 1);
    if (action == "print") return run_print(argc - 1, argv + 1);
    if (action == "convert") return run_convert(argc - 1, argv + 1);
    if (action == "test") return run_test(argc - 1, argv + 1);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "qal3 trigger: %s\n", e.what());
    return cli::kBadDocument;
  }
  return cli::usage_error(kCmd, "unknown action '" + action + "'");
}
