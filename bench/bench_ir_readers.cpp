// Instruction-count companion of bench_readers, for a shared, noisy machine:
// run under callgrind (bench/ir_ratios.sh does it) it does one kind of work
// `reps` times, so that the difference of two runs with different `reps` is
// the cost of one document, free of start-up and of the documents' making.
//
//   bench_ir_readers <evlist|chan|envdict|trigger> <large|2KB> <floor|reader> <reps>
//
// floor: the raw progressive SAX parse of reader_documents.h with one
// parser reused; reader: the library's reader, one call per document. The
// records' release is not counted (bench_readers pauses its timing there
// too).
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "event_util.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "reader_documents.h"
#include "user_case_trigger.h"

namespace {

using namespace bench_docs;

// Runs `release` without counting its instructions.
template <class Release>
void uncounted(Release release) {
  CALLGRIND_TOGGLE_COLLECT;
  release();
  CALLGRIND_TOGGLE_COLLECT;
}

std::string document(const std::string& kind, bool large) {
  const std::size_t small = 2048;
  if (kind == "evlist") return large ? evlist_doc(10000) : sized(evlist_doc, small);
  if (kind == "chan") return large ? chan_doc(10000) : sized(chan_doc, small);
  if (kind == "envdict") return large ? envdict_doc(10000) : sized(envdict_doc, small);
  if (kind == "trigger") return large ? trigger_doc(1000) : sized(trigger_doc, small);
  return "";
}

bool read_once(const std::string& kind, std::string& doc) {
  if (kind == "evlist") {
    std::vector<qal3_ev_entry*> list;
    const bool ok = qal3_parse_ev_list_read(&doc[0], &list) == 0;
    uncounted([&] { qal3_clean_ev_list(&list); });
    return ok;
  }
  if (kind == "chan") {
    std::vector<chan_descr_2010*> list;
    const bool ok = parse_descr_list_read(&doc[0], &list, false, false) == 0;
    uncounted([&] { clean_chan_desr_list(&list); });
    return ok;
  }
  if (kind == "envdict") {
    std::vector<qal3_env_index_dictionary_entry_2010*> list;
    const bool ok = parse_env_index_dict_list_read_2010(&doc[0], &list) == 0;
    uncounted([&] {
      for (auto* e : list) std::free(e);
    });
    return ok;
  }
  std::vector<qal3_user_case_trigger*> list;
  const bool ok = !parse_trigger_list_read(&doc[0], &list);
  uncounted([&] {
    for (auto* t : list) QAL3_FREE_USER(t);
  });
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: bench_ir_readers <evlist|chan|envdict|trigger> <large|2KB> <floor|reader> <reps>\n", stderr);
    return 2;
  }
  const std::string kind = argv[1];
  const std::string what = argv[3];
  const int reps = std::atoi(argv[4]);
  std::string doc = document(kind, std::string(argv[2]) == "large");
  if (doc.empty()) return 2;
  if (what == "floor") {
    RawParser parser;
    for (int i = 0; i < reps; ++i) parser.parse(doc);
  } else {
    for (int i = 0; i < reps; ++i)
      if (!read_once(kind, doc)) return 1;
  }
  return 0;
}
