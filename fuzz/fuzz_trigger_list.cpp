// The trigger list reader, from memory and now and then from a file, with
// the record operations over what it read.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "user_case_trigger.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string doc = fuzz::text(data, size);
  std::vector<qal3_user_case_trigger*> list;
  parse_trigger_list_read(&doc[0], &list);
  if (size % 4 == 3) {  // now and then through a file
    fuzz::ScratchFile f(data, size);
    parse_trigger_list_readf(f.path(), &list);
  }
  if (list.size() >= 2) {
    (void)QAL3_USER_THESAME(list[0], list[1]);
    QAL3_USER_COPY(list[0], list[1]);
    if (!QAL3_USER_THESAME(list[0], list[1])) {
      // A copy is the same definition unless a parameter or limit is NaN.
      bool nan = list[0]->low != list[0]->low || list[0]->upper != list[0]->upper;
      for (float p : list[0]->fparam) nan = nan || p != p;
      if (!nan) std::abort();
    }
  }
  if (size % 8 == 5) dump_user_trigger_list(&list, nullptr, 0, -1, nullptr);  // screen form
  for (qal3_user_case_trigger* t : list) QAL3_FREE_USER(t);
  return 0;
}
