// The time the tool's writers stamp: --date, --keep-date and
// SOURCE_DATE_EPOCH, given to the libraries as the calling thread's clock.
#ifndef QAL3_CLI_CLOCK_H
#define QAL3_CLI_CLOCK_H

#include "cli_args.h"
#include "cli_input.h"

namespace cli {

// The help texts of the date options.
extern const char kDateHelp[];
extern const char kKeepDateHelp[];

// For a command that takes --date: fixes the calling thread's clock at the
// time --date gives, else at SOURCE_DATE_EPOCH when that is set. Returns -1
// to go on, or kUsage (reported) when the time given is no time.
int fix_clock(const CommandInfo& command_info, const Args& args);

// With --keep-date: fixes the clock at the isodate of the document `in`
// (read through the library's parser) when it has one. Returns whether it
// did.
bool keep_date(const Args& args, Input& in);

// For trigger lists, whose Creation time holds the seconds since 1970 in 32
// bits (up to 2106-02-07T06:28:15 UTC): -1 to go on, or kUsage (reported,
// naming --date or SOURCE_DATE_EPOCH, or --keep-date and the input named
// `kept_from` when keep_date fixed the clock) when the clock is fixed at a
// later time.
int fits_creation_time(const CommandInfo& command_info, const Args& args, const std::string* kept_from = nullptr);

}  // namespace cli

#endif  // QAL3_CLI_CLOCK_H
