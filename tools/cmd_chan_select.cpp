// qal3 chan select: answer a question about a channel from its descriptions.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "chan_documents.h"
#include "chan_selector.h"
#include "cli_forms.h"
#include "event_util.h"

namespace {

// Names of the types of the `bits` low bits set in `mask` (bit n stands
// for type base + n), joined by ':'.
std::string type_names(unsigned mask, int bits, int base, const char* (*name)(int)) {
  std::string s;
  for (int n = 0; n < bits; ++n) {
    if (!((mask >> n) & 1u)) continue;
    if (!s.empty()) s += ':';
    s += name(base + n);
  }
  return s;
}

// An event type given as a number below QAL3_EV_EVMAX or by its name; -1
// when neither.
int parse_event_type(const std::string& s) {
  if (s.empty()) return -1;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (*end == '\0') return v >= 0 && v < QAL3_EV_EVMAX ? static_cast<int>(v) : -1;
  for (int n = 0; n < QAL3_EV_EVMAX; ++n)
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
// document is named; the readers' notes (each text cut) are warnings.
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
    ok = chan_docs::parse_descriptions(
             in, [&](char* xml) { return load(1, xml); }, [&](char* path) { return load(0, path); }) &&
         ok;
  }
  return ok;
}

// Exit statuses of select: the answer, as grep gives it.
enum Answer : int { kYes = 0, kNo = 1, kError = 2 };

}  // namespace

int cmd_chan_select(const cli::CommandInfo& command_info, int argc, char** argv) {
  const char* cmd = command_info.name;
  cli::Args a;
  const int st = cli::parse(command_info, argc, argv, a);
  if (st >= 0) return st;
  const std::vector<std::string>& args = a.operands;
  if (args.empty()) return cli::usage_error(cmd, "no question given");
  const std::string q = args[0];
  if (std::find(std::begin(cli::kSelectQuestions), std::end(cli::kSelectQuestions), q) ==
      std::end(cli::kSelectQuestions))
    return cli::usage_error(cmd, "unknown question '" + cli::one_line(q) + "'");
  const std::size_t nargs = q == "in-event" ? 2 : 1;
  if (args.size() < 1 + nargs) return cli::usage_error(cmd, q + ": missing argument");
  if (args.size() == 1 + nargs) return cli::usage_error(cmd, "no description document given");
  int ev = -1;
  if (q == "in-event") {
    ev = parse_event_type(args[1]);
    if (ev < 0) return cli::usage_error(cmd, "unknown event type '" + cli::one_line(args[1]) + "'");
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
    const unsigned m =
        static_cast<unsigned>(q == "event-type" ? sel.get_event_type(&chan[0]) : sel.get_data_type(&chan[0]));
    // In a data-type mask bit 31 marks the 2010 layout: bit n then stands for type 32 + n.
    const std::string names = q == "event-type" ? type_names(m, 32, 0, event_name_itoa)
                                                : type_names(m, 31, m >> 31 ? 32 : 0, block_name_itoa);
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
  if (!known) cli::file_error(cmd, "unknown channel '" + cli::one_line(chan) + "'");
  if (a.json)
    cli::print_json(doc);
  else if (!a.quiet)
    cli::put(text);
  // An answer that cannot be written is an error, never the answer "no".
  cli::flush_stdout();
  return std::ferror(stdout) ? kError : status;
}
