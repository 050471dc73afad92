// Reader speed against the floor of the pull design: a raw Xerces SAXParser
// progressive parse (parseFirst + parseNext) of the same document whose
// handler only counts and copies text. Run bench/ratios.py on this binary's
// JSON output for the ratios.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#ifdef QAL3_HAVE_PUGIXML
#include <pugixml.hpp>
#endif

#include "event_util.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "reader_documents.h"
#include "user_case_trigger.h"

namespace {

using namespace bench_docs;

void raw(benchmark::State& state, const std::string& doc) {
  RawParser p;
  for (auto _ : state) benchmark::DoNotOptimize(p.parse(doc));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

#ifdef QAL3_HAVE_PUGIXML
void pugi_walk(benchmark::State& state, const std::string& doc) {
  for (auto _ : state) {
    pugi::xml_document d;
    d.load_buffer(doc.data(), doc.size());
    std::size_t n = 0;
    struct Walker : pugi::xml_tree_walker {
      std::size_t* count;
      bool for_each(pugi::xml_node& node) override {
        *count += node.type() == pugi::node_element;
        return true;
      }
    } w;
    w.count = &n;
    d.traverse(w);
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
#endif

// ---------------------------------------------------------------------------
// The readers.

void read_chan(benchmark::State& state, std::string doc) {
  for (auto _ : state) {
    std::vector<chan_descr_2010*> list;
    if (parse_descr_list_read(&doc[0], &list, false, false) != 0) std::abort();
    state.PauseTiming();
    clean_chan_desr_list(&list);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void read_chan_file(benchmark::State& state, const std::string& doc) {
  char path[] = "/tmp/qal3-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0 || write(fd, doc.data(), doc.size()) != static_cast<ssize_t>(doc.size())) std::abort();
  close(fd);
  for (auto _ : state) {
    std::vector<chan_descr_2010*> list;
    if (parse_descr_list_readf(path, &list, false, false) != 0) std::abort();
    state.PauseTiming();
    clean_chan_desr_list(&list);
    state.ResumeTiming();
  }
  unlink(path);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void read_evlist(benchmark::State& state, std::string doc) {
  for (auto _ : state) {
    std::vector<qal3_ev_entry*> list;
    if (qal3_parse_ev_list_read(&doc[0], &list) != 0) std::abort();
    state.PauseTiming();
    qal3_clean_ev_list(&list);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void read_envdict(benchmark::State& state, std::string doc) {
  for (auto _ : state) {
    std::vector<qal3_env_index_dictionary_entry_2010*> list;
    if (parse_env_index_dict_list_read_2010(&doc[0], &list) != 0) std::abort();
    state.PauseTiming();
    for (auto* e : list) std::free(e);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void read_triggers(benchmark::State& state, std::string doc) {
  for (auto _ : state) {
    std::vector<qal3_user_case_trigger*> list;
    if (parse_trigger_list_read(&doc[0], &list)) std::abort();
    state.PauseTiming();
    for (auto* t : list) QAL3_FREE_USER(t);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

// Registers the floor, the reader and pugixml for one document.
template <class Reader>
void family(const std::string& name, const std::string& doc, Reader reader) {
  benchmark::RegisterBenchmark((name + "/floor").c_str(), raw, doc)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark((name + "/reader").c_str(), reader, doc)->Unit(benchmark::kMicrosecond);
#ifdef QAL3_HAVE_PUGIXML
  benchmark::RegisterBenchmark((name + "/pugixml").c_str(), pugi_walk, doc)->Unit(benchmark::kMicrosecond);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t small = 2048;
  family("evlist_10000", evlist_doc(10000), read_evlist);
  family("evlist_2KB", sized(evlist_doc, small), read_evlist);
  family("chan_mem_10000", chan_doc(10000), read_chan);
  family("chan_mem_2KB", sized(chan_doc, small), read_chan);
  family("chan_file_10000", chan_doc(10000), read_chan_file);
  family("chan_file_2KB", sized(chan_doc, small), read_chan_file);
  family("envdict_10000", envdict_doc(10000), read_envdict);
  family("envdict_2KB", sized(envdict_doc, small), read_envdict);
  family("trigger_1000", trigger_doc(1000), read_triggers);
  family("trigger_2KB", sized(trigger_doc, small), read_triggers);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
