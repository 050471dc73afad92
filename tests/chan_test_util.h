// Shared by the channel description tests: a list that releases its records.
#ifndef QAL3_CHAN_TEST_UTIL_H
#define QAL3_CHAN_TEST_UTIL_H

#include <cstddef>
#include <vector>

#include "parse_chan_descr.h"

namespace chantest {

using List = std::vector<chan_descr_2010*>;

// A description list released with clean_chan_desr_list when it goes.
struct ListGuard {
  List list;
  ~ListGuard() { clean_chan_desr_list(&list); }
  chan_descr_2010* operator[](std::size_t i) const { return list.at(i); }
  std::size_t size() const { return list.size(); }
};

}  // namespace chantest

#endif  // QAL3_CHAN_TEST_UTIL_H
