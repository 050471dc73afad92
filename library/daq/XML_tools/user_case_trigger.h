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

/// A function: computes a result from the channel data `data` (the
/// qal3_serv_block_subhead_2010 of the channel, untyped) into *usert->fresult.
/// Returns false when a result was stored, true on failure.
typedef bool (*pt2Fun)(void* data, qal3_user_case_trigger* usert);

/// An operation: true when the trigger fires for `result`.
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

/// Registers a function in the lowest free slot; returns the slot or -1 when
/// no slot is free.
QAL3_API int qal3_add_user_function(pt2Fun pt, char* name, char* description);

/// Registers an operation in the lowest free slot; returns the slot or -1.
QAL3_API int qal3_add_user_operation(pt2Op pt, char* name, char* description);

///@{
/// Replaces slot `indx` (built-in slots included); returns `indx`, or -1 when
/// `indx` is outside 0..31.
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
