/// \file
/// Event lists: which event types a consumer wants, from which server blocks
/// and channels, with trigger mask, minimum event time and priority.
/// Document root "BMR".
///
/// Reading, writing and printing may run in several threads at once, each
/// thread with lists of its own.
#ifndef QAL3_PARSE_EV_LIST_H
#define QAL3_PARSE_EV_LIST_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "event.h"
#include "qal3_export.h"

/// One server block of an entry: its name and the channels wanted (an empty
/// channel list means all channels). Channel names are new[]-allocated.
struct qal3_ev_sb_list {
  char sb_list[256];            ///< server block name
  std::vector<char*>* ch_list;  ///< the channels wanted, owned
};

/// One wanted event type (an empty server block list means the full event).
struct qal3_ev_entry {
  QAL3_EVTYPE evtype;                      ///< the event type
  std::vector<qal3_ev_sb_list*>* sb_list;  ///< the server blocks wanted, owned
  time_stamp min_ev_time;                  ///< minimum event time
  u_int tmask;                             ///< trigger mask
  u_int priority;                          ///< priority
};

/// Reads the NUL-terminated document `xml` and appends one entry per accepted
/// event type to `list` (never cleared; entries made before a failure stay).
/// Returns 0 on success, else 1 for a structural failure (no parser, failed
/// start, wrong root) plus the parser's error count. Null arguments give 1.
QAL3_API int qal3_parse_ev_list_read(char* xml, std::vector<qal3_ev_entry*>* list);

/// As qal3_parse_ev_list_read for the document in the file at path `file`.
QAL3_API int qal3_parse_ev_list_readf(char* file, std::vector<qal3_ev_entry*>* list);

/// Writes the BMR document of `list` (null entries, server blocks and
/// channel names are left out), as the readers above read it, to every
/// destination given: the file `file_name` (null or empty for none; created
/// or truncated), the descriptor `fd` (-1 for none; written completely,
/// never closed) and `xml_str` (null for none; replaced by the document).
/// With none of them the document is printed on standard output. The
/// records are only read; the caller keeps them. Returns 0 when done; 1 when
/// the file cannot be created; 2 when `list` is null or the document could
/// not be written completely to the file or to `fd`. Every failure is
/// reported on standard output.
QAL3_API int qal3_write_ev_list(const std::vector<qal3_ev_entry*>* list, const char* file_name, int fd,
                                std::string* xml_str);

/// Prints every entry to standard output; nothing for a null list.
QAL3_API void qal3_print_ev_list(std::vector<qal3_ev_entry*>* list);

/// Frees every entry with its server blocks and channel names and empties
/// `list`; nothing for a null list.
QAL3_API void qal3_clean_ev_list(std::vector<qal3_ev_entry*>* list);

#endif  // QAL3_PARSE_EV_LIST_H
