/// \file
/// DAQ event utilities: structure kinds of events and data, the in-memory
/// channel description block, the channel description records, and the
/// operations of the event-utility library libQAL3evutl.
///
/// This tree ships a stand-in for libQAL3evutl (folder evutl/): a working
/// library that names every event and sub-block type and reads the server
/// block layout documented in evutl/qal3_evutl_blocks.h. A site links its own
/// libQAL3evutl instead; it must provide every function declared at the end
/// of this header with the same signature and the guarantees stated there.
#ifndef QAL3_EVENT_UTIL_H
#define QAL3_EVENT_UTIL_H

#include <cstdint>
#include <vector>

#include "event.h"
#include "qal3_export.h"

/// Structure kind of an event type (get_event_struct_type).
enum QAL3_EV_STRUCT_TYPE : int32_t {
  QAL3_EV_STRUCT_UNKNOWN = 0,  ///< not an event type (outside 0..31)
  QAL3_EV_STRUCT_LOCAL = 1,    ///< recorded per device: images, wire scans, MCP, spectra
  QAL3_EV_STRUCT_GLOBAL = 2,   ///< the beam and slow events
  QAL3_EV_STRUCT_ML = 3,       ///< the ML event types
  QAL3_EV_STRUCT_UNDEF = 4     ///< an unassigned event type (28..31)
};

/// Kind of data a server block carries (get_data_structure_type).
enum qal_daq_struct_type : int32_t {
  QAL3_DATA_NAMVAL = 16,      ///< name/value: one float per subchannel
  QAL3_DATA_IMAGE = 22,       ///< an image
  QAL3_DATA_IMAGE_EXT = 22,   ///< an extended image (the code of QAL3_DATA_IMAGE)
  QAL3_DATA_SLOW = 103,       ///< slow: update and environment values
  QAL3_DATA_SPECTRUM = 1013,  ///< spectra, one per subchannel
  QAL3_DATA_GSPECTRUM = 1015  ///< generic spectra, one per subchannel
};

///@{
/// Block markers accepted for a channel description held in memory.
constexpr uint32_t QAL3_XML_CHAN_DESCR_PATTERN = 0xCDECDEF2u;
constexpr uint32_t QAL3_XML_CHAN_DESCR_PATTERN_2 = 0xCDECDEF3u;
///@}

/// A channel description document in one memory block: the text runs on
/// past the declared end of the record (length - 8 bytes, not necessarily
/// NUL-terminated), so such blocks are only handled through a pointer.
struct qal3_xml_chan_descr_header {
  uint32_t pattern;  ///< block marker: QAL3_XML_CHAN_DESCR_PATTERN or QAL3_XML_CHAN_DESCR_PATTERN_2
  int32_t length;    ///< size of the block: these 8 header bytes plus the text
  char xml[1];       ///< first character of the document's text
};

/// One named bit of a bit-pattern channel.
struct bit_descr {
  int bit;            ///< bit number
  char bit_name[64];  ///< name of the bit
  char bit_desc[80];  ///< description of the bit
};

/// One statistic computed over a dimension.
struct stat_descr {
  int stat;            ///< statistic number
  char stat_name[64];  ///< name of the statistic
  char stat_desc[80];  ///< description of the statistic
  char units[16];      ///< units of the statistic
};

/// One dimension (axis) of a multi-dimensional channel; owns its statistics.
struct dim_descr {
  int dim;                         ///< dimension number
  char dim_name[64];               ///< name of the dimension
  char dim_desc[80];               ///< description of the dimension
  char units[16];                  ///< units of the axis
  int nstats;                      ///< number of statistics
  std::vector<stat_descr*> stats;  ///< the statistics, owned
};

/// One DAQ channel; owns its bit and dimension records.
struct chan_descr_2010 {
  int stream;                    ///< DAQ stream number
  unsigned int ev_type;          ///< event type, or its mask when read with shift
  int count;                     ///< counter kept for the application
  unsigned int dtype;            ///< data type, or its mask when read with shift
  int db_key;                    ///< database key (-1: none)
  char prop_name[256];           ///< property name: the record's name in its list
  char daq_name[256];            ///< DAQ name of the channel
  char prop_desc[256];           ///< description of the property
  char units[16];                ///< units of the values
  int max_size;                  ///< largest size of the channel's data
  int nbits;                     ///< number of described bits
  std::vector<bit_descr*> bits;  ///< the described bits, owned
  int ndims;                     ///< number of dimensions
  std::vector<dim_descr*> dims;  ///< the dimensions, owned
  char sb_name[256];             ///< name of the server block that carries the channel
  int set_point;                 ///< set point flag
  char subsystem[64];            ///< name of the subsystem
};

/// Axis parameters a caller may pass to the channel description writer
/// (dump_chan_desr) for the channel whose DAQ name is `name`: `num` entries in
/// each of the arrays that is given, entry k for dimension number k. Not
/// owned by the writer.
struct dim_params {
  char* name;                          ///< DAQ name of the channel
  int num;                             ///< number of entries in each array given
  qal3_spect_header_2010* params;      ///< spectrum axis per dimension, or null
  qal3_image_ext_frame_head* iparams;  ///< image axis per dimension, or null
};

struct qal3_user_case_trigger;

// ---------------------------------------------------------------------------
// Operations of libQAL3evutl.

/// Name of event type 0..32; never null, owned by the library ("UNKNOWN"
/// outside the range).
QAL3_API const char* event_name_itoa(int evtype);

/// Name of sub-block type 0..62; never null, owned by the library ("UNKNOWN"
/// for unassigned numbers and outside the range).
QAL3_API const char* block_name_itoa(int sbtype);

/// Structure kind (QAL3_EV_STRUCT_TYPE) of an event type; UNKNOWN outside 0..31.
QAL3_API int get_event_struct_type(int evtype);

/// Kind of data (qal_daq_struct_type) of a block whose sub-header has `dtype`;
/// 0 for an unknown code.
QAL3_API int get_data_structure_type(int dtype);

/// Pointer to the floats of `subchannel` in the block, or null when the block
/// has no such subchannel or no float data.
QAL3_API float* get_pointer_to_data_2010(qal3_serv_block_subhead_2010* sh, int subchannel);

/// Axis of a spectrum subchannel. Outputs may be null; `reserved` is unused.
/// Returns 0 when found, -1 otherwise (outputs then keep their presets).
QAL3_API int get_spect_params_for_data_type_2010(qal3_serv_block_subhead_2010* sh, float* start, float* inc,
                                                 void* reserved, int* ndata, int* groups, float* group_inc,
                                                 qal3_spect_statistics_2010** stat, int subchannel);

/// Image parameters of an image block. Returns 0 when the block is an image.
QAL3_API int get_image_params_2010(qal3_serv_block_subhead_2010* sh, int* x, int* y, int* bpp, int* ev_num,
                                   unsigned char** chd);

/// Update value of the trigger's channel in a slow block. Returns 0 and sets
/// *out when found.
QAL3_API int find_upd_channel_2010(qal3_serv_block_subhead_2010* sh, qal3_user_case_trigger* usert,
                                   qal3_upd_data_block_2010** out);

/// Environment value of the trigger's channel in a slow block, found through
/// the environment dictionary `dict` (may be null: then nothing is found).
/// Returns 0 and sets *out when found.
QAL3_API int find_slow_channel_2010(qal3_serv_block_subhead_2010* sh, char* dict, qal3_user_case_trigger* usert,
                                    qal3_env_data_block_2010** out);

static_assert(sizeof(QAL3_EV_STRUCT_TYPE) == 4 && sizeof(qal_daq_struct_type) == 4, "enums are 32-bit");
static_assert(sizeof(bit_descr) == 148 && sizeof(stat_descr) == 164, "description records");

#endif  // QAL3_EVENT_UTIL_H
