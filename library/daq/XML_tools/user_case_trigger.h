// User-case triggers (libQAL3USERTRIG): the trigger record.
#ifndef QAL3_USER_CASE_TRIGGER_H
#define QAL3_USER_CASE_TRIGGER_H

#include <sys/types.h>

#include <ctime>

#include "event.h"
#include "qal3_export.h"

// One user-case trigger: a function of one channel's data, judged by an
// operation against limits or a bit mask. Records are zero-filled C heap
// allocations released with QAL3_FREE_USER, result buffers included.
struct qal3_user_case_trigger {
  char channel[256];
  int subchannel;
  int function;
  float fparam[16];
  float low;
  float upper;
  u_int bitmask;
  int operation;
  time_t time;
  char description[256];
  int pre_mode;
  char group[256];
  int post_mode;
  int valid;
  float* fprevresult;
  float* fresult;
  u_int* iresult;
};

// ---------------------------------------------------------------------------
// Registry and evaluation (user_case_trigger.cpp).

// ---------------------------------------------------------------------------
// Trigger records and trigger list XML (user_trigger_list.cpp).

#endif  // QAL3_USER_CASE_TRIGGER_H
