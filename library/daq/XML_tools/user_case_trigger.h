/// \file
/// User-case triggers (libQAL3USERTRIG): the trigger record.
#ifndef QAL3_USER_CASE_TRIGGER_H
#define QAL3_USER_CASE_TRIGGER_H

#include <sys/types.h>

#include <ctime>

#include "event.h"
#include "qal3_export.h"

/// One user-case trigger: a function of one channel's data, judged by an
/// operation against limits or a bit mask. Records are zero-filled C heap
/// allocations released with QAL3_FREE_USER, result buffers included.
struct qal3_user_case_trigger {
  char channel[256];      ///< the channel the trigger watches
  int subchannel;         ///< the subchannel of the channel's data it reads
  int function;           ///< function slot: what the trigger computes over the channel's data
  float fparam[16];       ///< the function's parameters (see qal3_is_trigger_on)
  float low;              ///< the low limit (LL) an operation compares the value with
  float upper;            ///< the upper limit (UL) an operation compares the value with
  u_int bitmask;          ///< the bit mask of the operations AND and BITS
  int operation;          ///< operation slot: how the value is compared with the limits or the mask
  time_t time;            ///< when the trigger was made
  char description[256];  ///< free text
  int pre_mode;           ///< a number of events kept for the application (PreMode); the evaluation does not use it
  char group[256];        ///< the name of the trigger's group
  int post_mode;          ///< a number of events kept for the application (PostMode); the evaluation does not use it
  int valid;              ///< a flag kept for the application; the evaluation does not use it
  float* fprevresult;     ///< the function's previous result (DIFF functions), or null
  float* fresult;         ///< the function's last result, or null
  u_int* iresult;         ///< integer result buffer, or null
};

// ---------------------------------------------------------------------------
/// \file
/// \details Registry (trigger_registry.cpp) and evaluation (user_case_trigger.cpp).
///
/// A trigger names a function slot and an operation slot of two process-wide
/// tables of 32 slots each. The tables start with the built-in functions
/// (MIN, MAX, MEAN, RMS, STD, SUM, VALUE, P2P and their DIFF forms in slots 0
/// to 15, placeholders FUNC16..FUNC31 that always fail) and operations (GT,
/// GTE, EQ, LTE, LT, INSIDE, INSIDEWITHLIMITS, OUTSIDE, OUTSIDEWITHLIMITS,
/// AND, TRUE, FALSE, BITS in slots 0 to 12, placeholders OP13..OP31 that
/// never fire). A slot whose help text is "undefined" is free.
///
/// The registry keeps the name and help pointers it is given; they must stay
/// alive while registered.
///
/// Threads. Evaluating triggers (each thread its own records), reading and
/// writing trigger lists and looking slots up may run in any number of
/// threads at once. Changing the registry (qal3_add_user_* and
/// qal3_change_user_*) and setting the external environment dictionary are
/// set-up steps and single-threaded by nature: do them before other threads
/// read lists or evaluate triggers, or while none does, never alongside.

/// A trigger function, built in or a site's own (qal3_add_user_function,
/// qal3_change_user_function). qal3_is_trigger_on calls it once per
/// evaluation, in the evaluating thread; what it gets and must do:
///
/// - `data`: the block the evaluation was given, a
///   qal3_serv_block_subhead_2010* (event.h) passed untyped, never null:
///   the sub-header and `ldata` bytes of the channel's data, whose kind
///   get_data_structure_type(sh->dtype) tells (event_util.h). Read it only
///   through the event-utility functions of event_util.h, as the built-ins
///   do (a site's libQAL3evutl lays blocks out its own way):
///   get_pointer_to_data_2010(sh, usert->subchannel) gives the subchannel's
///   floats (a spectrum's samples, a name/value block's one value),
///   get_spect_params_for_data_type_2010 a spectrum's axis (sample i lies
///   at start + i * inc) and its sample count `ndata`,
///   find_upd_channel_2010 and find_slow_channel_2010 a slow channel's
///   values, get_image_params_2010 an image. A null pointer or a nonzero
///   code means the block holds no such data: return true. The block is
///   the caller's and read-only; keep no pointer into it past the call.
/// - `usert`: the trigger evaluated, never null. Read its definition
///   (channel, subchannel, fparam, limits, bitmask); write only the three
///   result buffers below. The other fields, and every other trigger, are
///   not the function's to change.
/// - `usert->fparam`: the 16 parameters the trigger list gave (param0 to
///   param15). The built-ins read a window from the first three, as
///   qal3_is_trigger_on describes: [0] start and [1] end on the axis (an
///   end at or before start - inc runs to the last sample), [2] step in
///   samples. A site function gives them the meaning its help text
///   states, and computes its own sample indices from the axis (the
///   library's window selection is internal).
/// - `usert->fresult`: the result. While null, allocate it with
///   std::malloc(sizeof(float)) (return true when that fails); then store
///   the value in *fresult. It is released with std::free along with the
///   trigger (QAL3_FREE_USER), and callers may free it and set it null
///   between evaluations (qal3::evaluate does), so allocate it with malloc
///   only and never free it or replace it yourself.
/// - `usert->fprevresult`: the function's own state from one evaluation of
///   the trigger to the next, as the DIFF built-ins keep the last event's
///   value there: null until the function allocates it (std::malloc, one
///   float), then kept with the trigger, released with it, and set back to
///   null by callers that start afresh (the Python Replay's reset()).
///   QAL3_USER_COPY does not copy it.
/// - `usert->iresult`: an integer buffer with the same rules as
///   fprevresult (std::malloc, released with the trigger); neither the
///   built-ins nor the evaluation use it.
/// - Returns false when *fresult holds this evaluation's value: the
///   evaluation hands it to the trigger's operation (a false return with
///   fresult null does not fire). Returns true when there is no value (no
///   data, an empty window, a failed allocation, the first event of a DIFF
///   function): the trigger does not fire, and whatever fresult holds is
///   not this event's value.
/// - It should not throw (an exception is caught at the evaluation: no
///   value, no fire), and must not free or keep `data` or `usert`, change
///   the registry, or touch another trigger.
///   Lines go through qal3_message_emit (qal3_messages.h), so that they
///   reach the caller's sink rather than a stream.
/// - Threads: several threads may call it at once, each with its own
///   triggers and blocks. Keep per-trigger state in the trigger's buffers,
///   and lock any state of its own that threads share.
typedef bool (*pt2Fun)(void* data, qal3_user_case_trigger* usert);

/// A trigger operation, built in or a site's own (qal3_add_user_operation,
/// qal3_change_user_operation): true when the trigger fires. Called after
/// the trigger's function returned false, in the evaluating thread, with
/// the function's value (`result`, *fresult, possibly NaN), the trigger's
/// `low` and `upper` limits and its `bitmask`. It should not throw (an
/// exception counts as not firing); several threads may call it at once,
/// so it is best a pure function of its arguments. The built-ins compare
/// in single precision, and a NaN result never passes a comparison.
typedef bool (*pt2Op)(float result, float low, float upper, u_int bitmask);

/// Name of function slot `function`; "UNKNOWN" outside 0..31. The text is the
/// registry's own: do not modify or free it.
QAL3_API char* qal3_get_function_string(int function);

/// "name : help text" of function slot `function`; "UNKNOWN" outside 0..31.
/// The composed text lives in a buffer of the calling thread, one for
/// function help and one for operation help: it stays valid until the same
/// thread calls qal3_get_function_help again (or the thread ends). Copy it if
/// you keep it longer. The buffer's memory belongs to the library.
QAL3_API char* qal3_get_function_help(int function);

/// Lowest function slot whose name equals `fun` (case-sensitive); -1 if none
/// or `fun` is null.
QAL3_API int qal3_get_function_index(char* fun);

///@{
/// As the three above, over the operation table.
QAL3_API char* qal3_get_operation_string(int operation);
QAL3_API char* qal3_get_operation_help(int operation);
QAL3_API int qal3_get_operation_index(char* op);
///@}

/// Registers the function `pt` (see pt2Fun for what it must do) in the
/// lowest free slot, under `name` (trigger lists name it so; keep it
/// distinct from the other slots' names, as lookups find the lowest slot)
/// and `description` (its help text: "undefined" would leave the slot
/// free). Both are kept, not copied. Returns the slot or -1 when no slot is
/// free. A set-up step (see "Threads" above).
QAL3_API int qal3_add_user_function(pt2Fun pt, char* name, char* description);

/// Registers the operation `pt` (see pt2Op) in the lowest free slot, as
/// qal3_add_user_function does; returns the slot or -1.
QAL3_API int qal3_add_user_operation(pt2Op pt, char* name, char* description);

///@{
/// Replaces slot `indx` (built-in slots included) with `pt`, `name` and
/// `description`, as the two above register them; returns `indx`, or -1
/// when `indx` is outside 0..31. A set-up step.
QAL3_API int qal3_change_user_function(pt2Fun pt, int indx, char* name, char* description);
QAL3_API int qal3_change_user_operation(pt2Op pt, int indx, char* name, char* description);
///@}

/// Sets the external environment dictionary handed to the event-utility
/// library when a slow channel is looked up (null until set). Not copied.
/// A set-up step: not while triggers are evaluated in other threads (see
/// "Threads" above); the dictionary must stay unchanged while they are.
QAL3_API void qal3_user_trigger_set_ext_env_dictionary(char* ptr);

/// Evaluates `usert` on the channel data `data`: -1 for a null argument or a
/// function/operation index outside 0..31, 0 when the function failed or the
/// operation said no, 1 when the trigger fires.
///
/// The built-in functions read a spectrum window from fparam: [0] start and
/// [1] end on the spectrum's axis, [2] step in samples. Axis values become
/// sample indices truncated toward zero with saturation (NaN gives 0), so no
/// parameter can lead outside the samples. A step beyond the int range is
/// clamped to the largest int: it selects the window's first sample only.
/// A function that a registration left null, or one that throws, fails.
QAL3_API int qal3_is_trigger_on(qal3_serv_block_subhead_2010* data, qal3_user_case_trigger* usert);

// ---------------------------------------------------------------------------
/// \file
/// \details Trigger records and trigger list XML (trigger_list_reader.cpp, trigger_list_writer.cpp).
///
/// A trigger list is a document with the root element QAL3USERTRIGGERLIST
/// holding one USERTRIGGER element per trigger, whose children Chan,
/// Function, Operation, LowLimit, UpperLimit, BitMask, Creation, Description,
/// PreMode, PostMode and Group carry the record's fields as attributes.
/// Functions and operations appear by their registry names.

#include <string>
#include <vector>

/// Element kinds of a trigger list.
enum qal3_user_trig_element {
  USER_TRIG_ROOT = 0,       ///< the root element, QAL3USERTRIGGERLIST
  USER_TRIG_TRIGGER = 1,    ///< USERTRIGGER: one trigger
  USER_TRIG_CHANNEL = 2,    ///< Chan
  USER_TRIG_FUNC = 3,       ///< Function
  USER_TRIG_OP = 4,         ///< Operation
  USER_TRIG_LL = 5,         ///< LowLimit
  USER_TRIG_UL = 6,         ///< UpperLimit
  USER_TRIG_BIT_MASK = 7,   ///< BitMask
  USER_TRIG_TIME = 8,       ///< Creation
  USER_TRIG_DESCR = 9,      ///< Description
  USER_TRIG_PREMODE = 10,   ///< PreMode
  USER_TRIG_GROUP = 11,     ///< Group
  USER_TRIG_POSTMODE = 12,  ///< PostMode
  USER_TRIG_VALID = 13      ///< the record's valid flag (no element carries it)
};

/// Output modes of dump_user_trigger_list (its `mode` argument).
enum qal3_user_trig_dump_mode {
  USER_TRIG_DUMP_TO_SCREEN = 0,  ///< the records printed on standard output
  USER_TRIG_DUMP_TXT_FILE = 1,   ///< text blocks to the file
  USER_TRIG_DUMP_XML_FILE = 2,   ///< the XML document to the file and the descriptor
  USER_TRIG_DUMP_XML_STRING = 3  ///< the XML document into the string
};

/// Releases a record with its result buffers; null is ignored.
QAL3_API void QAL3_FREE_USER(qal3_user_case_trigger* inp);

/// Copies the definition of `inp` into `outp` (and its result, see below).
/// The destination keeps its own result buffer and value when both have one,
/// gets a new buffer with the source's value when only the source has one,
/// and loses its buffer when the source has none. fprevresult and iresult of
/// `outp` are not touched. False on success, true for a null argument or a
/// failed allocation.
QAL3_API bool QAL3_USER_COPY(qal3_user_case_trigger* inp, qal3_user_case_trigger* outp);

/// True when the two definitions are equal: channel, description, group,
/// subchannel, function, operation, limits, bit mask and the sixteen
/// parameters (floats compared with ==, so a NaN never matches). False when
/// either is null.
QAL3_API bool QAL3_USER_THESAME(qal3_user_case_trigger* inp, qal3_user_case_trigger* outp);

/// Replaces *xml_str with an empty trigger list document; 0, or 2 when
/// `xml_str` is null.
QAL3_API int get_user_trigger_empty_header(std::string* xml_str);

///@{
/// Read the trigger list in the NUL-terminated document `xml` (in memory) or
/// in the file `file`, appending one newly allocated record per USERTRIGGER
/// to `list` (never cleared; release the records with QAL3_FREE_USER, also
/// after a failure). Values longer than a record's 255-character text fields
/// are cut to 255 characters. False on success, true on failure (wrong root,
/// parser errors, allocation failure).
QAL3_API bool parse_trigger_list_read(char* xml, std::vector<qal3_user_case_trigger*>* list);
QAL3_API bool parse_trigger_list_readf(char* file, std::vector<qal3_user_case_trigger*>* list);
///@}

/// Writes `list`. With no file (`file_name` null or empty), no string and
/// `fd` -1 the records are printed on standard output whatever `mode` says.
/// Otherwise mode 1 writes text blocks to the file (nothing without a file),
/// mode 2 writes the XML document to the file and to `fd`, mode 3 puts it in
/// *xml_str. Returns 0, 1 when the file cannot be opened, 2 for a null list or
/// a failed write.
QAL3_API int dump_user_trigger_list(std::vector<qal3_user_case_trigger*>* list, char* file_name, int mode, int fd,
                                    std::string* xml_str);

/// Reads `xml` and writes it with dump_user_trigger_list (no string); 3 when
/// the document cannot be read.
QAL3_API int dump_user_triggers(char* xml, char* file_name, int mode, int fd);

#endif  // QAL3_USER_CASE_TRIGGER_H
