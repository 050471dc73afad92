// Trigger evaluation speed: the window reductions against a read-bandwidth
// reference (the same floats summed with 8 independent float accumulators),
// and the fixed cost of a VALUE trigger on a name/value block.
//
// At the end the binary prints, per window size, the CPU time of each
// function divided by the reference time of the same run (the least of the
// repetitions when --benchmark_repetitions is given), and the number of heap
// allocations made by the timed evaluations (every malloc-family call of the
// process is counted here; operator new ends in malloc too).
//
// On a shared machine run: --benchmark_repetitions=5
//   --benchmark_enable_random_interleaving=true --benchmark_min_time=0.1
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "event_util.h"
#include "qal3_evutl_blocks.h"
#include "user_case_trigger.h"

// ---------------------------------------------------------------------------
// Allocation counting: every malloc-family call of the process (the library's
// result buffers included) goes through these wrappers.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace {
unsigned long long g_allocs = 0;
}

extern "C" void* malloc(size_t n) {
  ++g_allocs;
  return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t m) {
  ++g_allocs;
  return __libc_calloc(n, m);
}
extern "C" void* realloc(void* p, size_t n) {
  ++g_allocs;
  return __libc_realloc(p, n);
}
extern "C" void free(void* p) { __libc_free(p); }

namespace {

// ---------------------------------------------------------------------------
// Data.

// ADC-like samples: integers of a 16-bit converter.
std::vector<float> adc_samples(int n) {
  std::mt19937 gen(12345);
  std::uniform_int_distribution<int> dist(0, 65535);
  std::vector<float> v(static_cast<size_t>(n));
  for (auto& x : v) x = static_cast<float>(dist(gen));
  return v;
}

struct Spectrum {
  qal3_serv_block_subhead_2010* block = nullptr;
  const float* samples = nullptr;
  int n = 0;
};

Spectrum& spectrum_of(int n) {
  static std::map<int, Spectrum> cache;
  Spectrum& s = cache[n];
  if (!s.block) {
    const std::vector<float> v = adc_samples(n);
    qal3_spect_header_2010 head{0.0f, 1.0f, n, 1, 1.0f};
    const float* data = v.data();
    s.block = qal3_evutl_make_spectrum("BENCH.SPECTRUM", QAL3_DATA_SPECTRUM, 1, &head, &data);
    s.samples = get_pointer_to_data_2010(s.block, 0);
    s.n = n;
  }
  return s;
}

qal3_user_case_trigger* new_trigger(int function, int n) {
  auto* t = static_cast<qal3_user_case_trigger*>(std::calloc(1, sizeof(qal3_user_case_trigger)));
  std::strcpy(t->channel, "BENCH.SPECTRUM");
  t->function = function;
  t->operation = 0;  // GT
  t->upper = 1e30f;
  t->fparam[0] = 0.0f;
  t->fparam[1] = static_cast<float>(n);  // end on ndata: the whole spectrum
  t->fparam[2] = 1.0f;
  return t;
}

void free_trigger(qal3_user_case_trigger* t) {
  std::free(t->fresult);
  std::free(t->fprevresult);
  std::free(t);
}

// Standard output goes to /dev/null while SUM writes its line per evaluation.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = dup(1);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    close(null_fd);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }

 private:
  int saved_;
};

// ---------------------------------------------------------------------------
// Benchmarks.

void BM_Reference(benchmark::State& state) {
  const Spectrum& s = spectrum_of(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const float* p = s.samples;
    float a[8] = {};
    int i = 0;
    for (; i + 8 <= s.n; i += 8)
      for (int j = 0; j < 8; ++j) a[j] += p[i + j];
    for (; i < s.n; ++i) a[0] += p[i];
    float total = ((a[0] + a[1]) + (a[2] + a[3])) + ((a[4] + a[5]) + (a[6] + a[7]));
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * s.n);
}

void BM_Function(benchmark::State& state, int function) {
  const int n = static_cast<int>(state.range(0));
  Spectrum& s = spectrum_of(n);
  qal3_user_case_trigger* t = new_trigger(function, n);
  QuietStdout quiet;
  qal3_is_trigger_on(s.block, t);  // result buffer exists from here on
  const unsigned long long before = g_allocs;
  for (auto _ : state) benchmark::DoNotOptimize(qal3_is_trigger_on(s.block, t));
  state.counters["allocs"] = static_cast<double>(g_allocs - before);
  state.SetItemsProcessed(state.iterations() * n);
  free_trigger(t);
}

void BM_ValueNamval(benchmark::State& state) {
  const float values[3] = {1.0f, -3.0f, 7.0f};
  qal3_serv_block_subhead_2010* block = qal3_evutl_make_namval("BENCH.NAMVAL", 3, values);
  qal3_user_case_trigger* t = new_trigger(6, 0);  // VALUE
  t->subchannel = 1;
  t->operation = 4;  // LT
  t->low = 0.0f;
  qal3_is_trigger_on(block, t);
  const unsigned long long before = g_allocs;
  for (auto _ : state) benchmark::DoNotOptimize(qal3_is_trigger_on(block, t));
  state.counters["allocs"] = static_cast<double>(g_allocs - before);
  free_trigger(t);
  qal3_evutl_free_block(block);
}

// ---------------------------------------------------------------------------
// Ratio report.

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration || r.iterations == 0) continue;
      // CPU time, least of the repetitions: the machine may be shared.
      const double t = r.GetAdjustedCPUTime();
      const auto it = times_.find(r.benchmark_name());
      if (it == times_.end() || t < it->second) times_[r.benchmark_name()] = t;
      const auto c = r.counters.find("allocs");
      if (c != r.counters.end()) allocs_ += static_cast<unsigned long long>(c->second.value);
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    static const char* const kNames[] = {"MEAN", "SUM", "RMS", "MIN", "MAX", "P2P", "STD"};
    std::printf("\nTime relative to the 8-accumulator float sum of the same samples:\n");
    std::printf("%10s", "samples");
    for (const char* name : kNames) std::printf("%8s", name);
    std::printf("\n");
    for (int n : {1000, 100000, 10000000}) {
      const auto ref = times_.find("BM_Reference/" + std::to_string(n));
      if (ref == times_.end()) continue;
      std::printf("%10d", n);
      for (const char* name : kNames) {
        const auto it = times_.find(std::string("BM_") + name + "/" + std::to_string(n));
        if (it == times_.end())
          std::printf("%8s", "-");
        else
          std::printf("%8.2f", it->second / ref->second);
      }
      std::printf("\n");
    }
    const auto fixed = times_.find("BM_VALUE/1000");
    if (fixed != times_.end())
      std::printf("\nVALUE on a spectrum (the fixed cost of a spectrum evaluation): %.1f ns\n", fixed->second);
    const auto val = times_.find("BM_ValueNamval");
    if (val != times_.end()) std::printf("VALUE on a name/value block: %.1f ns per evaluation\n", val->second);
    std::printf("Heap allocations during the timed evaluations: %llu\n", allocs_);
  }

 private:
  std::map<std::string, double> times_;
  unsigned long long allocs_ = 0;
};

}  // namespace

BENCHMARK(BM_Reference)->Arg(1000)->Arg(100000)->Arg(10000000);
BENCHMARK_CAPTURE(BM_Function, MEAN, 2)->Name("BM_MEAN")->Arg(1000)->Arg(100000)->Arg(10000000);
BENCHMARK_CAPTURE(BM_Function, SUM, 5)->Name("BM_SUM")->Arg(1000)->Arg(100000)->Arg(10000000);
BENCHMARK_CAPTURE(BM_Function, RMS, 3)->Name("BM_RMS")->Arg(1000)->Arg(100000)->Arg(10000000);
BENCHMARK_CAPTURE(BM_Function, MIN, 0)->Name("BM_MIN")->Arg(1000)->Arg(100000)->Arg(10000000);
BENCHMARK_CAPTURE(BM_Function, MAX, 1)->Name("BM_MAX")->Arg(1000)->Arg(100000)->Arg(10000000);
BENCHMARK_CAPTURE(BM_Function, P2P, 7)->Name("BM_P2P")->Arg(1000)->Arg(100000)->Arg(10000000);
BENCHMARK_CAPTURE(BM_Function, STD, 4)->Name("BM_STD")->Arg(1000)->Arg(100000)->Arg(10000000);
BENCHMARK_CAPTURE(BM_Function, VALUE, 6)->Name("BM_VALUE")->Arg(1000);
BENCHMARK(BM_ValueNamval);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
