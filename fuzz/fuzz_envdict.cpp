// The environment index dictionary readers of both layouts, from memory
// and now and then from a file.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "parse_env_index_dictionary.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

namespace {

template <class Entry>
void release(std::vector<Entry*>& list) {
  for (Entry* e : list) std::free(e);
  list.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string doc = fuzz::text(data, size);
  std::vector<qal3_env_index_dictionary_entry*> old_list;
  std::vector<qal3_env_index_dictionary_entry_2010*> list;
  parse_env_index_dict_list_read(&doc[0], &old_list);
  parse_env_index_dict_list_read_2010(&doc[0], &list);
  if (size % 4 == 2) {  // now and then through a file
    fuzz::ScratchFile f(data, size);
    parse_env_index_dict_readf(f.path(), &old_list);
    parse_env_index_dict_readf_2010(f.path(), &list);
  }
  if (size % 8 == 3) {  // the console listing
    dump_env_index_dict(&old_list, nullptr, 0, -1, nullptr);
    dump_env_index_dict_2010(&list, nullptr, 0, -1, nullptr);
  }
  release(old_list);
  release(list);
  return 0;
}
