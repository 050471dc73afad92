// Event lists: which event types a consumer wants, from which server blocks
// and channels, with trigger mask, minimum event time and priority.
// Document root "BMR".
//
// Reading, writing and printing may run in several threads at once, each
// thread with lists of its own.
#ifndef QAL3_PARSE_EV_LIST_H
#define QAL3_PARSE_EV_LIST_H

#include <sys/types.h>

#include <vector>

#include "event.h"
#include "qal3_export.h"

// One server block of an entry: its name and the channels wanted (an empty
// channel list means all channels). Channel names are new[]-allocated.
struct qal3_ev_sb_list {
  char sb_list[256];
  std::vector<char*>* ch_list;
};

// One wanted event type (an empty server block list means the full event).
struct qal3_ev_entry {
  QAL3_EVTYPE evtype;
  std::vector<qal3_ev_sb_list*>* sb_list;
  time_stamp min_ev_time;
  u_int tmask;
  u_int priority;
};

// Reads the NUL-terminated document `xml` and appends one entry per accepted
// event type to `list` (never cleared; entries made before a failure stay).
// Returns 0 on success, else 1 for a structural failure (no parser, failed
// start, wrong root) plus the parser's error count. Null arguments give 1.
QAL3_API int qal3_parse_ev_list_read(char* xml, std::vector<qal3_ev_entry*>* list);

// As qal3_parse_ev_list_read for the document in the file at path `file`.
QAL3_API int qal3_parse_ev_list_readf(char* file, std::vector<qal3_ev_entry*>* list);

// Prints every entry to standard output; nothing for a null list.
QAL3_API void qal3_print_ev_list(std::vector<qal3_ev_entry*>* list);

// Frees every entry with its server blocks and channel names and empties
// `list`; nothing for a null list.
QAL3_API void qal3_clean_ev_list(std::vector<qal3_ev_entry*>* list);

#endif  // QAL3_PARSE_EV_LIST_H
