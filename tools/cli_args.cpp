#include "cli_args.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "cli_clock.h"
#include "cli_commands.h"
#include "cli_help.h"
#include "cli_messages.h"
#include "cli_output.h"

namespace cli {

namespace {

// "SIZE" of --max-input-size: a number of bytes, optionally followed by K,
// M, G, T, P or E (powers of 1024), or "unlimited" (the most a size_t
// holds). False when the text is no such size, is 0, or does not fit a
// size_t.
bool parse_size(const std::string& text, std::size_t& out) {
  if (text == kUnlimitedInput) {
    out = std::numeric_limits<std::size_t>::max();
    return true;
  }
  std::uint64_t value = 0;
  const char* const end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, value);
  if (r.ec != std::errc() || r.ptr == text.data()) return false;
  static const char kUnits[] = "KMGTPE";
  unsigned shift = 0;
  if (r.ptr != end) {
    const char* unit =
        r.ptr + 1 == end && *r.ptr ? std::strchr(kUnits, std::toupper(static_cast<unsigned char>(*r.ptr))) : nullptr;
    if (!unit) return false;
    shift = 10 * static_cast<unsigned>(unit - kUnits + 1);
  }
  const std::uint64_t most = std::numeric_limits<std::size_t>::max();
  if (value == 0 || value > (most >> shift)) return false;
  out = static_cast<std::size_t>(value << shift);
  return true;
}

}  // namespace

bool Args::has(const std::string& name) const {
  for (const auto& o : options)
    if (o.first == name) return true;
  return false;
}

std::string Args::value(const std::string& name) const {
  std::string v;
  for (const auto& o : options)
    if (o.first == name) v = o.second;
  return v;
}

int usage_error(const std::string& cmd, const std::string& message) {
  flush_stdout();
  std::fprintf(stderr, "qal3 %s: %s\nTry 'qal3 %s --help'.\n", cmd.c_str(), message.c_str(), cmd.c_str());
  return kUsage;
}

int stdin_once(const std::string& cmd, const std::vector<std::string>& inputs) {
  if (std::count(inputs.begin(), inputs.end(), "-") < 2) return -1;
  return usage_error(cmd, "standard input ('-') is named more than once; it can be read only once");
}

void print_version() { put("qal3 1.0.0\n"); }

int parse(const CommandInfo& command_info, int argc, char** argv, Args& args) {
  std::vector<option> longs;
  std::vector<const OptionInfo*> infos;
  std::string shorts = ":";  // missing values reported as ':'
  auto add = [&](const char* name) {
    const OptionInfo* o = find_option(name);
    for (const OptionInfo* i : infos)
      if (i == o) return;
    infos.push_back(o);
    longs.push_back(
        {o->name, o->arg ? required_argument : no_argument, nullptr, static_cast<int>(infos.size() - 1) + 256});
    if (o->letter) shorts += std::string(1, o->letter) + (o->arg ? ":" : "");
  };
  for (const OptionUse& u : command_info.options) add(u.name);
  for (const char* common : {"quiet", "help", "version"}) add(common);
  longs.push_back({nullptr, 0, nullptr, 0});

  opterr = 0;
  optind = 0;  // a fresh scan (GNU)
  for (;;) {
    int index = -1;
    const int c = getopt_long(argc, argv, shorts.c_str(), longs.data(), &index);
    if (c == -1) break;
    const OptionInfo* o = nullptr;
    if (c >= 256) {
      o = infos[static_cast<std::size_t>(c - 256)];
    } else if (c == '?' || c == ':') {
      const std::string what =
          optopt && optopt < 256 ? std::string("-") + static_cast<char>(optopt) : std::string(argv[optind - 1]);
      return usage_error(command_info.name,
                         c == ':' ? "option '" + what + "' needs a value" : "unknown option '" + what + "'");
    } else {
      for (const OptionInfo* i : infos)
        if (i->letter == c) o = i;
    }
    if (!o) return usage_error(command_info.name, "unknown option");
    const std::string name = o->name;
    if (name == "help") return put(help_text(command_info)), kOk;
    if (name == "version") return print_version(), kOk;
    if (name == "quiet") {
      args.quiet = true;
      if (MessageRelay* relay = MessageRelay::current()) relay->set_quiet(true);
    }
    if (name == "json") args.json = true;
    if (name == "max-input-size" && !parse_size(optarg, args.max_input))
      return usage_error(command_info.name, "--max-input-size: '" + std::string(optarg) +
                                                "' is not a size (bytes, a number with K, M, G, T, P or E, or " +
                                                kUnlimitedInput + ")");
    if (name == "output" && *optarg == '\0') return usage_error(command_info.name, "-o needs a file name");
    args.options.emplace_back(name, o->arg ? optarg : "");
  }
  for (int i = optind; i < argc; ++i) args.operands.push_back(argv[i]);
  return fix_clock(command_info, args);
}

}  // namespace cli
