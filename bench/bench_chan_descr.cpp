// Channel description reader and writer at 1,000, 10,000 and 100,000
// channels. The counter "per_channel" is the time per channel; it must stay
// flat as the count grows tenfold (the reader's property lookups and the
// writer's skip of repeated properties are indexed, not linear scans).
//
//   bench_chan_descr --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "parse_chan_descr.h"

namespace {

using List = std::vector<chan_descr_2010*>;

std::string prop(int i) { return "FLASH.DIAG/BPM/" + std::to_string(i) + "/X.TD"; }

// A CHANDESCRIPTIONS document of n channels of distinct properties.
std::string chandescriptions(int n) {
  std::string s = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<CHANDESCRIPTIONS>\n";
  for (int i = 0; i < n; ++i) {
    s += "<CHANNEL>\n<STREAM>1</STREAM>\n<EVTYPE>" + std::to_string(i % 32) + "</EVTYPE>\n<DTYPE>33</DTYPE>\n";
    s += "<PROP>" + prop(i) + "</PROP>\n<NAME>BPM" + std::to_string(i) + "X</NAME>\n";
    s += "<UNITS>mm</UNITS>\n<DESC>horizontal position</DESC>\n<SIZE>1</SIZE>\n</CHANNEL>\n";
  }
  return s + "</CHANDESCRIPTIONS>\n";
}

// A DAQvariables document of n elements; every `repeat`-th one repeats an
// earlier property (0: all distinct).
std::string daqvariables(int n, int repeat) {
  std::string s = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<DAQvariables>\n";
  for (int i = 0; i < n; ++i) {
    const int p = repeat && i % repeat == repeat - 1 ? i / 2 : i;
    s += "<DaqFloat>\n<evType>" + std::to_string(i % 32) + "</evType>\n<nexol>" + prop(p) + "</nexol>\n";
    s += "<daqName>BPM" + std::to_string(p) + "X</daqName>\n<units>mm</units>\n<freq>1</freq>\n</DaqFloat>\n";
  }
  return s + "</DAQvariables>\n";
}

void per_channel(benchmark::State& state, int n) {
  state.counters["per_channel"] =
      benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void read_memory(benchmark::State& state, std::string doc, bool dedup) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    List list;
    const int r = parse_descr_list_read(&doc[0], &list, true, dedup);
    if (r != 0 || list.empty()) state.SkipWithError("read failed");
    state.PauseTiming();
    clean_chan_desr_list(&list);
    state.ResumeTiming();
  }
  per_channel(state, n);
}

// CHANDESCRIPTIONS, no merging.
void BM_ReadChandescriptions(benchmark::State& state) {
  read_memory(state, chandescriptions(static_cast<int>(state.range(0))), false);
}

// CHANDESCRIPTIONS with delete_duplicated: every property looked up.
void BM_ReadChandescriptionsDeleteDuplicated(benchmark::State& state) {
  read_memory(state, chandescriptions(static_cast<int>(state.range(0))), true);
}

// DAQvariables: always merged, distinct properties.
void BM_ReadDaqvariablesMerge(benchmark::State& state) {
  read_memory(state, daqvariables(static_cast<int>(state.range(0)), 0), false);
}

// DAQvariables with every 4th element repeating a property.
void BM_ReadDaqvariablesMergeRepeats(benchmark::State& state) {
  read_memory(state, daqvariables(static_cast<int>(state.range(0)), 4), false);
}

// The file reader with delete_duplicated.
void BM_ReadFileDeleteDuplicated(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  char path[] = "/tmp/qal3-bench-chan-XXXXXX";
  const int fd = mkstemp(path);
  const std::string doc = chandescriptions(n);
  if (fd < 0 || write(fd, doc.data(), doc.size()) != static_cast<ssize_t>(doc.size())) {
    state.SkipWithError("temporary file");
    return;
  }
  close(fd);
  for (auto _ : state) {
    List list;
    if (parse_descr_list_readf(path, &list, true, true) != 0) state.SkipWithError("read failed");
    state.PauseTiming();
    clean_chan_desr_list(&list);
    state.ResumeTiming();
  }
  unlink(path);
  per_channel(state, n);
}

// Reference only: the same merge through the public linear find_chan_entry,
// which is what an unindexed reader does per property (quadratic).
void BM_LinearLookupReference(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  List list;
  std::string doc = chandescriptions(n);
  parse_descr_list_read(&doc[0], &list, false, false);
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i) names.push_back(prop(i));
  for (auto _ : state) {
    // Each property is looked up in the list of the properties before it.
    std::size_t found = 0;
    List prefix;
    prefix.reserve(list.size());
    for (int i = 0; i < n; ++i) {
      found += find_chan_entry(&prefix, &names[i][0]) != nullptr;
      prefix.push_back(list[i]);
    }
    benchmark::DoNotOptimize(found);
  }
  clean_chan_desr_list(&list);
  per_channel(state, n);
}

// The writer: n distinct descriptions plus n/4 repeats (skipped), into a string.
void write_list(benchmark::State& state, int format) {
  const int n = static_cast<int>(state.range(0));
  List list;
  std::string doc = chandescriptions(n);
  parse_descr_list_read(&doc[0], &list, false, false);
  std::string again = chandescriptions(n / 4);
  parse_descr_list_read(&again[0], &list, false, false);
  for (auto _ : state) {
    std::string out;
    if (dump_chan_desr(&list, nullptr, 2, format, -1, &out, nullptr) != 0) state.SkipWithError("write failed");
    benchmark::DoNotOptimize(out.data());
  }
  clean_chan_desr_list(&list);
  per_channel(state, n + n / 4);
}

void BM_WriteChandescriptions(benchmark::State& state) { write_list(state, 0); }
void BM_WriteDaqvariables(benchmark::State& state) { write_list(state, 1); }

}  // namespace

BENCHMARK(BM_ReadChandescriptions)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadChandescriptionsDeleteDuplicated)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadDaqvariablesMerge)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadDaqvariablesMergeRepeats)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFileDeleteDuplicated)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteChandescriptions)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteDaqvariables)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinearLookupReference)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
