// What the channel description reader, writer and list utilities share.
// Internal to libQAL3XML.
#ifndef QAL3_CHAN_DESCR_INTERNAL_H
#define QAL3_CHAN_DESCR_INTERNAL_H

#include "parse_chan_descr.h"
#include "trigger_facts.h"

namespace qal3 {
namespace chan {

// Rows of `tags`.
enum TagRow {
  T_ROOT = 0,
  T_CHANNEL = 1,
  T_EVTYPE = 2,
  T_STREAM = 3,
  T_PROP = 4,
  T_NAME = 5,
  T_DESC = 6,
  T_UNITS = 7,
  T_SIZE = 8,
  T_BIT = 9,
  T_BIT_NAME = 10,
  T_BIT_DESCR = 11,
  T_SB_NAME = 12,
  T_DTYPE = 13,
  T_COUNT = 14,
  T_SETPOINT = 15,
  T_SUBSYSTEM = 16,
  T_DB_KEY = 17
};
// Columns of `tags`.
enum TagCol { C_BIT = 0, C_DIM = 1, C_STAT = 2 };

inline const char* tag(int row, int col = 0) { return tags[row][col]; }

// The root element of the DAQvariables format, and the DAQ name written for
// a description that has none.
constexpr const char* kDaqRoot = "DAQvariables";
using qal3::kUndefinedName;

// Releases the dimension records of `d` as its counts allow, naming `prop`
// in the messages. Leaves `dims` empty when the records were released.
void release_dimensions(chan_descr_2010* d, const char* prop);

}  // namespace chan
}  // namespace qal3

#endif  // QAL3_CHAN_DESCR_INTERNAL_H
