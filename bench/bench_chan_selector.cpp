// Channel selector lookups at 1,000, 10,000 and 100,000 loaded channels:
// the time per query must stay flat as the number of channels grows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "chan_selector.h"

namespace {

// Every tenth channel belongs to a local event type (IMAGE), the others to
// NORMAL; data types cycle through the 2010 block types.
std::string make_document(int n) {
  std::string s = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<CHANDESCRIPTIONS>\n";
  s.reserve(static_cast<std::size_t>(n) * 160);
  char buf[320];
  for (int i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf,
                  "<CHANNEL>\n<EVTYPE>%d</EVTYPE>\n<DTYPE>%d</DTYPE>\n"
                  "<PROP>FACILITY/SECTION%d/DEVICE%d/VALUE</PROP>\n<NAME>DEV%d.CH</NAME>\n"
                  "</CHANNEL>\n",
                  i % 10 == 0 ? 6 : 1, 33 + i % 20, i % 97, i, i);
    s += buf;
  }
  return s + "</CHANDESCRIPTIONS>\n";
}

// Query names in a shuffled order, stored one after the other in fixed
// slots (as a consumer has the name at hand in its event buffer), so that
// reading the query costs the same at every size.
class Names {
 public:
  static constexpr std::size_t kSlot = 64;
  void add(const char* name) {
    std::string slot(name);
    slot.resize(kSlot, '\0');
    buf_ += slot;
  }
  char* at(std::size_t k) { return &buf_[k * kSlot]; }
  std::size_t size() const { return buf_.size() / kSlot; }

 private:
  std::string buf_;
};

struct Loaded {
  chan_selector sel;
  Names props;
  Names daqs;
};

// One selector per size, loaded once for all benchmarks.
Loaded& loaded(int n) {
  static std::map<int, std::unique_ptr<Loaded>> cache;
  auto& slot = cache[n];
  if (!slot) {
    slot = std::make_unique<Loaded>();
    std::string doc = make_document(n);
    std::vector<char*> src{&doc[0]};
    slot->sel.change_mode(1);
    if (slot->sel.set_descriptions(&src, nullptr)) std::abort();
    std::vector<int> order(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) order[static_cast<std::size_t>(i)] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (int i : order) {
      slot->props.add(slot->sel.get_prop(i));
      slot->daqs.add(slot->sel.get_channel(i));
    }
  }
  return *slot;
}

void BM_find_channel(benchmark::State& state) {
  Loaded& l = loaded(static_cast<int>(state.range(0)));
  std::size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(l.sel.find_channel(1, l.props.at(k)));
    if (++k == l.props.size()) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_find_channel_local(benchmark::State& state) {
  Loaded& l = loaded(static_cast<int>(state.range(0)));
  std::size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(l.sel.find_channel(6, l.daqs.at(k)));
    if (++k == l.daqs.size()) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_get_event_type(benchmark::State& state) {
  Loaded& l = loaded(static_cast<int>(state.range(0)));
  std::size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(l.sel.get_event_type(l.daqs.at(k)));
    if (++k == l.daqs.size()) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_get_data_type(benchmark::State& state) {
  Loaded& l = loaded(static_cast<int>(state.range(0)));
  std::size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(l.sel.get_data_type(l.daqs.at(k)));
    if (++k == l.daqs.size()) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

// A consumer's question per channel by index: slow, ML and subchannels, each
// of which looks the channel's event type up again by its DAQ name.
void BM_per_channel_questions(benchmark::State& state) {
  Loaded& l = loaded(static_cast<int>(state.range(0)));
  const int n = l.sel.size();
  int k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(l.sel.is_channel_slow(k) + l.sel.is_channel_ml(k) + l.sel.get_subchannels(k));
    if (++k == n) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

// For contrast: the front-to-back scan that the index replaces (the DAQ
// name lookup of get_data_type written as a loop over the descriptions).
void BM_linear_scan_reference(benchmark::State& state) {
  Loaded& l = loaded(static_cast<int>(state.range(0)));
  const int n = l.sel.size();
  std::size_t k = 0;
  for (auto _ : state) {
    const char* name = l.daqs.at(k);
    int found = -1;
    for (int i = 0; i < n && found < 0; ++i)
      if (std::strcmp(l.sel.get_channel(i), name) == 0) found = i;
    benchmark::DoNotOptimize(found);
    if (++k == l.daqs.size()) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

// Loading itself (read, merge-free append, index build), per channel.
void BM_set_descriptions(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::string doc = make_document(n);
  for (auto _ : state) {
    chan_selector sel;
    std::vector<char*> src{&doc[0]};
    sel.change_mode(1);
    benchmark::DoNotOptimize(sel.set_descriptions(&src, nullptr));
  }
  state.SetItemsProcessed(state.iterations() * n);
}

}  // namespace

BENCHMARK(BM_find_channel)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_find_channel_local)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_get_event_type)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_get_data_type)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_per_channel_questions)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_linear_scan_reference)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_set_descriptions)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
