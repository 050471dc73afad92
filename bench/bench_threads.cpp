// Small-document reads per second with one and with two threads, each
// thread reading with its own parser and list: how reading scales over the
// cores. The documents are the 2 KB ones of bench_readers; each read takes
// its thread's parser, reads, gives the parser back and releases the
// records, all timed. items_per_second counts the documents of all threads together.
#include <benchmark/benchmark.h>

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

constexpr std::size_t kSmall = 2048;

// The documents, made once and shared; each thread reads from a copy of its
// own (the readers take a mutable buffer).
const std::string& document(int kind) {
  static const std::vector<std::string> docs{sized(evlist_doc, kSmall), sized(chan_doc, kSmall),
                                             sized(envdict_doc, kSmall), sized(trigger_doc, kSmall)};
  return docs[static_cast<std::size_t>(kind)];
}

int read_evlist(char* doc) {
  std::vector<qal3_ev_entry*> list;
  const int r = qal3_parse_ev_list_read(doc, &list);
  qal3_clean_ev_list(&list);
  return r;
}

int read_chan(char* doc) {
  std::vector<chan_descr_2010*> list;
  const int r = parse_descr_list_read(doc, &list, true, false);
  clean_chan_desr_list(&list);
  return r;
}

int read_envdict(char* doc) {
  std::vector<qal3_env_index_dictionary_entry_2010*> list;
  const int r = parse_env_index_dict_list_read_2010(doc, &list);
  for (auto* e : list) std::free(e);
  return r;
}

int read_triggers(char* doc) {
  std::vector<qal3_user_case_trigger*> list;
  const int r = parse_trigger_list_read(doc, &list) ? 1 : 0;
  for (auto* t : list) QAL3_FREE_USER(t);
  return r;
}

void reads(benchmark::State& state, int (*read)(char*), int kind) {
  std::string doc = document(kind);
  if (read(&doc[0]) != 0) state.SkipWithError("the document does not read");
  for (auto _ : state) benchmark::DoNotOptimize(read(&doc[0]));
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK_CAPTURE(reads, evlist_2KB, read_evlist, 0)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_CAPTURE(reads, chan_2KB, read_chan, 1)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_CAPTURE(reads, envdict_2KB, read_envdict, 2)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_CAPTURE(reads, trigger_2KB, read_triggers, 3)->Threads(1)->Threads(2)->UseRealTime();

BENCHMARK_MAIN();
