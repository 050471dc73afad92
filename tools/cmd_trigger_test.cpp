// qal3 trigger test: replay a trigger list over events given on the command
// line (spectra, values, slow-control readings) or in an events file, with
// the library's replay.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli_forms.h"
#include "event_util.h"
#include "qal3_evutl_blocks.h"
#include "qal3_replay.h"
#include "recording.h"
#include "trigger_list.h"
#include "trigger_plot.h"
#include "user_case_trigger.h"

using trigger::slot_name;

namespace {

// The events, from the command line.

// One channel's (and subchannel's) data in an event; a channel that is not
// named is the data of every trigger whose channel no entry names.
struct Entry {
  std::optional<std::string> channel;
  int subchannel = 0;
  int kind = QAL3_REPLAY_SPECTRUM;
  float start = 0.0f;
  float inc = 1.0f;
  std::vector<float> samples;  // a value or slow reading: one
};

struct Event {
  std::string label;
  std::vector<Entry> entries;

  // The entries as the replay takes them, pointing into this event.
  std::vector<qal3_replay_data> data() const {
    std::vector<qal3_replay_data> out;
    for (const Entry& e : entries)
      out.push_back({e.channel ? e.channel->c_str() : nullptr, e.subchannel, e.kind, e.start, e.inc, e.samples.size(),
                     e.samples.data(), 0});
    return out;
  }
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

// The entries of the subchannels `subs` (each with its axis start and
// increment first), for every trigger.
std::vector<Entry> spectrum_entries(const std::vector<Subchannel>& subs) {
  std::vector<Entry> out;
  for (std::size_t i = 0; i < subs.size(); ++i)
    out.push_back({std::nullopt, static_cast<int>(i), QAL3_REPLAY_SPECTRUM, subs[i].numbers[0], subs[i].numbers[1],
                   std::vector<float>(subs[i].numbers.begin() + 2, subs[i].numbers.end())});
  return out;
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
  ev.entries = spectrum_entries(subs);
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
  for (std::size_t i = 0; i < values.size(); ++i)
    ev.entries.push_back({std::nullopt, static_cast<int>(i), QAL3_REPLAY_VALUE, 0.0f, 1.0f, {values[i]}});
  return true;
}

bool slow_event(const std::string& arg, Event& ev) {
  for (const std::string& part : split(arg, ',')) {
    const auto eq = part.rfind('=');
    float value = 0.0f;
    if (eq == std::string::npos || eq == 0 || !parse_float(part.substr(eq + 1), value)) {
      cli::usage_error("trigger test", "--slow: expected NAME=VALUE, not '" + cli::one_line(part) + "'");
      return false;
    }
    ev.entries.push_back({part.substr(0, eq), 0, QAL3_REPLAY_SLOW, 0.0f, 1.0f, {value}});
  }
  ev.label = "slow " + arg;
  return true;
}

// ---------------------------------------------------------------------------
// Evaluation: the library's replay, one per trigger, so that each trigger's
// lines go out under its own number.

struct FreeReplay {
  void operator()(qal3_replay* r) const { qal3_replay_free(r); }
};
using ReplayPtr = std::unique_ptr<qal3_replay, FreeReplay>;

// How an outcome shows: its verdict in the table (the absence of the
// trigger's data and a function that gave nothing both show as "no
// result") and its name in --json records.
struct OutcomeText {
  int outcome;
  const char* verdict;
  const char* name;
};
constexpr OutcomeText kOutcomeTexts[] = {
    {QAL3_REPLAY_FIRES, "fires", "fires"},
    {QAL3_REPLAY_NOT_FIRED, "does not fire", "not_fired"},
    {QAL3_REPLAY_FIRST_EVENT, "first event", "first_event"},
    {QAL3_REPLAY_NO_RESULT, "no result", "no_result"},
    {QAL3_REPLAY_NO_DATA, "no result", "no_data"},
    {QAL3_REPLAY_INVALID, "invalid", "invalid"},
};

const OutcomeText& text_of(int outcome) {
  for (const OutcomeText& t : kOutcomeTexts)
    if (t.outcome == outcome) return t;
  return kOutcomeTexts[3];  // none other is given: no result
}

const char* verdict_of(int outcome) { return text_of(outcome).verdict; }

// One trigger's outcome in one event.
struct Verdict {
  int trigger = 0;
  std::string channel;
  int subchannel = 0;
  std::string function;
  std::optional<float> result;
  std::string operation;
  int outcome = QAL3_REPLAY_NO_RESULT;
};

std::string line_of(std::size_t event_no, const Verdict& v) {
  char result[64] = "-";
  // A NaN is "nan" whatever its sign bit (the JSON's null has none).
  if (v.result)
    std::snprintf(result, sizeof result, "%g",
                  std::isnan(*v.result) ? std::fabs(static_cast<double>(*v.result)) : static_cast<double>(*v.result));
  return std::to_string(event_no) + "\t" + std::to_string(v.trigger) + "\t" + cli::one_line(v.channel) + "\t" +
         std::to_string(v.subchannel) + "\t" + v.function + "\t" + result + "\t" + v.operation + "\t" +
         verdict_of(v.outcome) + "\n";
}

nlohmann::json json_of(const Verdict& v) {
  return {{"trigger", v.trigger},
          {"channel", v.channel},
          {"subchannel", v.subchannel},
          {"function", v.function},
          {"result", v.result ? cli::json_float(*v.result) : nlohmann::json(nullptr)},
          {"operation", v.operation},
          {"verdict", verdict_of(v.outcome)},
          {"outcome", text_of(v.outcome).name}};
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
      : args_(args), plot_(plot), plot_event_(plot_event) {
    std::optional<std::string> channel;
    if (args.has("channel")) channel = args.value("channel");
    int n = 0;
    for (qal3_user_case_trigger* t : list.records()) {
      ++n;
      if (!t || (channel && *channel != t->channel)) continue;
      triggers_.push_back({n, t, ReplayPtr(qal3_replay_new(&t, 1)), 0});
      if (!triggers_.back().replay) throw std::bad_alloc();
    }
  }

  // Evaluates every trigger on the `events` events of `data` and prints
  // their lines (JSON records with `json_lines`; else, with --json, keeps
  // the events' records for the document). `label(e)` names event e of
  // them. False when the library refused the data (it said why).
  bool run(const std::vector<qal3_replay_data>& data, std::size_t events,
           const std::function<std::string(std::size_t)>& label, bool json_lines) {
    std::vector<signed char> outcomes(events * triggers_.size());
    std::vector<float> values(outcomes.size());
    for (std::size_t k = 0; k < triggers_.size(); ++k) {
      One& one = triggers_[k];
      const cli::MessageScope scope("trigger " + std::to_string(one.number));
      if (qal3_replay_run(one.replay.get(), data.data(), data.size(), events, outcomes.data() + k * events,
                          values.data() + k * events) != 0)
        return false;
    }
    for (std::size_t e = 0; e < events; ++e) {
      const std::size_t event_no = ++events_;
      nlohmann::json results = nlohmann::json::array();
      std::string lines;
      if (!args_.json) lines = "# event " + std::to_string(event_no) + ": " + cli::one_line(label(e)) + "\n";
      const bool drawn = plot_ && (plot_event_ == 0 || event_no == plot_event_);
      for (std::size_t k = 0; k < triggers_.size(); ++k) {
        One& one = triggers_[k];
        const Verdict v = verdict(one, outcomes[k * events + e], values[k * events + e]);
        if (v.outcome == QAL3_REPLAY_FIRES) ++one.fires;
        if (json_lines) {
          nlohmann::json record = json_of(v);
          record["event"] = event_no;
          lines += record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
        } else if (args_.json) {
          results.push_back(json_of(v));
        } else {
          lines += line_of(event_no, v);
        }
        if (drawn) draw(one, v, data, e, event_no);
      }
      if (args_.json && !json_lines)
        json_events_.push_back({{"event", event_no}, {"label", label(e)}, {"results", results}});
      else
        cli::put(lines);
    }
    return true;
  }

  // How often each trigger fired: comment lines, or one JSON record.
  void summary(bool json_lines) const {
    nlohmann::json counts = nlohmann::json::array();
    std::string lines;
    for (const One& one : triggers_) {
      const qal3_user_case_trigger* t = one.trigger;
      if (json_lines)
        counts.push_back({{"trigger", one.number}, {"fires", one.fires}, {"events", events_}});
      else
        lines += "# trigger " + std::to_string(one.number) + " (" + cli::one_line(cli::field_text(t->channel)) + " " +
                 slot_name(qal3_get_function_string(t->function)) + " " +
                 slot_name(qal3_get_operation_string(t->operation)) + "): fires in " + std::to_string(one.fires) +
                 " of " + std::to_string(events_) + " events\n";
    }
    cli::put(json_lines ? nlohmann::json{{"summary", counts}}.dump() + "\n" : lines);
  }

  const nlohmann::json& json_events() const { return json_events_; }
  const std::vector<plot::Panel>& panels() const { return panels_; }
  std::size_t events() const { return events_; }

 private:
  struct One {
    int number;                       // in the list, from 1
    qal3_user_case_trigger* trigger;  // the list's record
    ReplayPtr replay;
    std::size_t fires;
  };

  static Verdict verdict(const One& one, int outcome, float value) {
    const qal3_user_case_trigger& t = *one.trigger;
    Verdict v;
    v.trigger = one.number;
    v.channel = cli::field_text(t.channel);
    v.subchannel = t.subchannel;
    v.function = slot_name(qal3_get_function_string(t.function));
    v.operation = slot_name(qal3_get_operation_string(t.operation));
    v.outcome = outcome;
    if (outcome == QAL3_REPLAY_FIRES || outcome == QAL3_REPLAY_NOT_FIRED) v.result = value;
    return v;
  }

  // The panel of trigger `one` in event `e` of `data`, when it has a spectrum.
  void draw(const One& one, const Verdict& v, const std::vector<qal3_replay_data>& data, std::size_t e,
            std::size_t event_no) {
    struct FreeBlock {
      void operator()(qal3_serv_block_subhead_2010* b) const { qal3_evutl_free_block(b); }
    };
    const std::unique_ptr<qal3_serv_block_subhead_2010, FreeBlock> block(
        qal3_replay_block(data.data(), data.size(), e, one.trigger));
    plot::Panel panel;
    const std::string title = "event " + std::to_string(event_no) + ", trigger " + std::to_string(one.number);
    if (plot::make_panel(block.get(), *one.trigger, title, verdict_of(v.outcome), v.result, panel))
      panels_.push_back(std::move(panel));
  }

  const cli::Args& args_;
  bool plot_;
  std::size_t plot_event_;
  std::size_t events_ = 0;
  std::vector<One> triggers_;
  nlohmann::json json_events_ = nlohmann::json::array();
  std::vector<plot::Panel> panels_;
};

// The file of --events: one row of numbers a line, read one line at a time.
// Its first row may name the columns: "channel", "subchannel" and "event"
// columns say whose data a row is and which event it belongs to; the
// other columns are the axis start, the increment and the samples.
class EventFile {
 public:
  // One row: its numbers, and the channel, subchannel and event it names.
  struct Row {
    std::optional<std::string> channel;
    int subchannel = 0;
    std::optional<std::string> event;
    std::vector<float> numbers;  // start, increment, samples
    std::size_t line = 0;
  };

  // Opens `arg` ("-": standard input); a name ending in ".csv" is CSV.
  explicit EventFile(const std::string& arg)
      : name_(arg == "-" ? "<stdin>" : arg),
        file_(arg == "-" ? stdin : std::fopen(arg.c_str(), "r"), arg == "-" ? &keep_open : &close),
        csv_(is_csv(arg)) {}

  bool open() const { return file_ != nullptr; }
  const std::string& name() const { return name_; }

  // The next row; false at the end or on a fault, which `error` then says.
  bool next(Row& row, std::size_t limit, std::string& error) {
    std::string line;
    while (read_line(line, limit, error)) {
      const auto hash = line.find('#');
      if (hash != std::string::npos) line.erase(hash);
      std::vector<std::string> fields;
      if (csv_) {
        fields = split(line, ',');
        for (std::string& f : fields) f = trimmed(f);
      } else {
        std::istringstream words(line);
        for (std::string word; words >> word;) fields.push_back(word);
      }
      if (fields.empty() || (fields.size() == 1 && fields[0].empty())) continue;
      const bool first = !seen_row_;
      seen_row_ = true;
      if (first && header(fields)) continue;
      if (fields_row(fields, first, row, error)) return true;
      // The first row of a CSV file may name its columns.
      if (first && csv_ && error.empty()) continue;
      if (error.empty()) error = "line " + std::to_string(line_number_) + ": not a number";
      return false;
    }
    return false;
  }

  // Whether rows name their channel.
  bool by_channel() const { return channel_col_ >= 0; }

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

  static std::string trimmed(const std::string& f) {
    const auto b = f.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    return f.substr(b, f.find_last_not_of(" \t\r") - b + 1);
  }

  static std::string lower(std::string f) {
    for (char& c : f) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return f;
  }

  // A first row naming the channel, subchannel or event columns: where
  // they are. False for any other row.
  bool header(const std::vector<std::string>& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const std::string name = lower(fields[i]);
      int* col = name == "channel"      ? &channel_col_
                 : name == "subchannel" ? &sub_col_
                 : name == "event"      ? &event_col_
                                        : nullptr;
      if (col) *col = static_cast<int>(i);
    }
    return channel_col_ >= 0 || sub_col_ >= 0 || event_col_ >= 0;
  }

  // One line, its line feed left out; false at the end or on a fault. A
  // line holding bytes no text has (a NUL, other control characters) is
  // refused: binary recordings are read with --recording.
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
    for (const char c : line) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 0x20 && c != '\t' && c != '\r') {
        error = "line " + std::to_string(line_number_) +
                ": not a text events file (it holds binary data; a recording is read with --recording)";
        return false;
      }
    }
    return true;
  }

  // The row of `fields`. False with `error` empty when a number field of
  // the `first` row of a CSV file is not a number (it may name columns).
  bool fields_row(const std::vector<std::string>& fields, bool first, Row& row, std::string& error) {
    row = Row();
    row.line = line_number_;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const int col = static_cast<int>(i);
      if (col == channel_col_) {
        row.channel = fields[i];
      } else if (col == event_col_) {
        row.event = fields[i];
      } else if (col == sub_col_) {
        const std::string& f = fields[i];
        const auto r = std::from_chars(f.data(), f.data() + f.size(), row.subchannel);
        if (r.ec != std::errc() || r.ptr != f.data() + f.size() || row.subchannel < 0) {
          error = "line " + std::to_string(line_number_) + ": not a subchannel number: '" + cli::one_line(f) + "'";
          return false;
        }
      } else {
        float v = 0;
        if (!parse_float(fields[i], v)) {
          if (!first || !csv_ || by_channel())
            error = "line " + std::to_string(line_number_) + ": not a number: '" + cli::one_line(fields[i]) + "'";
          return false;
        }
        row.numbers.push_back(v);
      }
    }
    if (by_channel() && (!row.channel || row.channel->empty())) {
      error = "line " + std::to_string(line_number_) + ": no channel name";
      return false;
    }
    if (row.numbers.size() < 2) error = "line " + std::to_string(line_number_) + ": no axis start and increment";
    return row.numbers.size() >= 2;
  }

  std::string name_;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
  bool csv_;
  bool seen_row_ = false;
  std::size_t line_number_ = 0;
  int channel_col_ = -1;
  int sub_col_ = -1;
  int event_col_ = -1;
};

// Whether `row` starts a new event after the rows of `ev`: it names another
// event, or a channel and subchannel the event already has.
bool starts_event(const Event& ev, const std::optional<std::string>& ev_key, const EventFile::Row& row) {
  if (ev.entries.empty()) return false;
  if (row.event) return row.event != ev_key;
  for (const Entry& e : ev.entries)
    if (e.channel == row.channel && e.subchannel == row.subchannel) return true;
  return false;
}

// Replays the events of `arg`; the exit status.
int replay_file(const std::string& arg, const cli::Args& args, Replay& replay) {
  EventFile file(arg);
  if (!file.open()) {
    cli::file_error(arg, std::strerror(errno));
    return cli::kBadDocument;
  }
  EventFile::Row row;
  std::string error;
  Event ev;
  std::optional<std::string> ev_key;
  std::size_t first_line = 0, last_line = 0;
  bool refused = false;
  const auto flush = [&] {
    if (ev.entries.empty()) return;
    ev.label = (first_line == last_line ? "line " + std::to_string(first_line)
                                        : "lines " + std::to_string(first_line) + "-" + std::to_string(last_line)) +
               " of " + file.name();
    refused = refused || !replay.run(
                             ev.data(), 1, [&](std::size_t) { return ev.label; }, args.json);
    ev.entries.clear();
  };
  while (!refused && file.next(row, args.max_input, error)) {
    if (!file.by_channel() || starts_event(ev, ev_key, row)) flush();
    if (ev.entries.empty()) first_line = row.line;
    last_line = row.line;
    ev_key = row.event;
    ev.entries.push_back({row.channel, row.subchannel, QAL3_REPLAY_SPECTRUM, row.numbers[0], row.numbers[1],
                          std::vector<float>(row.numbers.begin() + 2, row.numbers.end())});
  }
  if (!refused && error.empty()) flush();
  if (!error.empty()) cli::file_error(file.name(), error);
  return error.empty() && !refused ? cli::kOk : cli::kBadDocument;
}

// The axis value --start or --inc gives a spectrum `name` of `channel`
// (NAME[k] or NAME): NAME[k]=X, else NAME=X, else a plain X, else `given`.
// False, with `error` set, for a value that is not a number.
bool axis_of(const cli::Args& args, const char* option, const std::string& name, const std::string& channel,
             float& given, std::string& error) {
  std::optional<float> plain, of_channel, of_name;
  for (const auto& o : args.options) {
    if (o.first != option) continue;
    const auto eq = o.second.rfind('=');
    float v = 0.0f;
    if (!parse_float(eq == std::string::npos ? o.second : o.second.substr(eq + 1), v)) {
      error = std::string("--") + option + ": expected X or NAME=X, not '" + cli::one_line(o.second) + "'";
      return false;
    }
    if (eq == std::string::npos)
      plain = v;
    else if (o.second.compare(0, eq, name) == 0 && eq == name.size())
      of_name = v;
    else if (o.second.compare(0, eq, channel) == 0 && eq == channel.size())
      of_channel = v;
  }
  given = of_name ? *of_name : of_channel ? *of_channel : plain ? *plain : given;
  return true;
}

// Replays the recording `path` block by block of events; the exit status.
int replay_recording(const std::string& path, const cli::Args& args, trigger::TriggerList& list, Replay& replay) {
  std::string error;
  const std::unique_ptr<recording::Recording> rec =
      recording::Recording::open(path, args.has("channel") ? args.value("channel") : "", error);
  if (!rec) {
    cli::file_error(path, error);
    return cli::kBadDocument;
  }
  // The channels some trigger names, each with its own rows.
  struct Read {
    std::size_t channel;
    std::vector<float> rows;
    qal3_replay_data data;
  };
  std::vector<Read> reads;
  for (std::size_t c = 0; c < rec->channels().size(); ++c) {
    const recording::Channel& ch = rec->channels()[c];
    bool named = false;
    for (const qal3_user_case_trigger* t : list.records())
      named = named || (t && cli::field_text(t->channel) == ch.name);
    if (!named) continue;
    const std::string name = ch.subchannel == 0 ? ch.name : ch.name + "[" + std::to_string(ch.subchannel) + "]";
    float start = 0.0f, inc = 1.0f;
    if (ch.spectrum &&
        (!axis_of(args, "start", name, ch.name, start, error) || !axis_of(args, "inc", name, ch.name, inc, error)))
      return cli::usage_error("trigger test", error);
    reads.push_back({c,
                     {},
                     {nullptr, ch.subchannel, ch.spectrum ? QAL3_REPLAY_SPECTRUM : QAL3_REPLAY_VALUE, start, inc,
                      ch.samples, nullptr, ch.samples}});
  }
  // The triggers whose data the recording lacks, named once each.
  {
    std::vector<qal3_replay_data> probe;
    for (const Read& r : reads) {
      probe.push_back(r.data);
      probe.back().channel = rec->channels()[r.channel].name.c_str();
    }
    std::vector<std::string> missing;
    for (qal3_user_case_trigger* t : list.records()) {
      if (!t || (args.has("channel") && args.value("channel") != t->channel)) continue;
      const ReplayPtr one(qal3_replay_new(&t, 1));
      if (!one || qal3_replay_finds(one.get(), 0, probe.data(), probe.size()) != 0) continue;
      const std::string name =
          cli::field_text(t->channel) + (t->subchannel == 0 ? "" : "[" + std::to_string(t->subchannel) + "]");
      if (std::find(missing.begin(), missing.end(), name) == missing.end()) missing.push_back(name);
    }
    for (const std::string& m : missing)
      cli::file_error(path, "warning: the recording holds no channel '" + cli::one_line(m) + "'");
  }
  // Blocks of about 64 MiB of rows of every channel read.
  std::size_t row_bytes = 0;
  for (const Read& r : reads) row_bytes += std::max<std::size_t>(1, r.data.samples) * sizeof(float);
  const std::size_t block =
      std::clamp<std::size_t>((std::size_t{64} << 20) / std::max<std::size_t>(1, row_bytes), 1, 4096);
  for (Read& r : reads) r.rows.resize(block * std::max<std::size_t>(1, r.data.samples));
  std::vector<qal3_replay_data> data;
  for (std::size_t first = 0; first < rec->events(); first += block) {
    const std::size_t count = std::min(block, rec->events() - first);
    data.clear();
    for (Read& r : reads) {
      if (!rec->read(r.channel, first, count, r.rows.data(), error)) {
        cli::file_error(path, error);
        return cli::kBadDocument;
      }
      qal3_replay_data d = r.data;
      d.channel = rec->channels()[r.channel].name.c_str();
      d.data = r.rows.data();
      data.push_back(d);
    }
    const auto label = [&](std::size_t e) { return "row " + std::to_string(first + e) + " of " + path; };
    if (!replay.run(data, count, label, args.json)) return cli::kBadDocument;
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
  const bool recorded = args.has("recording");
  const bool replaying = args.has("events") || recorded;
  if (args.operands.size() != 1) return cli::usage_error(cmd, "give exactly one trigger list");
  if (cli::stdin_once(cmd, inputs) >= 0) return cli::kUsage;
  if (event_args.empty() && !replaying)
    return cli::usage_error(cmd, "give at least one event (--spectrum, --value, --slow or --events)");
  if (replaying && (!event_args.empty() || inputs.size() != (recorded ? 1u : 2u) || (recorded && args.has("events"))))
    return cli::usage_error(cmd, "--events and --recording take one file, and no other event");
  if (!recorded && (args.has("start") || args.has("inc")))
    return cli::usage_error(cmd, "--start and --inc are the axes of a --recording's spectra");
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
    status = recorded ? replay_recording(args.value("recording"), args, list, replay)
                      : replay_file(args.value("events"), args, replay);
    replay.summary(args.json);
  } else {
    for (const Event& ev : events) {
      if (!replay.run(
              ev.data(), 1, [&](std::size_t) { return ev.label; }, false))
        return cli::kBadDocument;
    }
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
