// Channel description lists: copies of records, release, printing, and the
// merge of one description into another.
#include <cstdio>
#include <memory>
#include <string>

#include "boundary.h"
#include "chan_descr_internal.h"
#include "messages.h"
#include "pull_reader.h"
#include "text_field.h"

namespace msg = qal3::messages;

namespace qal3 {
namespace chan {

void release_dimensions(chan_descr_2010* d, const char* prop) {
  if (d->ndims != 0) {
    for (dim_descr* dm : d->dims) {
      if (!dm) continue;
      if (dm->nstats != 0) {
        for (stat_descr* st : dm->stats) delete st;
      } else if (!dm->stats.empty()) {
        msg::print(msg::out, msg::error, msg::keep, "ERROR: nstats = 0, but stats.size() > 0 (%d) prop: %s\n",
                   static_cast<int>(dm->stats.size()), prop);
      }
      delete dm;
    }
    d->dims.clear();
  } else if (!d->dims.empty()) {
    msg::print(msg::out, msg::error, msg::keep, "ERROR: ndims = 0, but dims.size() > 0 prop: %s\n", prop);
  }
}

}  // namespace chan
}  // namespace qal3

using qal3::chan::release_dimensions;
using qal3::reader::copy_text;

bit_descr* qal3_clone_bit_descr(bit_descr* in) {
  if (!in) return nullptr;
  bit_descr* out = new bit_descr();
  out->bit = in->bit;
  copy_text(out->bit_name, in->bit_name);
  copy_text(out->bit_desc, in->bit_desc);
  return out;
}

stat_descr* qal3_clone_stat_descr(stat_descr* in) {
  if (!in) return nullptr;
  stat_descr* out = new stat_descr();
  out->stat = in->stat;
  copy_text(out->stat_name, in->stat_name);
  copy_text(out->stat_desc, in->stat_desc);
  copy_text(out->units, in->units);
  return out;
}

dim_descr* qal3_clone_dim_descr(dim_descr* in) {
  if (!in) return nullptr;
  auto out = std::make_unique<dim_descr>();
  out->dim = in->dim;
  copy_text(out->dim_name, in->dim_name);
  copy_text(out->dim_desc, in->dim_desc);
  copy_text(out->units, in->units);
  out->nstats = 0;
  out->stats.reserve(in->stats.size());
  for (stat_descr* st : in->stats) {
    std::unique_ptr<stat_descr> copy(qal3_clone_stat_descr(st));
    if (!copy) continue;
    out->stats.push_back(copy.get());
    copy.release();
    out->nstats++;
  }
  return out.release();
}

void clean_chan_desr_list(std::vector<chan_descr_2010*>* chdscr_list) {
  if (!chdscr_list) return;
  for (chan_descr_2010* d : *chdscr_list) {
    if (!d) continue;
    if (d->nbits != 0) {
      for (bit_descr* b : d->bits) delete b;
      d->bits.clear();
    } else if (!d->bits.empty()) {
      msg::print(msg::out, msg::error, msg::keep, "ERROR: nbits = 0, but bits.size() > 0 prop: %s\n", d->prop_name);
    }
    release_dimensions(d, d->prop_name);
    delete d;
  }
  chdscr_list->clear();
  msg::flush_default(msg::out);
}

namespace {

// Appends `name` to the colon-joined list in `buf` (256 characters with the
// terminating NUL, like the name buffers of print_qal3_chan_descr).
void join_name(std::string& buf, const char* name) {
  if (!buf.empty()) buf += ':';
  buf += name ? name : "";
  if (buf.size() > 255) buf.resize(255);
}

std::string event_type_names(unsigned int ev_type) {
  std::string out;
  for (int n = 0; n < 32; ++n) {
    if (ev_type & (1u << n)) join_name(out, event_name_itoa(n));
  }
  return out;
}

std::string data_type_names(unsigned int dtype) {
  std::string out;
  const int base = (dtype & 0x80000000u) ? 32 : 0;
  for (int n = 0; n < 31; ++n) {
    if (dtype & (1u << n)) join_name(out, block_name_itoa(base + n));
  }
  return out;
}

}  // namespace

void print_qal3_chan_descr(std::vector<chan_descr_2010*>* list) {
  if (!list) return;
  msg::put_line(msg::out, msg::listing, msg::keep, "========================");
  msg::put_line(msg::out, msg::listing, msg::keep, "QAL3 XML Channel Description (XCD)");
  int i = 0;
  for (chan_descr_2010* d : *list) {
    const int index = i++;
    if (!d) continue;
    msg::list("--------------[%d]-----------------\n", index);
    msg::list(" stream   : %d \n", d->stream);
    msg::list(" ev type  : 0x%x %s\n", d->ev_type, event_type_names(d->ev_type).c_str());
    msg::list(" data type: 0x%x %s\n", d->dtype, data_type_names(d->dtype).c_str());
    msg::list("\tcount  :%d\n", d->count);
    msg::list("\tdb_key :%d\n", d->db_key);
    msg::list("\tprop   :%s\n", qal3::text::one_line(d->prop_name).c_str());
    msg::list("\tname   :%s\n", qal3::text::one_line(d->daq_name).c_str());
    msg::list("\tset_pnt:%s\n", d->set_point ? "yes" : "no");
    msg::list("\tdesc   :%s\n", qal3::text::one_line(d->prop_desc).c_str());
    msg::list("\tsb_name:%s\n", qal3::text::one_line(d->sb_name).c_str());
    msg::list("\tsubsys :%s\n", qal3::text::one_line(d->subsystem).c_str());
    msg::list("\tunit   :%s\n", qal3::text::one_line(d->units).c_str());
    msg::list("\tmax_sz :%d\n", d->max_size);
    if (d->nbits != 0) {
      msg::list("\t\t# bits :%d\n", d->nbits);
      for (const bit_descr* b : d->bits) {
        if (!b) continue;
        msg::list("\t\tbit    : %d\n", b->bit);
        msg::list("\t\tname   : %s\n", qal3::text::one_line(b->bit_name).c_str());
        msg::list("\t\tdesc   : %s\n", qal3::text::one_line(b->bit_desc).c_str());
      }
    } else if (!d->bits.empty()) {
      msg::put_line(msg::out, msg::error, msg::keep, "ERROR: nbits = 0, but bits.size() > 0");
    }
    if (d->ndims != 0) {
      msg::list("\t\t# dims : %d\n", d->ndims);
      for (const dim_descr* dm : d->dims) {
        if (!dm) continue;
        msg::list("\t\tid    : %d\n", dm->dim);
        msg::list("\t\tname : %s\n", qal3::text::one_line(dm->dim_name).c_str());
        msg::list("\t\tdesc : %s\n", qal3::text::one_line(dm->dim_desc).c_str());
        msg::list("\t\tunits: %s\n", qal3::text::one_line(dm->units).c_str());
        if (dm->nstats != 0) {
          msg::list("\t\t\t# stats : %d\n", dm->nstats);
          for (const stat_descr* st : dm->stats) {
            if (!st) continue;
            msg::list("\t\t\tid     : %d\n", st->stat);
            msg::list("\t\t\tname   : %s\n", qal3::text::one_line(st->stat_name).c_str());
            msg::list("\t\t\tdesc   : %s\n", qal3::text::one_line(st->stat_desc).c_str());
            msg::list("\t\t\tunits  : %s\n", qal3::text::one_line(st->units).c_str());
          }
        } else if (!dm->stats.empty()) {
          msg::put_line(msg::out, msg::error, msg::keep, "ERROR: nstats = 0, but stats.size() > 0");
        }
      }
    } else if (!d->dims.empty()) {
      msg::put_line(msg::out, msg::error, msg::keep, "ERROR: ndims = 0, but dims.size() > 0");
    }
  }
  msg::flush_default(msg::out);
}

namespace {

template <std::size_t N>
void take_if_set(char (&dst)[N], const char (&src)[N]) {
  if (src[0]) copy_text(dst, src);
}

template <std::size_t N>
void take_if_empty(char (&dst)[N], const char (&src)[N]) {
  if (!dst[0]) copy_text(dst, src);
}

void append_bit_clone(chan_descr_2010* in, bit_descr* b) {
  std::unique_ptr<bit_descr> copy(qal3_clone_bit_descr(b));
  if (!copy) return;
  in->bits.push_back(copy.get());
  copy.release();
  in->nbits++;
}

void append_dim_clone(chan_descr_2010* in, dim_descr* dm) {
  std::unique_ptr<dim_descr> copy(qal3_clone_dim_descr(dm));
  if (!copy) return;
  in->dims.push_back(copy.get());
  copy.release();
  in->ndims++;
}

}  // namespace

bool extend_channel_description(chan_descr_2010* in, chan_descr_2010* from, bool force) {
  if (!in || !from || std::strcmp(in->prop_name, from->prop_name) != 0) return true;
  if (in == from) return false;
  if (force) {
    if (from->stream != 0) in->stream = from->stream;
    if (from->ev_type != 0) in->ev_type = from->ev_type;
    if (from->count != 0) in->count = from->count;
    if (from->dtype != 0) in->dtype = from->dtype;
    if (from->max_size != 0) in->max_size = from->max_size;
    if (from->set_point != 0) in->set_point = from->set_point;
    if (from->db_key > 0) in->db_key = from->db_key;
    take_if_set(in->daq_name, from->daq_name);
    take_if_set(in->prop_desc, from->prop_desc);
    take_if_set(in->units, from->units);
    take_if_set(in->sb_name, from->sb_name);
    take_if_set(in->subsystem, from->subsystem);
    if (from->nbits != 0) {
      if (in->nbits != 0) {
        for (bit_descr* b : in->bits) delete b;
        in->bits.clear();
      }
      in->nbits = 0;
      for (bit_descr* b : from->bits) append_bit_clone(in, b);
    }
    if (from->ndims != 0) {
      release_dimensions(in, from->prop_name);
      in->ndims = 0;
      for (dim_descr* dm : from->dims) append_dim_clone(in, dm);
    }
  } else {
    if (in->stream == 0) in->stream = from->stream;
    if (in->ev_type == 0) in->ev_type = from->ev_type;
    if (in->count == 0) in->count = from->count;
    if (in->dtype == 0) in->dtype = from->dtype;
    if (in->max_size == 0) in->max_size = from->max_size;
    if (in->set_point == 0) in->set_point = from->set_point;
    if (in->db_key <= 0) in->db_key = from->db_key;
    take_if_empty(in->daq_name, from->daq_name);
    take_if_empty(in->prop_desc, from->prop_desc);
    take_if_empty(in->units, from->units);
    take_if_empty(in->sb_name, from->sb_name);
    take_if_empty(in->subsystem, from->subsystem);
    for (bit_descr* b : from->bits) {
      if (!b) continue;
      bool have = false;
      for (const bit_descr* mine : in->bits) {
        if (mine && mine->bit == b->bit) {
          have = true;
          break;
        }
      }
      if (!have) append_bit_clone(in, b);
    }
    for (dim_descr* dm : from->dims) {
      if (!dm) continue;
      dim_descr* mine = nullptr;
      for (dim_descr* d : in->dims) {
        if (d && d->dim == dm->dim) {
          mine = d;
          break;
        }
      }
      if (!mine) {
        append_dim_clone(in, dm);
      } else if (mine->nstats == 0 && dm->nstats != 0) {
        for (stat_descr* st : dm->stats) {
          std::unique_ptr<stat_descr> copy(qal3_clone_stat_descr(st));
          if (!copy) continue;
          mine->stats.push_back(copy.get());
          copy.release();
          mine->nstats++;
        }
      }
    }
  }
  msg::flush_default(msg::out);
  return false;
}

int qal3_load_chan_descr(qal3_xml_chan_descr_header* tab, std::vector<chan_descr_2010*>* list) {
  if (!tab || !list) return -1;
  if (tab->pattern != QAL3_XML_CHAN_DESCR_PATTERN && tab->pattern != QAL3_XML_CHAN_DESCR_PATTERN_2) return -3;
  if (tab->length <= 8) return -4;
  return qal3::guarded(1, [&] {
    const std::size_t n = static_cast<std::size_t>(tab->length) - 8;
    std::string text(reinterpret_cast<const char*>(tab) + 8, n);
    return parse_descr_list_read(&text[0], list, false, false);
  });
}

int qal3_load_master_daq_channel_description_file(std::vector<chan_descr_2010*>* list, char* file) {
  if (!list || !file || !file[0]) return -1;
  return parse_descr_list_readf(file, list, false, false);
}
