// The C++ loop that a replay from Python is compared with (bench/python_replay.py):
// one trigger over 10,000 events x 1,000 samples held in one array, the
// verdict and the function's value of every event kept.
//
//   build_per_event: a block from the builder per event, as an application
//                    holding its events in arrays writes it;
//   reuse_block:     one block, each event's samples copied into it.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "event_util.h"
#include "qal3_evutl_blocks.h"
#include "user_case_trigger.h"

namespace {

constexpr int kEvents = 10000;
constexpr int kSamples = 1000;
constexpr float kStart = 0.0f;
constexpr float kInc = 0.01f;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The events in memory placed as numpy places a large array (huge pages
// where the kernel gives them on request), so that both loops read their
// samples alike.
class Recording {
 public:
  Recording() {
    const std::size_t bytes = sizeof(float) * kEvents * kSamples;
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) std::abort();
    madvise(p, bytes, MADV_HUGEPAGE);
    data_ = static_cast<float*>(p);
    // The same numbers python_replay.py makes: ((i * 1000 + j) % 97) * 0.1.
    for (std::size_t k = 0; k < static_cast<std::size_t>(kEvents) * kSamples; ++k)
      data_[k] = static_cast<float>(k % 97) * 0.1f;
  }
  const float* data() const { return data_; }

 private:
  float* data_;  // lives as long as the process
};

const Recording& recording() {
  static const Recording x;
  return x;
}

// MEAN over 2..5 on the axis, INSIDE 2.5..3.5 (the first trigger of
// examples/triggers.xml).
struct Trigger {
  qal3_user_case_trigger* t = static_cast<qal3_user_case_trigger*>(std::calloc(1, sizeof *t));
  Trigger() {
    t->function = 2;
    t->operation = 5;
    t->fparam[0] = 2.0f;
    t->fparam[1] = 5.0f;
    t->fparam[2] = 1.0f;
    t->low = 2.5f;
    t->upper = 3.5f;
    t->fresult = static_cast<float*>(std::malloc(sizeof(float)));
  }
  ~Trigger() { QAL3_FREE_USER(t); }
};

struct Results {
  std::vector<bool> fired = std::vector<bool>(kEvents);
  std::vector<float> value = std::vector<float>(kEvents);
};

void evaluate(qal3_serv_block_subhead_2010* b, qal3_user_case_trigger* t, Results& r, int i) {
  *t->fresult = kNaN;
  r.fired[i] = qal3_is_trigger_on(b, t) == 1;
  r.value[i] = *t->fresult;
}

void build_per_event(benchmark::State& state) {
  const Recording& x = recording();
  Trigger trig;
  Results r;
  qal3_spect_header_2010 head{kStart, kInc, kSamples, 1, 1.0f};
  for (auto _ : state) {
    for (int i = 0; i < kEvents; ++i) {
      const float* row = x.data() + static_cast<std::size_t>(i) * kSamples;
      qal3_serv_block_subhead_2010* b = qal3_evutl_make_spectrum("BEAM/Current", QAL3_DATA_SPECTRUM, 1, &head, &row);
      evaluate(b, trig.t, r, i);
      qal3_evutl_free_block(b);
    }
    benchmark::DoNotOptimize(r.value.data());
  }
  state.SetItemsProcessed(state.iterations() * kEvents);
}

void reuse_block(benchmark::State& state) {
  const Recording& x = recording();
  Trigger trig;
  Results r;
  qal3_spect_header_2010 head{kStart, kInc, kSamples, 1, 1.0f};
  const float* first = x.data();
  qal3_serv_block_subhead_2010* b = qal3_evutl_make_spectrum("BEAM/Current", QAL3_DATA_SPECTRUM, 1, &head, &first);
  float* samples = get_pointer_to_data_2010(b, 0);
  for (auto _ : state) {
    for (int i = 0; i < kEvents; ++i) {
      std::memcpy(samples, x.data() + static_cast<std::size_t>(i) * kSamples, sizeof(float) * kSamples);
      evaluate(b, trig.t, r, i);
    }
    benchmark::DoNotOptimize(r.value.data());
  }
  qal3_evutl_free_block(b);
  state.SetItemsProcessed(state.iterations() * kEvents);
}

}  // namespace

BENCHMARK(build_per_event)->Unit(benchmark::kMillisecond);
BENCHMARK(reuse_block)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
