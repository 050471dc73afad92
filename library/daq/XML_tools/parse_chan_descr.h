/// \file
/// Channel descriptions: the tag table of the
/// CHANDESCRIPTIONS format, reading of CHANDESCRIPTIONS and DAQvariables
/// documents, writing, merging, printing and loading of description lists;
/// also the XML declaration and ISO time stamp helpers shared by every
/// writer.
///
/// The records (chan_descr_2010, bit_descr, dim_descr, stat_descr and
/// dim_params) are declared in event_util.h. A list is a caller-owned
/// std::vector<chan_descr_2010*>; the records in it are allocated with `new`
/// by the readers and the clone functions and released with
/// clean_chan_desr_list.
///
/// Every function here may run in several threads at once, each thread with
/// lists of its own (or sharing lists only to read them).
#ifndef QAL3_PARSE_CHAN_DESCR_H
#define QAL3_PARSE_CHAN_DESCR_H

#include <ctime>
#include <string>
#include <vector>

#include "attr_tags_functions.h"
#include "event_util.h"
#include "qal3_export.h"

// ---------------------------------------------------------------------------
// Declaration and time stamps.

/// Replaces the content of `str` with the XML declaration line
/// "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n".
QAL3_API void set_xml_header(std::string& str);

/// Appends "\t<isodate>...</isodate>\n" with the time of
/// create_isodate(char*).
QAL3_API void add_iso_date(std::string& str);

/// Writes the local time of *t as "%FT%T" (19 characters, at most 40 bytes
/// with the NUL) into isodate_str. Does nothing when isodate_str is null.
QAL3_API void create_isodate(char* isodate_str, time_t* t);

/// As above for the calling thread's clock (qal3_set_thread_clock): the
/// current local time, or the fixed time in UTC, so that a fixed time gives
/// the same text in every time zone.
QAL3_API void create_isodate(char* isodate_str);

extern "C" {

/// Fixes the clock of the calling thread at *when (copied), for output that
/// is the same on every run; null gives the thread the system clock again,
/// which is every thread's clock until it is fixed. Other threads are not
/// affected. The clock is the time of every writer's isodate (written in
/// UTC while fixed) and the creation time a trigger list reader gives the
/// records it reads. Returns 0, or -1 (the clock unchanged) when *when lies
/// outside 1970-01-01T00:00:00 .. 9999-12-31T23:59:59 UTC, the times an
/// isodate writes.
QAL3_API int qal3_set_thread_clock(const time_t* when);

/// The calling thread's time: stores its fixed time, or the system clock's
/// current time, into *when (when not null). Returns 1 when the clock is
/// fixed, 0 when it is the system clock.
QAL3_API int qal3_get_thread_clock(time_t* when);

}  // extern "C"

namespace qal3 {

/// Fixes the calling thread's clock for the guard's lifetime and puts the
/// thread's previous clock back when it ends. Create and destroy it in the
/// same thread; guards nest.
class ThreadClock {
 public:
  /// `when` null: the system clock while the guard lives. A time the clock
  /// refuses leaves it as it was (ok() false).
  explicit ThreadClock(const time_t* when)
      : fixed_(qal3_get_thread_clock(&previous_) != 0), ok_(qal3_set_thread_clock(when) == 0) {}
  ~ThreadClock() { qal3_set_thread_clock(fixed_ ? &previous_ : nullptr); }
  ThreadClock(const ThreadClock&) = delete;
  ThreadClock& operator=(const ThreadClock&) = delete;
  /// True when the clock took the guard's time.
  bool ok() const { return ok_; }

 private:
  time_t previous_ = 0;
  bool fixed_;
  bool ok_;
};

}  // namespace qal3

// ---------------------------------------------------------------------------
// The element names of the CHANDESCRIPTIONS format.

///@{
/// Number of rows and columns of `tags`.
constexpr int QAL3_CHAN_DESCR_TAG_ROWS = 18;
constexpr int QAL3_CHAN_DESCR_TAG_COLS = 3;
///@}

/// The tag table: row 0 "CHANDESCRIPTIONS", 1 "CHANNEL", 2 "EVTYPE",
/// 3 "STREAM", 4 "PROP", 5 "NAME", 6 "DESC", 7 "UNITS"/"DIM_UNITS"/"STAT_UNITS",
/// 8 "SIZE", 9 "BIT"/"DIM"/"STAT", 10 "BIT_NAME"/"DIM_NAME"/"STAT_NAME",
/// 11 "BIT_DESCR"/"DIM_DESCR"/"STAT_DESCR", 12 "SB_NAME", 13 "DTYPE",
/// 14 "COUNT", 15 "SETPOINT", 16 "SUBSYSTEM", 17 "DB_KEY". Columns 1 and 2
/// are null where a row has no dimension/statistic variant.
QAL3_API extern const char* const tags[QAL3_CHAN_DESCR_TAG_ROWS][QAL3_CHAN_DESCR_TAG_COLS];

// ---------------------------------------------------------------------------
// Reader.

/// Reads the CHANDESCRIPTIONS or DAQvariables document `xml` (NUL-terminated,
/// unchanged for the call) and appends one new record per new property to
/// *list. `shift`: store event and data types as masks (event type n ->
/// 1 << n for 0..31, else 0; data type n -> 1 << n for 0..31,
/// 0x80000000 | 1 << (n - 32) for 32..62, else 0). `delete_duplicated`:
/// in CHANDESCRIPTIONS, merge a channel whose property is already in the list
/// instead of appending it (DAQvariables always merges). A record enters the
/// list at most once: a further "PROP" (or "nexol") element of a channel
/// already appended is ignored. Property lookups use an index of the list
/// built for the call, with the answers of find_chan_entry (first match).
/// A DAQvariables "bitTitle" text is read as the bit's name and its
/// description (the writer writes the description as the title).
/// Returns 0 on success, 2 when `list` is null, 1 when the parser cannot be
/// initialised, else the structural error (1: start, first step or root
/// failed; else the number of "No attribute" messages) plus the parser's
/// error count.
QAL3_API int parse_descr_list_read(char* xml, std::vector<chan_descr_2010*>* list, bool shift, bool delete_duplicated);

/// As parse_descr_list_read for the document in the file at path `file`, with
/// the file reader's own rules (DAQvariables merging ORs event
/// type, stream and data type; "STAT_DESCR" only with a current statistic;
/// "STAT_UNITS" needs only a current statistic; "DIM" keeps the current
/// statistic; no message for a bitTitle without text). 2 when `list` is null.
QAL3_API int parse_descr_list_readf(char* file, std::vector<chan_descr_2010*>* list, bool shift,
                                    bool delete_duplicated);

/// The first description in *list whose prop_name equals `prop` (linear,
/// exact, case-sensitive), or null (also for a null list or `prop`).
QAL3_API chan_descr_2010* find_chan_entry(std::vector<chan_descr_2010*>* list, char* prop);

// ---------------------------------------------------------------------------
// Writer.

/// Writes *chdscr_list. `mode` 1: tab-separated listing to the file; 2: XML
/// document (`format` 0 CHANDESCRIPTIONS, 1 DAQvariables) to the file, to `fd`
/// (-1: none) and appended to *sout (null: none); 3: name, size and data type
/// table to the file; other modes write nothing per channel. `format` must be
/// 0 or 1 in every mode. `file_name` null or empty: no file. With no file, no
/// `sout` and `fd` -1 the list is printed with print_qal3_chan_descr instead.
/// `dims`: axis parameters of spectra and images for CHANDESCRIPTIONS
/// (null: none). A property already written earlier in the list is skipped.
/// Returns 0 on success, 1 when the file cannot be opened, 2 for an invalid
/// argument or a failed write (file or descriptor).
QAL3_API int dump_chan_desr(std::vector<chan_descr_2010*>* chdscr_list, char* file_name, int mode, int format,
                            int fd = -1, std::string* sout = nullptr, std::vector<dim_params*>* dims = nullptr);

/// Reads `xml` with parse_descr_list_read(xml, list, true, false) and writes
/// the result with dump_chan_desr(list, file_name, mode, format, fd, null,
/// null). 3 (after "Failed to parse CHANDESCR list\n" on standard output) when
/// the reader reports an error; else the writer's result.
QAL3_API int dump_chan_desr_from_xml(char* xml, char* file_name, int mode, int format, int fd = -1);

/// Row `n` (0..13), column `m` (0..2) of `tags`, else null; also null for an
/// empty cell. The text belongs to the library and must not be changed.
QAL3_API char* get_chan_descr_root_tag(int n, int m);

// ---------------------------------------------------------------------------
// List utilities.

///@{
/// New copies (allocated with `new`), or null when `in` is null. The dimension
/// copy is deep: it holds new copies of the statistics, nstats counting them.
QAL3_API bit_descr* qal3_clone_bit_descr(bit_descr* in);
QAL3_API stat_descr* qal3_clone_stat_descr(stat_descr* in);
QAL3_API dim_descr* qal3_clone_dim_descr(dim_descr* in);
///@}

/// Releases every description of *chdscr_list with its sub-records (the
/// counts nbits, ndims and nstats decide what is released; a count of 0 with a
/// non-empty vector is reported on standard output and its records are not
/// released) and empties the list. Nothing for a null list.
QAL3_API void clean_chan_desr_list(std::vector<chan_descr_2010*>* chdscr_list);

/// Prints *list in the "QAL3 XML Channel Description (XCD)" format on
/// standard output. Nothing for a null list.
QAL3_API void print_qal3_chan_descr(std::vector<chan_descr_2010*>* list);

/// Merges `from` into `in` (same prop_name): with `force` from's non-empty
/// values override, without it they fill in's gaps; bits and dimensions are
/// cloned. `from` is not changed. Returns false when merged, true when either
/// pointer is null or the property names differ.
QAL3_API bool extend_channel_description(chan_descr_2010* in, chan_descr_2010* from, bool force);

/// Reads the document carried in the block `tab` (pattern 0xCDECDEF2 or
/// 0xCDECDEF3; `length` counts its 8 header bytes plus the text) with
/// parse_descr_list_read(text, list, false, false). -1 for a null argument,
/// -3 for a wrong pattern, -4 for a length of 8 or less; else the reader's
/// result.
QAL3_API int qal3_load_chan_descr(qal3_xml_chan_descr_header* tab, std::vector<chan_descr_2010*>* list);

/// parse_descr_list_readf(file, list, false, false); -1 when `list` or `file`
/// is null or `file` is empty.
QAL3_API int qal3_load_master_daq_channel_description_file(std::vector<chan_descr_2010*>* list, char* file);

#endif  // QAL3_PARSE_CHAN_DESCR_H
