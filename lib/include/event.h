/// \file
/// DAQ event format: event types, sub-block types, time stamps and the data
/// blocks of a server block. Plain records, 4-byte aligned, host byte order;
/// their sizes and offsets are part of the data stream format.
#ifndef QAL3_EVENT_H
#define QAL3_EVENT_H

#include <cstddef>
#include <cstdint>

/// DAQ event types. 0..31 fit an event-type mask (bit n = type n).
enum QAL3_EVTYPE : int32_t {
  QAL3_EV_HB = 0,
  QAL3_EV_NORMAL = 1,
  QAL3_EV_BOR = 2,  ///< a slow event type (QAL3_SLOW_EVTYPE_MASK)
  QAL3_EV_EOR = 3,  ///< a slow event type (QAL3_SLOW_EVTYPE_MASK)
  QAL3_EV_ENV = 4,  ///< a slow event type (QAL3_SLOW_EVTYPE_MASK)
  QAL3_EV_UPD = 5,  ///< a slow event type (QAL3_SLOW_EVTYPE_MASK)
  QAL3_EV_IMAGE = 6,
  QAL3_EV_WS = 7,
  QAL3_EV_MCP = 8,
  QAL3_EV_WSS = 9,
  QAL3_EV_BL1 = 10,
  QAL3_EV_BL2 = 11,
  QAL3_EV_BL3 = 12,
  QAL3_EV_PG0 = 13,
  QAL3_EV_PG1 = 14,
  QAL3_EV_PG2 = 15,
  QAL3_EV_GMD = 16,
  QAL3_EV_PHOTEN = 17,
  QAL3_EV_PHOTWL = 18,
  QAL3_EV_BEAM_ENERGY = 19,
  QAL3_EV_LLRF_ML = 20,
  QAL3_EV_BEAM_ENERGY_BYPASS = 21,
  QAL3_EV_SPECTR_1 = 22,
  QAL3_EV_SPECTR_2 = 23,
  QAL3_EV_SPECTR_3 = 24,
  QAL3_EV_SPECTR_4 = 25,
  QAL3_EV_SPECTR_5 = 26,
  QAL3_EV_TOROID_ML = 27,
  QAL3_EV_28 = 28,    ///< unassigned
  QAL3_EV_29 = 29,    ///< unassigned
  QAL3_EV_30 = 30,    ///< unassigned
  QAL3_EV_31 = 31,    ///< unassigned
  QAL3_EV_EVMAX = 32  ///< the number of event types; not a type
};

/// Mask of the slow event types BOR, EOR, ENV and UPD.
constexpr uint32_t QAL3_SLOW_EVTYPE_MASK = 0x3c;

/// Sub-block types of a DAQ event: the first layout (1..28, 31) and the 2010
/// layout (33..62). In a sub-block-type mask bit 31 marks the 2010 layout.
enum QAL3_SUBBLOCK_TYPE : int32_t {
  QAL3_UPD_BLOCK = 1,
  QAL3_ENV_DICT_BLOCK = 2,
  QAL3_ENV_BLOCK = 3,
  QAL3_BOR_BLOCK = 4,
  QAL3_EOR_BLOCK = 5,
  QAL3_BLOCK_BPM = 6,
  QAL3_BLOCK_BPM_Z = 7,
  QAL3_BLOCK_BPM_S = 8,
  QAL3_BLOCK_SINGLE = 9,
  QAL3_BLOCK_TOROID = 10,
  QAL3_BLOCK_RF_250K = 11,
  QAL3_BLOCK_ENERGY = 12,
  QAL3_BLOCK_IMAGE = 13,
  QAL3_BLOCK_WS_FAST = 14,
  QAL3_BLOCK_WS_SLOW = 15,
  QAL3_BLOCK_CPLINTL = 16,
  QAL3_BLOCK_GUNINTL = 17,
  QAL3_BLOCK_MCP = 18,
  QAL3_BLOCK_PHM = 19,
  QAL3_BLOCK_WSS_RAW = 20,
  QAL3_BLOCK_WSS_COR = 21,
  QAL3_BLOCK_NAME_VALUE = 22,
  QAL3_BLOCK_EQDATA = 23,
  QAL3_BLOCK_IMG_ROI1 = 24,
  QAL3_BLOCK_IMG_ROI2 = 25,
  QAL3_BLOCK_IMG_ROI3 = 26,
  QAL3_BLOCK_IMAGE_EXT = 27,
  QAL3_BLOCK_GENERIC_SPECT = 28,
  QAL3_UPD_BLOCK_DONT_USE_31 = 31,  ///< reserved: not to be used
  QAL3_UPD_BLOCK_2010 = 33,
  QAL3_ENV_DICT_BLOCK_2010 = 34,
  QAL3_ENV_BLOCK_2010 = 35,
  QAL3_BOR_BLOCK_2010 = 36,
  QAL3_EOR_BLOCK_2010 = 37,
  QAL3_BLOCK_BPM_2010 = 38,
  QAL3_BLOCK_BPM_Z_2010 = 39,
  QAL3_BLOCK_BPM_S_2010 = 40,
  QAL3_BLOCK_1CHAN_2010 = 41,
  QAL3_BLOCK_TOROID_2010 = 42,
  QAL3_BLOCK_RF_250K_2010 = 43,
  QAL3_BLOCK_ENERGY_2010 = 44,
  QAL3_BLOCK_2CHAN_2010 = 45,
  QAL3_BLOCK_WS_2010 = 46,
  QAL3_BLOCK_4CHAN_2010 = 47,
  QAL3_BLOCK_CPLINTL_2010 = 48,
  QAL3_BLOCK_GUNINTL_2010 = 49,
  QAL3_BLOCK_MCP_2010 = 50,
  QAL3_BLOCK_PHM_2010 = 51,
  QAL3_BLOCK_6CHAN_2010 = 52,
  QAL3_BLOCK_8CHAN_2010 = 53,
  QAL3_BLOCK_3CHAN_2010 = 60,
  QAL3_BLOCK_5CHAN_2010 = 61,
  QAL3_BLOCK_7CHAN_2010 = 62,
  QAL3_BLOCK_MAX_2010 = 63  ///< one above the last 2010 type; not a type
};

/// Bit 31 of a sub-block-type mask: the other bits name 2010 types 32 + n.
constexpr uint32_t QAL3_SUBBLOCK_MASK_2010 = 0x80000000u;

/// A time stamp: seconds and microseconds within the second.
struct time_stamp {
  uint32_t timeup;   ///< seconds
  uint32_t timelow;  ///< microseconds within the second
};

/// Axis of a spectrum: sample i lies at start + i * inc.
struct qal3_spect_header_2010 {
  float start;      ///< axis value of sample 0
  float inc;        ///< axis step from one sample to the next
  int32_t ndata;    ///< number of samples
  int32_t groups;   ///< number of sample groups (written as DIM_GROUPS)
  float group_inc;  ///< axis step from one group to the next (written as DIM_GROUP_INC)
};

/// Frame header of an extended image.
struct qal3_image_ext_frame_head {
  int32_t width;          ///< width of the image in pixels
  int32_t height;         ///< height of the image in pixels
  int32_t aoi_width;      ///< width of the area of interest (0: the image's width)
  int32_t aoi_height;     ///< height of the area of interest (0: the image's height)
  int32_t x_start;        ///< first column of the area of interest
  int32_t y_start;        ///< first row of the area of interest
  int32_t bpp;            ///< depth of a pixel (written as DIM_BPP)
  int32_t ebitpp;         ///< significant depth of a pixel (written as DIM_EBITPP)
  int32_t hbin;           ///< horizontal binning (written as DIM_XBIN)
  int32_t vbin;           ///< vertical binning (written as DIM_YBIN)
  int32_t source_format;  ///< pixel format of the camera
  int32_t image_format;   ///< pixel format of the image
  uint32_t frame;         ///< frame number
  uint32_t event;         ///< event number of the frame
  float scale_x;          ///< horizontal scale
  float scale_y;          ///< vertical scale
  float image_rotation;   ///< rotation of the image
  float fspare2;          ///< spare; in axis parameters the axis start (written as DIM_START when above 0)
  float fspare3;          ///< spare; in axis parameters the axis step (written as DIM_INC when above 0)
  float fspare4;          ///< spare; in axis parameters the group step (written as DIM_GROUP_INC when above 0)
  int32_t image_flags;    ///< flags of the image
  int32_t ispare2;        ///< spare; in axis parameters the group count (written as DIM_GROUPS when above 0)
  int32_t ispare3;        ///< spare; in axis parameters the sample count (written as DIM_NDATA when above 0)
  int32_t ispare4;        ///< spare; in axis parameters whether pixels are unsigned (written as DIM_UNSIGNED unless -1)
  int32_t length;         ///< number of bytes of pixels after the header
};

/// One entry of the environment dictionary (names up to 79 characters).
struct qal3_env_dictionary_block {
  char env_prop[80];       ///< property name, NUL-terminated
  float env_ch_abs_delta;  ///< absolute change of the value that counts as a change
  float env_ch_rel_delta;  ///< relative change of the value that counts as a change
};

/// One entry of the 2010 environment dictionary (names up to 255 characters).
struct qal3_env_dictionary_block_2010 {
  char env_prop[256];      ///< property name, NUL-terminated
  float env_ch_abs_delta;  ///< absolute change of the value that counts as a change
  float env_ch_rel_delta;  ///< relative change of the value that counts as a change
};

/// Sub-header of one channel's data inside a server block; the data follows.
struct qal3_serv_block_subhead_2010 {
  char chname[256];  ///< channel name, NUL-terminated
  int32_t dtype;     ///< data type code of the data
  int32_t error;     ///< error code of the channel (0: none)
  int32_t ldata;     ///< number of bytes of data after the sub-header
};

/// One environment channel value.
struct qal3_env_data_block_2010 {
  int32_t env_ch_idx;      ///< index of the channel in the environment dictionary
  int32_t env_ch_status;   ///< status of the value
  time_stamp env_ch_time;  ///< time of the value
  float env_ch_data;       ///< the value
};

/// One update channel value.
struct qal3_upd_data_block_2010 {
  char upd_prop[256];      ///< property name, NUL-terminated
  int32_t upd_ch_status;   ///< status of the value
  time_stamp upd_ch_time;  ///< time of the value
  float upd_ch_data;       ///< the value
};

/// Statistics of a spectrum: a mask over the 32 entries of val.
struct qal3_spect_statistics_2010 {
  uint32_t mask;  ///< bit n set: val[n] holds a statistic
  float val[32];  ///< the statistics
};

static_assert(sizeof(QAL3_EVTYPE) == 4 && sizeof(QAL3_SUBBLOCK_TYPE) == 4, "enums are 32-bit");
static_assert(sizeof(time_stamp) == 8, "time_stamp layout");
static_assert(offsetof(time_stamp, timelow) == 4, "time_stamp layout");
static_assert(sizeof(qal3_spect_header_2010) == 20, "spectrum header layout");
static_assert(offsetof(qal3_spect_header_2010, ndata) == 8 && offsetof(qal3_spect_header_2010, group_inc) == 16,
              "spectrum header layout");
static_assert(sizeof(qal3_image_ext_frame_head) == 100, "image frame header layout");
static_assert(offsetof(qal3_image_ext_frame_head, frame) == 48 && offsetof(qal3_image_ext_frame_head, fspare2) == 68 &&
                  offsetof(qal3_image_ext_frame_head, image_flags) == 80 &&
                  offsetof(qal3_image_ext_frame_head, length) == 96,
              "image frame header layout");
static_assert(sizeof(qal3_env_dictionary_block) == 88, "env dictionary block layout");
static_assert(offsetof(qal3_env_dictionary_block, env_ch_rel_delta) == 84, "env dictionary block layout");
static_assert(sizeof(qal3_env_dictionary_block_2010) == 264, "env dictionary block 2010 layout");
static_assert(offsetof(qal3_env_dictionary_block_2010, env_ch_abs_delta) == 256, "env dictionary block 2010 layout");
static_assert(sizeof(qal3_serv_block_subhead_2010) == 268, "server block sub-header layout");
static_assert(offsetof(qal3_serv_block_subhead_2010, dtype) == 256 &&
                  offsetof(qal3_serv_block_subhead_2010, ldata) == 264,
              "server block sub-header layout");
static_assert(sizeof(qal3_env_data_block_2010) == 20, "env data block layout");
static_assert(offsetof(qal3_env_data_block_2010, env_ch_time) == 8 &&
                  offsetof(qal3_env_data_block_2010, env_ch_data) == 16,
              "env data block layout");
static_assert(sizeof(qal3_upd_data_block_2010) == 272, "update data block layout");
static_assert(offsetof(qal3_upd_data_block_2010, upd_ch_time) == 260 &&
                  offsetof(qal3_upd_data_block_2010, upd_ch_data) == 268,
              "update data block layout");
static_assert(sizeof(qal3_spect_statistics_2010) == 132, "spectrum statistics layout");

#endif  // QAL3_EVENT_H
