#include "cli_clock.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "cli_commands.h"
#include "cli_forms.h"
#include "parse_chan_descr.h"
#include "pull_reader.h"
#include "qal3_messages.h"

namespace cli {

const char kDateHelp[] =
    "stamp the document with TIME instead of the current time: seconds since 1970-01-01 UTC, or "
    "YYYY-MM-DDTHH:MM:SS in UTC; a fixed time is written in UTC, so the output is the same in every "
    "time zone (without --date, the environment variable SOURCE_DATE_EPOCH, in seconds, fixes it "
    "when set)";
const char kKeepDateHelp[] =
    "stamp the document with the isodate of its input (of several inputs, the last one that has "
    "one), written as read; an input without one is stamped as without this option";

namespace {

// `text` as seconds since the epoch: digits only.
bool parse_epoch(const std::string& text, time_t& out) {
  long long v = 0;
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, v);
  if (r.ec != std::errc() || r.ptr != end || text.empty() || text[0] == '-') return false;
  out = static_cast<time_t>(v);
  return static_cast<long long>(out) == v;
}

// `text` as YYYY-MM-DDTHH:MM:SS (the isodate form) read in UTC.
bool parse_iso(const std::string& text, time_t& out) {
  struct tm t {};
  const char* end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &t);
  if (!end || *end != '\0' || text.size() != 19) return false;
  const struct tm given = t;
  out = timegm(&t);
  // A field out of its range (month 13, second 61) moves the others.
  return out != static_cast<time_t>(-1) && t.tm_mday == given.tm_mday && t.tm_hour == given.tm_hour &&
         t.tm_min == given.tm_min && t.tm_sec == given.tm_sec;
}

}  // namespace

int fix_clock(const CommandInfo& command_info, const Args& args) {
  bool takes_date = false;
  for (const OptionUse& u : command_info.options) takes_date = takes_date || std::strcmp(u.name, "date") == 0;
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (!takes_date || (!args.has("date") && !epoch)) return -1;
  const bool given = args.has("date");
  const std::string source = given ? "--date" : "SOURCE_DATE_EPOCH";
  const std::string text = given ? args.value("date") : epoch;
  time_t when = 0;
  if (!parse_epoch(text, when) && !(given && parse_iso(text, when)))
    return usage_error(command_info.name, source + ": '" + one_line(text) + "' is not " +
                                              (given ? "a time (seconds since 1970-01-01 UTC, or YYYY-MM-DDTHH:MM:SS)"
                                                     : "a number of seconds since 1970-01-01 UTC"));
  if (qal3_set_thread_clock(&when) != 0)
    return usage_error(command_info.name, source + ": '" + one_line(text) + "' lies outside the years 1970 to 9999");
  return -1;
}

bool keep_date(const Args& args, Input& in) {
  if (!args.has("keep-date") || in.text.find('\0') != std::string::npos) return false;
  // The real read reports what is wrong with the document: this look stays quiet.
  auto drop = [](const qal3_message&) {};
  const qal3::ThreadMessageSink none(drop);
  std::string date;
  qal3::reader::read(
      qal3::reader::Document::in_memory(&in.text[0]), [](const char* root) { return root != nullptr; },
      [&](const qal3::reader::Step& step) {
        if (!step.value || std::strcmp(step.tag, "isodate") != 0) return true;
        date = step.value;
        return false;
      });
  time_t when = 0;
  return parse_iso(date, when) && qal3_set_thread_clock(&when) == 0;
}

int fits_creation_time(const CommandInfo& command_info, const Args& args, const std::string* kept_from) {
  constexpr long long kLatest = 4294967295LL;  // 2106-02-07T06:28:15 UTC
  time_t when = 0;
  if (qal3_get_thread_clock(&when) == 0) return -1;  // the system clock
  const long long seconds = when;
  if (seconds <= kLatest) return -1;
  std::string text;
  if (kept_from) {
    char iso[32] = "";
    struct tm t {};
    if (gmtime_r(&when, &t)) std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%S", &t);
    text = "--keep-date: the isodate '" + std::string(iso) + "' of " + one_line(*kept_from);
  } else {
    const bool given = args.has("date");
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    text = given ? "--date: '" + one_line(args.value("date")) + "'"
                 : "SOURCE_DATE_EPOCH: '" + one_line(epoch ? epoch : "") + "'";
  }
  return usage_error(command_info.name, text + " lies after 2106-02-07T06:28:15 UTC (" + std::to_string(kLatest) +
                                            " seconds since 1970), the latest time a trigger's Creation time holds");
}

}  // namespace cli
