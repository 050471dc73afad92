// libQAL3evutl stand-in: names of event and sub-block types, structure kinds,
// and access to channel data in the server block layout documented in
// qal3_evutl_blocks.h.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "event_util.h"
#include "qal3_evutl_blocks.h"
#include "user_case_trigger.h"

namespace {

const char* const kEventNames[QAL3_EV_EVMAX + 1] = {"HB",       "NORMAL",
                                                    "BOR",      "EOR",
                                                    "ENV",      "UPD",
                                                    "IMAGE",    "WS",
                                                    "MCP",      "WSS",
                                                    "BL1",      "BL2",
                                                    "BL3",      "PG0",
                                                    "PG1",      "PG2",
                                                    "GMD",      "PHOTEN",
                                                    "PHOTWL",   "BEAM_ENERGY",
                                                    "LLRF_ML",  "BEAM_ENERGY_BYPASS",
                                                    "SPECTR_1", "SPECTR_2",
                                                    "SPECTR_3", "SPECTR_4",
                                                    "SPECTR_5", "TOROID_ML",
                                                    "EV_28",    "EV_29",
                                                    "EV_30",    "EV_31",
                                                    "EVMAX"};

// Names of sub-block types 0..62; gaps hold null and read as "UNKNOWN".
const char* const kBlockNames[QAL3_BLOCK_MAX_2010] = {nullptr,
                                                      "UPD_BLOCK",
                                                      "ENV_DICT_BLOCK",
                                                      "ENV_BLOCK",
                                                      "BOR_BLOCK",
                                                      "EOR_BLOCK",
                                                      "BLOCK_BPM",
                                                      "BLOCK_BPM_Z",
                                                      "BLOCK_BPM_S",
                                                      "BLOCK_SINGLE",
                                                      "BLOCK_TOROID",
                                                      "BLOCK_RF_250K",
                                                      "BLOCK_ENERGY",
                                                      "BLOCK_IMAGE",
                                                      "BLOCK_WS_FAST",
                                                      "BLOCK_WS_SLOW",
                                                      "BLOCK_CPLINTL",
                                                      "BLOCK_GUNINTL",
                                                      "BLOCK_MCP",
                                                      "BLOCK_PHM",
                                                      "BLOCK_WSS_RAW",
                                                      "BLOCK_WSS_COR",
                                                      "BLOCK_NAME_VALUE",
                                                      "BLOCK_EQDATA",
                                                      "BLOCK_IMG_ROI1",
                                                      "BLOCK_IMG_ROI2",
                                                      "BLOCK_IMG_ROI3",
                                                      "BLOCK_IMAGE_EXT",
                                                      "BLOCK_GENERIC_SPECT",
                                                      nullptr,
                                                      nullptr,
                                                      "UPD_BLOCK_DONT_USE_31",
                                                      nullptr,
                                                      "UPD_BLOCK_2010",
                                                      "ENV_DICT_BLOCK_2010",
                                                      "ENV_BLOCK_2010",
                                                      "BOR_BLOCK_2010",
                                                      "EOR_BLOCK_2010",
                                                      "BLOCK_BPM_2010",
                                                      "BLOCK_BPM_Z_2010",
                                                      "BLOCK_BPM_S_2010",
                                                      "BLOCK_1CHAN_2010",
                                                      "BLOCK_TOROID_2010",
                                                      "BLOCK_RF_250K_2010",
                                                      "BLOCK_ENERGY_2010",
                                                      "BLOCK_2CHAN_2010",
                                                      "BLOCK_WS_2010",
                                                      "BLOCK_4CHAN_2010",
                                                      "BLOCK_CPLINTL_2010",
                                                      "BLOCK_GUNINTL_2010",
                                                      "BLOCK_MCP_2010",
                                                      "BLOCK_PHM_2010",
                                                      "BLOCK_6CHAN_2010",
                                                      "BLOCK_8CHAN_2010",
                                                      nullptr,
                                                      nullptr,
                                                      nullptr,
                                                      nullptr,
                                                      nullptr,
                                                      nullptr,
                                                      "BLOCK_3CHAN_2010",
                                                      "BLOCK_5CHAN_2010",
                                                      "BLOCK_7CHAN_2010"};

const char kUnknown[] = "UNKNOWN";

// Structure kinds: ML event types are ML; detector events recorded per
// device (image, wire scanner, MCP, spectra) are local; the beam and slow
// events are global; the unassigned types 28..31 are undefined.
const int kEventStruct[QAL3_EV_EVMAX] = {
    QAL3_EV_STRUCT_GLOBAL, QAL3_EV_STRUCT_GLOBAL, QAL3_EV_STRUCT_GLOBAL, QAL3_EV_STRUCT_GLOBAL, QAL3_EV_STRUCT_GLOBAL,
    QAL3_EV_STRUCT_GLOBAL, QAL3_EV_STRUCT_LOCAL,  QAL3_EV_STRUCT_LOCAL,  QAL3_EV_STRUCT_LOCAL,  QAL3_EV_STRUCT_LOCAL,
    QAL3_EV_STRUCT_GLOBAL, QAL3_EV_STRUCT_GLOBAL, QAL3_EV_STRUCT_GLOBAL, QAL3_EV_STRUCT_GLOBAL, QAL3_EV_STRUCT_GLOBAL,
    QAL3_EV_STRUCT_GLOBAL, QAL3_EV_STRUCT_GLOBAL, QAL3_EV_STRUCT_GLOBAL, QAL3_EV_STRUCT_GLOBAL, QAL3_EV_STRUCT_GLOBAL,
    QAL3_EV_STRUCT_ML,     QAL3_EV_STRUCT_GLOBAL, QAL3_EV_STRUCT_LOCAL,  QAL3_EV_STRUCT_LOCAL,  QAL3_EV_STRUCT_LOCAL,
    QAL3_EV_STRUCT_LOCAL,  QAL3_EV_STRUCT_LOCAL,  QAL3_EV_STRUCT_ML,     QAL3_EV_STRUCT_UNDEF,  QAL3_EV_STRUCT_UNDEF,
    QAL3_EV_STRUCT_UNDEF,  QAL3_EV_STRUCT_UNDEF};

// The data bytes of a block, with bounds-checked reads.
class Data {
 public:
  explicit Data(qal3_serv_block_subhead_2010* sh)
      : base_(sh ? reinterpret_cast<unsigned char*>(sh + 1) : nullptr),
        size_(sh && sh->ldata > 0 ? static_cast<std::uint64_t>(sh->ldata) : 0) {}

  bool has(std::uint64_t offset, std::uint64_t bytes) const {
    return base_ && offset <= size_ && bytes <= size_ - offset;
  }
  bool int_at(std::uint64_t offset, int32_t& out) const {
    if (!has(offset, 4)) return false;
    std::memcpy(&out, base_ + offset, 4);
    return true;
  }
  unsigned char* at(std::uint64_t offset) const { return base_ + offset; }

 private:
  unsigned char* base_;
  std::uint64_t size_;
};

// Offset of spectrum subchannel `sub`'s header, or false when absent.
bool spectrum_subchannel(const Data& d, int sub, std::uint64_t& offset, qal3_spect_header_2010& head) {
  int32_t nsub = 0;
  if (sub < 0 || !d.int_at(0, nsub) || sub >= nsub) return false;
  std::uint64_t off = 4;
  for (int i = 0;; ++i) {
    if (!d.has(off, sizeof head)) return false;
    std::memcpy(&head, d.at(off), sizeof head);
    if (head.ndata < 0) return false;
    const std::uint64_t samples = static_cast<std::uint64_t>(head.ndata) * 4;
    if (!d.has(off + sizeof head, samples)) return false;
    if (i == sub) {
      offset = off;
      return true;
    }
    off += sizeof head + samples;
  }
}

bool is_spectrum(int dtype) { return dtype == QAL3_DATA_SPECTRUM || dtype == QAL3_DATA_GSPECTRUM; }

qal3_serv_block_subhead_2010* allocate_block(const char* chname, int dtype, std::uint64_t ldata) {
  if (ldata > INT32_MAX) return nullptr;
  auto* block =
      static_cast<qal3_serv_block_subhead_2010*>(std::calloc(1, sizeof(qal3_serv_block_subhead_2010) + ldata));
  if (!block) return nullptr;
  if (chname) std::strncpy(block->chname, chname, sizeof block->chname - 1);
  block->dtype = dtype;
  block->ldata = static_cast<int32_t>(ldata);
  return block;
}

unsigned char* data_of(qal3_serv_block_subhead_2010* block) { return reinterpret_cast<unsigned char*>(block + 1); }

void put_int(unsigned char*& p, int32_t v) {
  std::memcpy(p, &v, 4);
  p += 4;
}

}  // namespace

const char* event_name_itoa(int evtype) {
  return evtype >= 0 && evtype <= QAL3_EV_EVMAX ? kEventNames[evtype] : kUnknown;
}

const char* block_name_itoa(int sbtype) {
  if (sbtype < 0 || sbtype >= QAL3_BLOCK_MAX_2010 || !kBlockNames[sbtype]) return kUnknown;
  return kBlockNames[sbtype];
}

int get_event_struct_type(int evtype) {
  return evtype >= 0 && evtype < QAL3_EV_EVMAX ? kEventStruct[evtype] : QAL3_EV_STRUCT_UNKNOWN;
}

int get_data_structure_type(int dtype) {
  switch (dtype) {
    case QAL3_DATA_NAMVAL:
    case QAL3_DATA_IMAGE:
    case QAL3_DATA_SLOW:
    case QAL3_DATA_SPECTRUM:
    case QAL3_DATA_GSPECTRUM:
      return dtype;
    default:
      return 0;
  }
}

float* get_pointer_to_data_2010(qal3_serv_block_subhead_2010* sh, int subchannel) {
  if (!sh) return nullptr;
  const Data d(sh);
  if (is_spectrum(sh->dtype)) {
    std::uint64_t off = 0;
    qal3_spect_header_2010 head{};
    if (!spectrum_subchannel(d, subchannel, off, head)) return nullptr;
    return reinterpret_cast<float*>(d.at(off + sizeof head));
  }
  if (sh->dtype == QAL3_DATA_NAMVAL) {
    int32_t nsub = 0;
    if (subchannel < 0 || !d.int_at(0, nsub) || subchannel >= nsub) return nullptr;
    const std::uint64_t off = 4 + static_cast<std::uint64_t>(subchannel) * 4;
    if (!d.has(off, 4)) return nullptr;
    return reinterpret_cast<float*>(d.at(off));
  }
  return nullptr;
}

int get_spect_params_for_data_type_2010(qal3_serv_block_subhead_2010* sh, float* start, float* inc, void* /*reserved*/,
                                        int* ndata, int* groups, float* group_inc, qal3_spect_statistics_2010** stat,
                                        int subchannel) {
  if (!sh || !is_spectrum(sh->dtype)) return -1;
  std::uint64_t off = 0;
  qal3_spect_header_2010 head{};
  if (!spectrum_subchannel(Data(sh), subchannel, off, head)) return -1;
  if (start) *start = head.start;
  if (inc) *inc = head.inc;
  if (ndata) *ndata = head.ndata;
  if (groups) *groups = head.groups;
  if (group_inc) *group_inc = head.group_inc;
  if (stat) *stat = nullptr;
  return 0;
}

int get_image_params_2010(qal3_serv_block_subhead_2010* sh, int* x, int* y, int* bpp, int* ev_num,
                          unsigned char** chd) {
  if (!sh || sh->dtype != QAL3_DATA_IMAGE) return -1;
  const Data d(sh);
  qal3_image_ext_frame_head head{};
  if (!d.has(0, sizeof head)) return -1;
  std::memcpy(&head, d.at(0), sizeof head);
  if (x) *x = head.width;
  if (y) *y = head.height;
  if (bpp) *bpp = head.bpp;
  if (ev_num) *ev_num = static_cast<int>(head.event);
  if (chd) *chd = d.at(sizeof head);
  return 0;
}

int find_upd_channel_2010(qal3_serv_block_subhead_2010* sh, qal3_user_case_trigger* usert,
                          qal3_upd_data_block_2010** out) {
  if (!sh || !usert || !out || sh->dtype != QAL3_DATA_SLOW) return -1;
  const Data d(sh);
  int32_t nupd = 0;
  if (!d.int_at(0, nupd) || nupd < 0) return -1;
  for (int32_t i = 0; i < nupd; ++i) {
    const std::uint64_t off = 4 + static_cast<std::uint64_t>(i) * sizeof(qal3_upd_data_block_2010);
    if (!d.has(off, sizeof(qal3_upd_data_block_2010))) return -1;
    auto* upd = reinterpret_cast<qal3_upd_data_block_2010*>(d.at(off));
    if (std::strncmp(upd->upd_prop, usert->channel, sizeof upd->upd_prop) == 0) {
      *out = upd;
      return 0;
    }
  }
  return -1;
}

int find_slow_channel_2010(qal3_serv_block_subhead_2010* sh, char* dict, qal3_user_case_trigger* usert,
                           qal3_env_data_block_2010** out) {
  if (!sh || !dict || !usert || !out || sh->dtype != QAL3_DATA_SLOW) return -1;
  const auto* table = reinterpret_cast<const qal3_evutl_env_dict*>(dict);
  int index = -1;
  for (int i = 0; i < table->count && table->entries; ++i) {
    const char* prop = table->entries[i].prop;
    if (prop && std::strncmp(prop, usert->channel, sizeof usert->channel) == 0) {
      index = table->entries[i].index;
      break;
    }
  }
  if (index < 0) return -1;
  const Data d(sh);
  int32_t nupd = 0;
  int32_t nenv = 0;
  if (!d.int_at(0, nupd) || nupd < 0) return -1;
  const std::uint64_t env_off = 4 + static_cast<std::uint64_t>(nupd) * sizeof(qal3_upd_data_block_2010);
  if (!d.int_at(env_off, nenv) || nenv < 0) return -1;
  for (int32_t i = 0; i < nenv; ++i) {
    const std::uint64_t off = env_off + 4 + static_cast<std::uint64_t>(i) * sizeof(qal3_env_data_block_2010);
    if (!d.has(off, sizeof(qal3_env_data_block_2010))) return -1;
    auto* env = reinterpret_cast<qal3_env_data_block_2010*>(d.at(off));
    if (env->env_ch_idx == index) {
      *out = env;
      return 0;
    }
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Builders

qal3_serv_block_subhead_2010* qal3_evutl_make_spectrum(const char* chname, int dtype, int nsub,
                                                       const qal3_spect_header_2010* headers,
                                                       const float* const* samples) {
  if (!is_spectrum(dtype) || nsub < 0 || (nsub > 0 && (!headers || !samples))) return nullptr;
  std::uint64_t ldata = 4;
  for (int i = 0; i < nsub; ++i) {
    if (headers[i].ndata < 0 || (headers[i].ndata > 0 && !samples[i])) return nullptr;
    ldata += sizeof(qal3_spect_header_2010) + static_cast<std::uint64_t>(headers[i].ndata) * 4;
  }
  qal3_serv_block_subhead_2010* block = allocate_block(chname, dtype, ldata);
  if (!block) return nullptr;
  unsigned char* p = data_of(block);
  put_int(p, nsub);
  for (int i = 0; i < nsub; ++i) {
    std::memcpy(p, &headers[i], sizeof headers[i]);
    p += sizeof headers[i];
    const std::size_t bytes = static_cast<std::size_t>(headers[i].ndata) * 4;
    if (bytes) std::memcpy(p, samples[i], bytes);
    p += bytes;
  }
  return block;
}

qal3_serv_block_subhead_2010* qal3_evutl_make_namval(const char* chname, int nsub, const float* values) {
  if (nsub < 0 || (nsub > 0 && !values)) return nullptr;
  qal3_serv_block_subhead_2010* block =
      allocate_block(chname, QAL3_DATA_NAMVAL, 4 + static_cast<std::uint64_t>(nsub) * 4);
  if (!block) return nullptr;
  unsigned char* p = data_of(block);
  put_int(p, nsub);
  if (nsub) std::memcpy(p, values, static_cast<std::size_t>(nsub) * 4);
  return block;
}

qal3_serv_block_subhead_2010* qal3_evutl_make_slow(const char* chname, int nupd, const qal3_upd_data_block_2010* upd,
                                                   int nenv, const qal3_env_data_block_2010* env) {
  if (nupd < 0 || nenv < 0 || (nupd > 0 && !upd) || (nenv > 0 && !env)) return nullptr;
  const std::uint64_t upd_bytes = static_cast<std::uint64_t>(nupd) * sizeof *upd;
  const std::uint64_t env_bytes = static_cast<std::uint64_t>(nenv) * sizeof *env;
  qal3_serv_block_subhead_2010* block = allocate_block(chname, QAL3_DATA_SLOW, 8 + upd_bytes + env_bytes);
  if (!block) return nullptr;
  unsigned char* p = data_of(block);
  put_int(p, nupd);
  if (upd_bytes) std::memcpy(p, upd, upd_bytes);
  p += upd_bytes;
  put_int(p, nenv);
  if (env_bytes) std::memcpy(p, env, env_bytes);
  return block;
}

qal3_serv_block_subhead_2010* qal3_evutl_make_image(const char* chname, const qal3_image_ext_frame_head* head,
                                                    const unsigned char* pixels, int npixel_bytes) {
  if (!head || npixel_bytes < 0 || (npixel_bytes > 0 && !pixels)) return nullptr;
  qal3_serv_block_subhead_2010* block =
      allocate_block(chname, QAL3_DATA_IMAGE, sizeof *head + static_cast<std::uint64_t>(npixel_bytes));
  if (!block) return nullptr;
  unsigned char* p = data_of(block);
  std::memcpy(p, head, sizeof *head);
  if (npixel_bytes) std::memcpy(p + sizeof *head, pixels, static_cast<std::size_t>(npixel_bytes));
  return block;
}

qal3_serv_block_subhead_2010* qal3_evutl_make_raw(const char* chname, int dtype, const void* data, int ldata) {
  if (ldata < 0 || (ldata > 0 && !data)) return nullptr;
  qal3_serv_block_subhead_2010* block = allocate_block(chname, dtype, static_cast<std::uint64_t>(ldata));
  if (!block) return nullptr;
  if (ldata) std::memcpy(data_of(block), data, static_cast<std::size_t>(ldata));
  return block;
}

void qal3_evutl_free_block(qal3_serv_block_subhead_2010* block) { std::free(block); }
