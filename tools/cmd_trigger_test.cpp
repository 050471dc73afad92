// qal3 trigger test: evaluate a trigger list on events given on the command
// line (spectra, values, slow-control readings).
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli_forms.h"
#include "event_util.h"
#include "qal3_evutl_blocks.h"
#include "trigger_list.h"
#include "trigger_plot.h"
#include "user_case_trigger.h"

using trigger::slot_name;

namespace {

// The events, from the command line.

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

// The spectrum block of `subs` (each with its axis start and increment
// first), named `name`; null when it cannot be built.
Block spectrum_block(const std::string& name, const std::vector<Subchannel>& subs) {
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
  return Block(qal3_evutl_make_spectrum(name.c_str(), QAL3_DATA_SPECTRUM, static_cast<int>(subs.size()), headers.data(),
                                        samples.data()));
}

bool spectrum_event(const std::string& arg, std::size_t max_input, Event& ev) {
  cli::Input in;
  if (!cli::read_input(arg, max_input, in)) return false;
  const std::string& path = in.name;
  std::vector<Subchannel> subs;
  std::string error;
  if (!parse_spectrum(in.text, subs, error)) {
    cli::file_error(path, error);
    return false;
  }
  ev.label = "spectrum " + path;
  ev.block = spectrum_block(path, subs);
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
      cli::usage_error("trigger test", "--value: not a number: '" + cli::one_line(part) + "'");
      return false;
    }
    values.push_back(v);
  }
  ev.label = "value " + arg;
  ev.block.reset(qal3_evutl_make_namval("value", static_cast<int>(values.size()), values.data()));
  if (!ev.block) {
    cli::usage_error("trigger test", "--value: block cannot be built");
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
      cli::usage_error("trigger test", "--slow: expected NAME=VALUE, not '" + cli::one_line(part) + "'");
      return false;
    }
    const std::string name = part.substr(0, eq);
    std::snprintf(u.upd_prop, sizeof u.upd_prop, "%s", name.c_str());
    upd.push_back(u);
  }
  ev.label = "slow " + arg;
  ev.block.reset(qal3_evutl_make_slow("slow", static_cast<int>(upd.size()), upd.data(), 0, nullptr));
  if (!ev.block) {
    cli::usage_error("trigger test", "--slow: block cannot be built");
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Evaluation.

// The outcome of one trigger on one event.
struct Verdict {
  int trigger = 0;
  std::string channel;
  int subchannel = 0;
  std::string function;
  bool has_result = false;
  float result = 0.0f;
  std::string operation;
  const char* verdict = "";
};

// Evaluates one trigger. The result buffer is dropped before each
// evaluation so that a function that fails shows no result; what the
// functions print goes to standard error.
Verdict evaluate(int trigger_no, qal3_serv_block_subhead_2010* block, qal3_user_case_trigger& t) {
  std::free(t.fresult);
  t.fresult = nullptr;
  const bool had_previous = t.fprevresult != nullptr;
  int rc;
  {
    const cli::MessageScope scope("trigger " + std::to_string(trigger_no));
    rc = qal3_is_trigger_on(block, &t);
  }
  Verdict v;
  v.verdict = "does not fire";
  if (rc < 0)
    v.verdict = "invalid";
  else if (rc == 1)
    v.verdict = "fires";
  else if (!t.fresult)
    v.verdict = "no result";
  else if (!had_previous && t.fprevresult)
    v.verdict = "first event";
  v.trigger = trigger_no;
  v.channel = cli::field_text(t.channel);
  v.subchannel = t.subchannel;
  v.function = slot_name(qal3_get_function_string(t.function));
  v.operation = slot_name(qal3_get_operation_string(t.operation));
  // A DIFF function's first event has nothing to differ from: what it
  // leaves is the base value it keeps, not a result (shown as "-", as the
  // Python module shows NaN).
  v.has_result = t.fresult != nullptr && std::strcmp(v.verdict, "first event") != 0;
  if (v.has_result) v.result = *t.fresult;
  return v;
}

std::string line_of(int event_no, const Verdict& v) {
  char result[64] = "-";
  // A NaN is "nan" whatever its sign bit (the JSON's null has none).
  if (v.has_result)
    std::snprintf(result, sizeof result, "%g",
                  std::isnan(v.result) ? std::fabs(static_cast<double>(v.result)) : static_cast<double>(v.result));
  return std::to_string(event_no) + "\t" + std::to_string(v.trigger) + "\t" + cli::one_line(v.channel) + "\t" +
         std::to_string(v.subchannel) + "\t" + v.function + "\t" + result + "\t" + v.operation + "\t" + v.verdict +
         "\n";
}

nlohmann::json json_of(const Verdict& v) {
  return {{"trigger", v.trigger},
          {"channel", v.channel},
          {"subchannel", v.subchannel},
          {"function", v.function},
          {"result", v.has_result ? cli::json_float(v.result) : nlohmann::json(nullptr)},
          {"operation", v.operation},
          {"verdict", v.verdict}};
}

// Writes the SVG picture of the panels to the open `out`, whole or not at all.
int write_plot(cli::Output& out, const std::vector<plot::Panel>& panels) {
  return out.write(plot::render_svg(panels)) && out.commit() ? cli::kOk : cli::kBadDocument;
}

// ---------------------------------------------------------------------------
// Replay: the events one after the other through every trigger of the list,
// each trigger keeping what its DIFF function saw of the event before.

class Replay {
 public:
  // Draws event `plot_event` (from 1; 0: every event) when `plot`.
  Replay(trigger::TriggerList& list, const cli::Args& args, bool plot, std::size_t plot_event)
      : list_(list), args_(args), plot_(plot), plot_event_(plot_event) {
    if (args.has("channel")) channel_ = args.value("channel");
    fires_.assign(list.records().size(), 0);
  }

  // Evaluates every trigger on event `event_no` and prints its lines (its
  // JSON records with `json_lines`; else, with --json, keeps its record for
  // the document).
  void event(int event_no, const std::string& label, qal3_serv_block_subhead_2010* block, bool json_lines) {
    ++events_;
    nlohmann::json results = nlohmann::json::array();
    std::string lines;
    if (!args_.json) lines = "# event " + std::to_string(event_no) + ": " + cli::one_line(label) + "\n";
    const bool drawn = plot_ && (plot_event_ == 0 || static_cast<std::size_t>(event_no) == plot_event_);
    int n = 0;
    for (qal3_user_case_trigger* t : list_.records()) {
      ++n;
      if (!t || (channel_ && *channel_ != t->channel)) continue;
      const Verdict v = evaluate(n, block, *t);
      if (std::strcmp(v.verdict, "fires") == 0) ++fires_[n - 1];
      if (json_lines) {
        nlohmann::json record = json_of(v);
        record["event"] = event_no;
        lines += record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
      } else if (args_.json) {
        results.push_back(json_of(v));
      } else {
        lines += line_of(event_no, v);
      }
      plot::Panel panel;
      const std::string title = "event " + std::to_string(event_no) + ", trigger " + std::to_string(n);
      if (drawn && plot::make_panel(block, *t, title, v.verdict, panel)) panels_.push_back(std::move(panel));
    }
    if (args_.json && !json_lines)
      json_events_.push_back({{"event", event_no}, {"label", label}, {"results", results}});
    else
      cli::put(lines);
  }

  // How often each trigger fired: comment lines, or one JSON record.
  void summary(bool json_lines) const {
    nlohmann::json counts = nlohmann::json::array();
    std::string lines;
    int n = 0;
    for (const qal3_user_case_trigger* t : list_.records()) {
      ++n;
      if (!t || (channel_ && *channel_ != t->channel)) continue;
      const std::size_t fired = fires_[n - 1];
      if (json_lines)
        counts.push_back({{"trigger", n}, {"fires", fired}, {"events", events_}});
      else
        lines += "# trigger " + std::to_string(n) + " (" + cli::one_line(cli::field_text(t->channel)) + " " +
                 slot_name(qal3_get_function_string(t->function)) + " " +
                 slot_name(qal3_get_operation_string(t->operation)) + "): fires in " + std::to_string(fired) + " of " +
                 std::to_string(events_) + " events\n";
    }
    cli::put(json_lines ? nlohmann::json{{"summary", counts}}.dump() + "\n" : lines);
  }

  const nlohmann::json& json_events() const { return json_events_; }
  const std::vector<plot::Panel>& panels() const { return panels_; }
  std::size_t events() const { return events_; }

 private:
  trigger::TriggerList& list_;
  const cli::Args& args_;
  std::optional<std::string> channel_;
  bool plot_;
  std::size_t plot_event_;
  std::size_t events_ = 0;
  std::vector<std::size_t> fires_;  // per trigger of the list
  nlohmann::json json_events_ = nlohmann::json::array();
  std::vector<plot::Panel> panels_;
};

// The file of --events: one event a line, read one line at a time.
class EventFile {
 public:
  // Opens `arg` ("-": standard input); a name ending in ".csv" is CSV.
  explicit EventFile(const std::string& arg)
      : name_(arg == "-" ? "<stdin>" : arg),
        file_(arg == "-" ? stdin : std::fopen(arg.c_str(), "r"), arg == "-" ? &keep_open : &close),
        csv_(is_csv(arg)) {}

  bool open() const { return file_ != nullptr; }
  const std::string& name() const { return name_; }
  std::size_t line_number() const { return line_number_; }

  // The next event's axis start, increment and samples; false at the end
  // or on a fault, which `error` then says.
  bool next(Subchannel& event, std::size_t limit, std::string& error) {
    std::string line;
    while (read_line(line, limit, error)) {
      const auto hash = line.find('#');
      if (hash != std::string::npos) line.erase(hash);
      std::vector<std::string> fields;
      if (csv_) {
        fields = split(line, ',');
      } else {
        std::istringstream words(line);
        for (std::string word; words >> word;) fields.push_back(word);
      }
      if (fields.size() == 1 && fields[0].find_first_not_of(" \t\r") == std::string::npos) continue;
      if (fields.empty()) continue;
      if (numbers(fields, event.numbers, error)) return true;
      // The first row of a CSV file may name its columns.
      if (csv_ && !seen_row_ && error.empty()) {
        seen_row_ = true;
        continue;
      }
      if (error.empty()) error = "line " + std::to_string(line_number_) + ": not a number";
      return false;
    }
    return false;
  }

 private:
  static int keep_open(std::FILE*) { return 0; }
  static int close(std::FILE* f) { return f ? std::fclose(f) : 0; }

  static bool is_csv(const std::string& arg) {
    static const char kCsv[] = ".csv";
    const std::size_t n = sizeof kCsv - 1;
    if (arg.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
      if (std::tolower(static_cast<unsigned char>(arg[arg.size() - n + i])) != kCsv[i]) return false;
    return true;
  }

  // One line, its line feed left out; false at the end or on a fault.
  bool read_line(std::string& line, std::size_t limit, std::string& error) {
    line.clear();
    char buf[4096];
    bool any = false;
    while (std::fgets(buf, sizeof buf, file_.get())) {
      any = true;
      line += buf;
      if (!line.empty() && line.back() == '\n') {
        line.pop_back();
        break;
      }
      if (line.size() > limit) {
        error = "line " + std::to_string(line_number_ + 1) + " is longer than the input limit of " +
                std::to_string(limit) + " bytes";
        return false;
      }
    }
    if (std::ferror(file_.get())) error = std::strerror(errno);
    if (!any || !error.empty()) return false;
    ++line_number_;
    return true;
  }

  // The fields as numbers: at least an axis start and an increment. False
  // with `error` empty when a field is not a number.
  bool numbers(const std::vector<std::string>& fields, std::vector<float>& out, std::string& error) {
    out.clear();
    for (const std::string& f : fields) {
      float v = 0;
      if (!parse_float(f, v)) {
        if (seen_row_ || !csv_)
          error = "line " + std::to_string(line_number_) + ": not a number: '" + cli::one_line(f) + "'";
        return false;
      }
      out.push_back(v);
    }
    seen_row_ = true;
    if (out.size() < 2) error = "line " + std::to_string(line_number_) + ": no axis start and increment";
    return out.size() >= 2;
  }

  std::string name_;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
  bool csv_;
  bool seen_row_ = false;
  std::size_t line_number_ = 0;
};

// Replays the events of `arg`; the exit status.
int replay_file(const std::string& arg, const cli::Args& args, Replay& replay) {
  EventFile file(arg);
  if (!file.open()) {
    cli::file_error(arg, std::strerror(errno));
    return cli::kBadDocument;
  }
  Subchannel event;
  std::string error;
  int event_no = 0;
  while (file.next(event, args.max_input, error)) {
    const std::string label = "line " + std::to_string(file.line_number()) + " of " + file.name();
    const Block block = spectrum_block(file.name(), {event});
    if (!block) {
      error = "line " + std::to_string(file.line_number()) + ": spectrum block cannot be built";
      break;
    }
    replay.event(++event_no, label, block.get(), args.json);
  }
  if (!error.empty()) {
    cli::file_error(file.name(), error);
    return cli::kBadDocument;
  }
  return cli::kOk;
}

// The event --plot draws: --plot-event N (from 1), else `otherwise`; 0 when
// N is not an event number.
std::size_t plot_event(const cli::Args& args, std::size_t otherwise) {
  if (!args.has("plot-event")) return otherwise;
  const std::string text = args.value("plot-event");
  std::size_t n = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && !text.empty() ? n : 0;
}

}  // namespace

int cmd_trigger_test(const cli::CommandInfo& command_info, int argc, char** argv) {
  const char* cmd = command_info.name;
  cli::Args args;
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  std::vector<std::pair<std::string, std::string>> event_args;
  std::vector<std::string> inputs = args.operands;
  for (const auto& o : args.options) {
    if (o.first == "spectrum" || o.first == "value" || o.first == "slow") event_args.push_back(o);
    if (o.first == "spectrum" || o.first == "events") inputs.push_back(o.second);
  }
  const bool replaying = args.has("events");
  if (args.operands.size() != 1) return cli::usage_error(cmd, "give exactly one trigger list");
  if (cli::stdin_once(cmd, inputs) >= 0) return cli::kUsage;
  if (event_args.empty() && !replaying)
    return cli::usage_error(cmd, "give at least one event (--spectrum, --value, --slow or --events)");
  if (replaying && (!event_args.empty() || inputs.size() != 2))
    return cli::usage_error(cmd, "--events takes one file, and no other event");
  const std::string plot_file = args.value("plot");
  if (args.has("plot") && (plot_file.empty() || plot_file == "-"))
    return cli::usage_error(cmd, "--plot needs a file name (the table goes to standard output)");
  // Without --plot-event, --events draws its first event, the other events every one.
  const std::size_t drawn = plot_event(args, replaying ? 1 : std::size_t{0});
  if (args.has("plot-event") && drawn == 0)
    return cli::usage_error(cmd,
                            "--plot-event: not an event number: '" + cli::one_line(args.value("plot-event")) + "'");
  // The picture's file is made first, so that a folder it cannot be made in
  // shows before any reading.
  cli::Output plot_out(plot_file, cli::links_option(args));
  if (!plot_file.empty() && !plot_out.open()) return cli::kBadDocument;

  std::vector<Event> events(event_args.size());
  for (std::size_t i = 0; i < event_args.size(); ++i) {
    const auto& ea = event_args[i];
    if (ea.first == "spectrum") {
      if (!spectrum_event(ea.second, args.max_input, events[i])) return cli::kBadDocument;
    } else if (ea.first == "value") {
      if (!value_event(ea.second, events[i])) return cli::kUsage;
    } else if (!slow_event(ea.second, events[i])) {
      return cli::kUsage;
    }
  }

  trigger::TriggerList list;
  if (!list.read(args.operands[0], args.max_input)) return cli::kBadDocument;

  Replay replay(list, args, !plot_file.empty(), drawn);
  if (!args.json) cli::put("#event\ttrigger\tchannel\tsubchan\tfunction\tresult\toperation\tverdict\n");
  int status = cli::kOk;
  if (replaying) {
    status = replay_file(args.value("events"), args, replay);
    replay.summary(args.json);
  } else {
    for (std::size_t e = 0; e < events.size(); ++e)
      replay.event(static_cast<int>(e + 1), events[e].label, events[e].block.get(), false);
    if (args.json) cli::print_json({{"file", list.name()}, {"events", replay.json_events()}});
  }
  if (plot_file.empty() || status != cli::kOk) return status;
  if (drawn > replay.events()) {
    cli::file_error(plot_file,
                    "no event " + std::to_string(drawn) + " to draw: there are " + std::to_string(replay.events()));
    return cli::kBadDocument;
  }
  return write_plot(plot_out, replay.panels());
}
