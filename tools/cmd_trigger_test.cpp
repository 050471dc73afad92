// qal3 trigger test: evaluate a trigger list on events given on the command
// line (spectra, values, slow-control readings).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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

bool spectrum_event(const std::string& arg, std::size_t max_input, Event& ev) {
  cli::Input in;
  if (!cli::read_input(arg, max_input, in)) return false;
  const std::string& path = in.name;
  const std::string& text = in.text;
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
  ev.block.reset(qal3_evutl_make_spectrum(path.c_str(), QAL3_DATA_SPECTRUM, static_cast<int>(subs.size()),
                                          headers.data(), samples.data()));
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
      cli::usage_error("trigger test", "--value: not a number: '" + part + "'");
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
      cli::usage_error("trigger test", "--slow: expected NAME=VALUE, not '" + part + "'");
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
  if (v.has_result) std::snprintf(result, sizeof result, "%g", static_cast<double>(v.result));
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

}  // namespace

int cmd_trigger_test(const cli::CommandInfo& command_info, int argc, char** argv) {
  const char* cmd = command_info.name;
  cli::Args args;
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  const bool channel_given = args.has("channel");
  const std::string channel = args.value("channel");
  std::vector<std::pair<std::string, std::string>> event_args;
  std::vector<std::string> inputs = args.operands;
  for (const auto& o : args.options) {
    if (o.first == "spectrum" || o.first == "value" || o.first == "slow") event_args.push_back(o);
    if (o.first == "spectrum") inputs.push_back(o.second);
  }
  if (args.operands.size() != 1) return cli::usage_error(cmd, "give exactly one trigger list");
  if (cli::stdin_once(cmd, inputs) >= 0) return cli::kUsage;
  if (event_args.empty()) return cli::usage_error(cmd, "give at least one event (--spectrum, --value or --slow)");
  const std::string plot_file = args.value("plot");
  if (args.has("plot") && (plot_file.empty() || plot_file == "-"))
    return cli::usage_error(cmd, "--plot needs a file name (the table goes to standard output)");
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

  std::vector<plot::Panel> panels;
  nlohmann::json json_events = nlohmann::json::array();
  if (!args.json) cli::put("#event\ttrigger\tchannel\tsubchan\tfunction\tresult\toperation\tverdict\n");
  for (std::size_t e = 0; e < events.size(); ++e) {
    const int event_no = static_cast<int>(e + 1);
    nlohmann::json results = nlohmann::json::array();
    std::string lines = "# event " + std::to_string(event_no) + ": " + cli::one_line(events[e].label) + "\n";
    int n = 0;
    for (qal3_user_case_trigger* t : list.records()) {
      ++n;
      if (!t || (channel_given && channel != t->channel)) continue;
      const Verdict v = evaluate(n, events[e].block.get(), *t);
      if (args.json)
        results.push_back(json_of(v));
      else
        lines += line_of(event_no, v);
      plot::Panel panel;
      const std::string title = "event " + std::to_string(event_no) + ", trigger " + std::to_string(n);
      if (!plot_file.empty() && plot::make_panel(events[e].block.get(), *t, title, v.verdict, panel))
        panels.push_back(std::move(panel));
    }
    if (args.json)
      json_events.push_back({{"event", event_no}, {"label", events[e].label}, {"results", results}});
    else
      cli::put(lines);
  }
  if (args.json) cli::print_json({{"file", list.name()}, {"events", json_events}});
  return plot_file.empty() ? cli::kOk : write_plot(plot_out, panels);
}
