/// \file
/// Server block layout read by the libQAL3evutl stand-in, and helpers that
/// build such blocks (for tests, the qal3 tool and applications without a
/// data stream).
///
/// A block is a qal3_serv_block_subhead_2010 followed by `ldata` bytes of
/// channel data. `dtype` selects the kind of data; the stand-in uses the
/// qal_daq_struct_type values themselves as data type codes (16 name/value,
/// 22 image, 103 slow, 1013 spectrum, 1015 generic spectrum); any other code
/// is unknown. All integers and floats are 4 bytes, host order, 4-aligned:
/// ~~~
///   spectrum (1013, 1015): int32 nsub; then per subchannel a
///       qal3_spect_header_2010 followed by header.ndata floats.
///   name/value (16):       int32 nsub; then nsub floats, one per subchannel.
///   slow (103):            int32 nupd; nupd qal3_upd_data_block_2010;
///                          int32 nenv; nenv qal3_env_data_block_2010.
///   image (22):            a qal3_image_ext_frame_head followed by the pixels.
/// ~~~
///
/// find_upd_channel_2010 finds the update value whose upd_prop equals the
/// trigger's `channel`. find_slow_channel_2010 takes as its dictionary a
/// qal3_evutl_env_dict (below): the trigger's `channel` is looked up there
/// by property name and the environment value with that index is returned.
///
/// The stand-in checks every offset against `ldata`: a block that is shorter
/// than its counts say yields no data rather than a read past its end.
#ifndef QAL3_EVUTL_BLOCKS_H
#define QAL3_EVUTL_BLOCKS_H

#include "event.h"
#include "qal3_export.h"

/// One entry of the environment dictionary as find_slow_channel_2010 reads it.
struct qal3_evutl_env_dict_entry {
  int index;         ///< index of the environment value
  const char* prop;  ///< property name
};

/// The environment dictionary handed (as char*) to find_slow_channel_2010.
struct qal3_evutl_env_dict {
  int count;                                 ///< number of entries
  const qal3_evutl_env_dict_entry* entries;  ///< the entries
};

/// \file
/// \details The builders return a block allocated in one piece of exactly its size
/// (sub-header plus data), or null when an argument is invalid or memory is
/// short. Release it with qal3_evutl_free_block. `chname` may be null.

/// Spectrum block (dtype QAL3_DATA_SPECTRUM or QAL3_DATA_GSPECTRUM) with `nsub`
/// subchannels: headers[i] gives the axis and samples[i] its headers[i].ndata
/// floats (ndata 0 or more).
QAL3_API qal3_serv_block_subhead_2010* qal3_evutl_make_spectrum(const char* chname, int dtype, int nsub,
                                                                const qal3_spect_header_2010* headers,
                                                                const float* const* samples);

/// Name/value block with `nsub` values, one per subchannel.
QAL3_API qal3_serv_block_subhead_2010* qal3_evutl_make_namval(const char* chname, int nsub, const float* values);

/// Slow block with `nupd` update values and `nenv` environment values.
QAL3_API qal3_serv_block_subhead_2010* qal3_evutl_make_slow(const char* chname, int nupd,
                                                            const qal3_upd_data_block_2010* upd, int nenv,
                                                            const qal3_env_data_block_2010* env);

/// Image block: the frame header and `npixel_bytes` bytes of pixels.
QAL3_API qal3_serv_block_subhead_2010* qal3_evutl_make_image(const char* chname, const qal3_image_ext_frame_head* head,
                                                             const unsigned char* pixels, int npixel_bytes);

/// Block with any dtype and `ldata` raw bytes of data (for unknown kinds and
/// malformed blocks).
QAL3_API qal3_serv_block_subhead_2010* qal3_evutl_make_raw(const char* chname, int dtype, const void* data, int ldata);

/// Releases a block made by a builder; null is ignored.
QAL3_API void qal3_evutl_free_block(qal3_serv_block_subhead_2010* block);

#endif  // QAL3_EVUTL_BLOCKS_H
