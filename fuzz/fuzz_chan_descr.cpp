// The channel description reader in both formats (the input decides which)
// with every combination of shift and delete_duplicated, a second read into
// the same list so that merging runs, the merge utility, the printer and
// the clean function; now and then the file reader as well.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "parse_chan_descr.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string doc = fuzz::text(data, size);
  for (int combo = 0; combo < 4; ++combo) {
    const bool shift = combo & 1;
    const bool delete_duplicated = combo & 2;
    std::vector<chan_descr_2010*> list;
    parse_descr_list_read(&doc[0], &list, shift, delete_duplicated);
    parse_descr_list_read(&doc[0], &list, shift, delete_duplicated);
    if (list.size() >= 2) {
      // Merging two records of the list (same property or not) both ways.
      extend_channel_description(list[0], list[list.size() - 1], combo & 1);
      extend_channel_description(list[list.size() - 1], list[0], !(combo & 1));
    }
    if (!list.empty()) (void)find_chan_entry(&list, list.back()->prop_name);
    if (combo == 3) print_qal3_chan_descr(&list);
    clean_chan_desr_list(&list);
  }
  if (size % 4 == 1) {  // now and then through a file
    fuzz::ScratchFile f(data, size);
    std::vector<chan_descr_2010*> list;
    parse_descr_list_readf(f.path(), &list, size % 8 == 1, true);
    parse_descr_list_readf(f.path(), &list, size % 8 == 1, size % 3 == 0);
    clean_chan_desr_list(&list);
  }
  return 0;
}
