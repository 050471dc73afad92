// Shared by the channel description tests: a list that releases its
// records, and builders of descriptions, bits, dimensions and statistics.
#ifndef QAL3_CHAN_TEST_UTIL_H
#define QAL3_CHAN_TEST_UTIL_H

#include <cstddef>
#include <cstdio>
#include <vector>

#include "parse_chan_descr.h"
#include "qal3.hpp"

namespace chantest {

using List = std::vector<chan_descr_2010*>;

// A description list released with clean_chan_desr_list when it goes.
struct ListGuard {
  qal3::List<chan_descr_2010> owned;
  List& list = owned.records();
  chan_descr_2010* operator[](std::size_t i) const { return list.at(i); }
  std::size_t size() const { return list.size(); }
};

// A new description with the reader's defaults (db_key -1, max_size 1).
inline chan_descr_2010* make(const char* prop, const char* name = "") {
  chan_descr_2010* d = new chan_descr_2010();
  std::snprintf(d->prop_name, sizeof d->prop_name, "%s", prop);
  std::snprintf(d->daq_name, sizeof d->daq_name, "%s", name);
  d->db_key = -1;
  d->max_size = 1;
  return d;
}

// The same, appended to `l`.
inline chan_descr_2010* make(List& l, const char* prop, const char* name = "") {
  chan_descr_2010* d = make(prop, name);
  l.push_back(d);
  return d;
}

inline bit_descr* add_bit(chan_descr_2010* d, int n, const char* name, const char* desc) {
  bit_descr* b = new bit_descr();
  b->bit = n;
  std::snprintf(b->bit_name, sizeof b->bit_name, "%s", name);
  std::snprintf(b->bit_desc, sizeof b->bit_desc, "%s", desc);
  d->bits.push_back(b);
  d->nbits++;
  return b;
}

inline dim_descr* add_dim(chan_descr_2010* d, int n, const char* name, const char* units = "", const char* desc = "") {
  dim_descr* dm = new dim_descr();
  dm->dim = n;
  std::snprintf(dm->dim_name, sizeof dm->dim_name, "%s", name);
  std::snprintf(dm->units, sizeof dm->units, "%s", units);
  std::snprintf(dm->dim_desc, sizeof dm->dim_desc, "%s", desc);
  d->dims.push_back(dm);
  d->ndims++;
  return dm;
}

inline stat_descr* add_stat(dim_descr* dm, int n, const char* name, const char* units, const char* desc) {
  stat_descr* s = new stat_descr();
  s->stat = n;
  std::snprintf(s->stat_name, sizeof s->stat_name, "%s", name);
  std::snprintf(s->units, sizeof s->units, "%s", units);
  std::snprintf(s->stat_desc, sizeof s->stat_desc, "%s", desc);
  dm->stats.push_back(s);
  dm->nstats++;
  return s;
}

}  // namespace chantest

#endif  // QAL3_CHAN_TEST_UTIL_H
