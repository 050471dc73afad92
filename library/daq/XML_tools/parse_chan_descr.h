// Channel descriptions: reading, writing, merging and printing of the
// CHANDESCRIPTIONS and DAQvariables documents; also the XML declaration and
// ISO time stamp helpers shared by every writer.
#ifndef QAL3_PARSE_CHAN_DESCR_H
#define QAL3_PARSE_CHAN_DESCR_H

#include <ctime>
#include <string>
#include <vector>

#include "attr_tags_functions.h"
#include "event_util.h"
#include "qal3_export.h"

// Replaces the content of `str` with the XML declaration line
// "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n".
QAL3_API void set_xml_header(std::string& str);

// Appends "\t<isodate>...</isodate>\n" with the current local time.
QAL3_API void add_iso_date(std::string& str);

// Writes the local time of *t as "%FT%T" (19 characters, at most 40 bytes
// with the NUL) into isodate_str. Does nothing when isodate_str is null.
QAL3_API void create_isodate(char* isodate_str, time_t* t);

// As above for the current time.
QAL3_API void create_isodate(char* isodate_str);

#endif  // QAL3_PARSE_CHAN_DESCR_H
