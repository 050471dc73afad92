// Round trip of the environment index dictionary writers: a document that
// reads without error is written (mode 3, into a string) in the layout it
// was read with, read back, and must give the same entries, the deltas the
// very same floats (a NaN: a NaN of the same sign).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "float_text.h"
#include "fuzz_common.h"
#include "parse_env_index_dictionary.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

namespace {

[[noreturn]] void mismatch(const char* what, const std::string& doc) {
  std::fprintf(stderr, "round trip mismatch: %s\n--- written document:\n%s\n", what, doc.c_str());
  std::abort();
}

template <class Entry>
void release(std::vector<Entry*>& list) {
  for (Entry* e : list) std::free(e);
  list.clear();
}

template <class Entry, class Read, class Dump>
void round_trip(char* xml, Read read, Dump dump) {
  std::vector<Entry*> list;
  if (read(xml, &list) == 0) {
    std::string doc;
    if (dump(&list, nullptr, 3, -1, &doc) != 0) mismatch("writer failed", doc);
    std::vector<Entry*> back;
    if (read(&doc[0], &back) != 0) mismatch("written document does not read back", doc);
    // An entry whose name reads back as no text (only blanks, after a cut)
    // makes no entry.
    std::vector<const Entry*> expected;
    for (const Entry* e : list)
      if (!fuzz::carried(e->data.env_prop).empty()) expected.push_back(e);
    if (back.size() != expected.size()) mismatch("entry count", doc);
    for (size_t i = 0; i < expected.size(); ++i) {
      const Entry* a = expected[i];
      const Entry* b = back[i];
      if (a->index != b->index) mismatch("index", doc);
      if (fuzz::carried(a->data.env_prop) != b->data.env_prop) mismatch("env_prop", doc);
      if (!qal3::number::same_float(a->data.env_ch_abs_delta, b->data.env_ch_abs_delta)) mismatch("DABS", doc);
      if (!qal3::number::same_float(a->data.env_ch_rel_delta, b->data.env_ch_rel_delta)) mismatch("DREL", doc);
    }
    release(back);
  }
  release(list);
}

int dump_old(std::vector<qal3_env_index_dictionary_entry*>* l, char* f, int m, int fd, std::string* s) {
  return dump_env_index_dict(l, f, m, fd, s);
}
int dump_2010(std::vector<qal3_env_index_dictionary_entry_2010*>* l, char* f, int m, int fd, std::string* s) {
  return dump_env_index_dict_2010(l, f, m, fd, s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string doc = fuzz::text(data, size);
  round_trip<qal3_env_index_dictionary_entry>(&doc[0], parse_env_index_dict_list_read, dump_old);
  round_trip<qal3_env_index_dictionary_entry_2010>(&doc[0], parse_env_index_dict_list_read_2010, dump_2010);
  return 0;
}
