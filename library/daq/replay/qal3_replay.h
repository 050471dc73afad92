/// \file
/// Trigger replay (libQAL3USERTRIG): a trigger list evaluated over events,
/// each trigger on its own channel and subchannel, with an outcome and a
/// value per event and trigger.
///
/// One loop for every caller: the qal3 tool's `trigger test`, the Python
/// module's Replay and the C++ face (qal3::Replay, qal3::evaluate) all
/// replay through these calls.
///
/// Data. A run is given the events' data as a table of qal3_replay_data
/// entries, one per channel and subchannel: a spectrum (samples on the
/// axis start + i * inc), a name/value reading, or a slow-control update
/// value, each with one row per event. Each trigger reads the entry of its
/// own channel (and, for spectra and name/value data, its own subchannel);
/// a trigger whose data the table lacks has the outcome
/// QAL3_REPLAY_NO_DATA and is not evaluated. Entries without a channel
/// name serve every trigger whose channel no named entry serves.
///
/// Costs. A run lays the data out in the event-utility library's blocks
/// once and keeps them for the next run while the table's layout (names,
/// kinds, subchannels, sample counts, axes) stays the same; per event it
/// allocates nothing and copies only the samples the triggers read.
///
/// Threads. A replay belongs to one thread at a time; replays in several
/// threads run at once. Registering functions while replays run is not
/// allowed (user_case_trigger.h, "Threads").
///
/// Usable from C and C++.
#ifndef QAL3_REPLAY_H
#define QAL3_REPLAY_H

#include <stddef.h>

#include "qal3_export.h"

#ifdef __cplusplus
extern "C" {
#endif

struct qal3_user_case_trigger;
struct qal3_serv_block_subhead_2010;

/// A trigger list with each trigger's state from event to event (the
/// previous value of DIFF functions). Opaque; made by qal3_replay_new,
/// released by qal3_replay_free.
typedef struct qal3_replay qal3_replay;

/// What one trigger did in one event.
enum qal3_replay_outcome {
  QAL3_REPLAY_NOT_FIRED = 0,    ///< the function gave a value; the operation said no
  QAL3_REPLAY_FIRES = 1,        ///< the function gave a value; the operation said yes
  QAL3_REPLAY_FIRST_EVENT = 2,  ///< a DIFF function's first event: it kept its base value, no value to judge
  QAL3_REPLAY_NO_RESULT = 3,    ///< the function gave no value (no such data in the block, an empty window, a failure)
  QAL3_REPLAY_NO_DATA = 4,      ///< the event holds no data for the trigger's channel or subchannel: not evaluated
  QAL3_REPLAY_INVALID = 5       ///< a function or operation slot outside 0..31: not evaluated
};

/// The last subchannel a replay's data may name.
#define QAL3_REPLAY_MAX_SUBCHANNEL 4095

/// What an entry of data holds.
enum qal3_replay_kind {
  QAL3_REPLAY_SPECTRUM = 0,  ///< a spectrum: `samples` floats per event on the axis start + i * inc
  QAL3_REPLAY_VALUE = 1,     ///< a name/value reading: one float per event
  QAL3_REPLAY_SLOW = 2       ///< a slow-control update value of the channel: one float per event
};

/// One channel's (and subchannel's) data over the events of a run.
typedef struct qal3_replay_data {
  const char* channel;  ///< the channel name, compared with the triggers' channel; null: the data of
                        ///< every trigger whose channel no named entry has (not for QAL3_REPLAY_SLOW)
  int subchannel;       ///< spectra and name/value data: the subchannel, 0..QAL3_REPLAY_MAX_SUBCHANNEL;
                        ///< ignored for slow data
  int kind;             ///< a qal3_replay_kind
  float start;          ///< spectra: the axis value of sample 0
  float inc;            ///< spectra: the axis step from one sample to the next
  size_t samples;       ///< spectra: samples per event (at most 536870911); ignored for other kinds
  const float* data;    ///< event e's samples (or value) start at data + e * stride; the caller's,
                        ///< read during the call only; may be null only for a run of no event
  size_t stride;        ///< floats from one event's row to the next; 0: every event reads the same row
} qal3_replay_data;

/// A new replay of the `count` triggers `triggers` (their definitions are
/// copied with QAL3_USER_COPY; the records stay the caller's and are not
/// changed). The replay starts with no previous values. Null when
/// `triggers` is null with a nonzero count, a trigger is null, or memory is
/// short. Release it with qal3_replay_free.
QAL3_API qal3_replay* qal3_replay_new(struct qal3_user_case_trigger* const* triggers, size_t count);

/// Releases `replay` and everything it holds; null is ignored.
QAL3_API void qal3_replay_free(qal3_replay* replay);

/// The number of triggers of `replay`; 0 for null.
QAL3_API size_t qal3_replay_size(const qal3_replay* replay);

/// The replay's own record of trigger `k` (its definition and its result
/// buffers), or null when `k` is out of range or `replay` is null. The
/// record belongs to the replay: read it, never free or change it.
QAL3_API const struct qal3_user_case_trigger* qal3_replay_trigger(const qal3_replay* replay, size_t k);

/// Replays the triggers over `events` events of the `count` entries of
/// `data`. For event e and trigger k, outcomes[e * size + k] gets a
/// qal3_replay_outcome and values[e * size + k] the function's value, NaN
/// where it gave none (outcomes other than NOT_FIRED and FIRES). Either
/// output may be null. DIFF functions go on from the previous run's last
/// event. Returns 0; -1 with nothing evaluated when an argument is invalid
/// (a null replay, null data with a nonzero count, an entry without data
/// in a run of events, an unknown kind, a subchannel outside
/// 0..QAL3_REPLAY_MAX_SUBCHANNEL, a spectrum of more samples than allowed
/// or with an axis step of 0 or NaN, two entries for one channel and
/// subchannel, one channel given two kinds, a slow entry without a name)
/// or memory is short; the reason goes to the calling thread's messages
/// (qal3_messages.h) as an error line.
QAL3_API int qal3_replay_run(qal3_replay* replay, const qal3_replay_data* data, size_t count, size_t events,
                             signed char* outcomes, float* values);

/// 1 when trigger `k` finds its data among the `count` entries of `data`
/// (as qal3_replay_run matches them), 0 when it does not, -1 when `k` is
/// out of range or an argument is null.
QAL3_API int qal3_replay_finds(const qal3_replay* replay, size_t k, const qal3_replay_data* data, size_t count);

/// The block a replay lays out for `trigger` from event `event` of the
/// `count` entries of `data`, with every sample of that event (for showing
/// what the trigger read): a new block to release with
/// qal3_evutl_free_block (qal3_evutl_blocks.h). Null when the trigger finds
/// no data there, an argument is invalid (as qal3_replay_run refuses it) or
/// memory is short.
QAL3_API struct qal3_serv_block_subhead_2010* qal3_replay_block(const qal3_replay_data* data, size_t count,
                                                                size_t event,
                                                                const struct qal3_user_case_trigger* trigger);

/// Trigger `k`'s state: its function's previous value (what a DIFF function
/// compares the next event with). Returns 1 and stores it in *value when
/// the trigger has one, 0 when it has none, -1 when `k` is out of range or
/// `replay` or `value` is null.
QAL3_API int qal3_replay_get_previous(const qal3_replay* replay, size_t k, float* value);

/// Sets trigger `k`'s previous value to *value, or forgets it when `value`
/// is null (a saved replay restored, or a fresh start). Returns 0, or -1
/// when `k` is out of range, `replay` is null or memory is short.
QAL3_API int qal3_replay_set_previous(qal3_replay* replay, size_t k, const float* value);

/// Forgets every trigger's previous value; null is ignored.
QAL3_API void qal3_replay_reset(qal3_replay* replay);

/// Evaluates `trigger` once on the block `block`, as a replay does, and
/// returns a qal3_replay_outcome (never QAL3_REPLAY_NO_DATA): the trigger's
/// own record keeps its state (fprevresult) from call to call, and its
/// result buffer (fresult) holds the value only when there is one (it is
/// released first). *value (when `value` is not null) gets the value, NaN
/// where there is none. QAL3_REPLAY_INVALID for a null argument.
QAL3_API int qal3_replay_evaluate(struct qal3_serv_block_subhead_2010* block, struct qal3_user_case_trigger* trigger,
                                  float* value);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // QAL3_REPLAY_H
