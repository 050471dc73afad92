// The event list reader and printer.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "parse_ev_list.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string doc = fuzz::text(data, size);
  std::vector<qal3_ev_entry*> list;
  qal3_parse_ev_list_read(&doc[0], &list);
  qal3_print_ev_list(&list);
  qal3_clean_ev_list(&list);
  return 0;
}
