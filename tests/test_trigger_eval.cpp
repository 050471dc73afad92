// Trigger evaluation end to end over blocks built by the event-utility
// stand-in: argument checks, window rules, reductions, data kinds, messages
// and the DIFF functions.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "qal3_evutl_blocks.h"
#include "test_util.h"
#include "user_case_trigger.h"

using testutil::capture_stdout;

namespace {

enum Fn { MIN, MAX, MEAN, RMS, STD, SUM, VALUE, P2P, DMIN, DMAX, DMEAN, DRMS, DSTD, DSUM, DVALUE, DP2P };
constexpr int kTrue = 10;  // operation TRUE: fires whenever the function gives a result
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Owns a block made by the stand-in's builders.
struct Block {
  qal3_serv_block_subhead_2010* p;
  explicit Block(qal3_serv_block_subhead_2010* b) : p(b) {}
  ~Block() { qal3_evutl_free_block(p); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
};

qal3_serv_block_subhead_2010* spectrum(const std::vector<float>& samples, float start = 0.0f, float inc = 1.0f,
                                       int dtype = 1013) {
  qal3_spect_header_2010 head{start, inc, static_cast<int>(samples.size()), 1, 1.0f};
  const float* data = samples.data();
  return qal3_evutl_make_spectrum("SPEC", dtype, 1, &head, &data);
}

std::vector<float> ramp(int n) {
  std::vector<float> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = static_cast<float>(i);
  return v;
}

// A zero-filled trigger record, released with its buffers.
struct Trigger {
  qal3_user_case_trigger* t;
  Trigger(int function, float start = 0.0f, float end = 0.0f, float step = 0.0f) {
    t = static_cast<qal3_user_case_trigger*>(std::calloc(1, sizeof(qal3_user_case_trigger)));
    t->function = function;
    t->operation = kTrue;
    t->fparam[0] = start;
    t->fparam[1] = end;
    t->fparam[2] = step;
  }
  ~Trigger() {
    std::free(t->fresult);
    std::free(t->fprevresult);
    std::free(t);
  }
  Trigger(const Trigger&) = delete;
  Trigger& operator=(const Trigger&) = delete;
  qal3_user_case_trigger* operator->() { return t; }
  float result() const { return t->fresult ? *t->fresult : -12345.0f; }
};

// Evaluates `function` over a block; returns the result, or NaN-free
// sentinel -12345 when the function failed. Output of SUM is swallowed.
float eval(qal3_serv_block_subhead_2010* block, int function, float start, float end, float step = 0.0f) {
  Trigger t(function, start, end, step);
  int fired = 0;
  capture_stdout([&] { fired = qal3_is_trigger_on(block, t.t); });
  return fired == 1 ? t.result() : -12345.0f;
}
constexpr float kFailed = -12345.0f;

// The running rules, written sequentially, for comparison with the library.
struct Reference {
  std::vector<float> sel;
  double sum() const {
    double s = 0.0;
    for (float x : sel) s += static_cast<double>(x);
    return s;
  }
  float value(int fn) const {
    const double n = static_cast<double>(sel.size());
    switch (fn) {
      case SUM:
        return static_cast<float>(sum());
      case MEAN:
        return static_cast<float>(sum()) / static_cast<float>(sel.size());
      case RMS: {
        double s = 0.0;
        for (float x : sel) {
          const float sq = x * x;
          s += static_cast<double>(sq);
        }
        return static_cast<float>(std::sqrt(s / n));
      }
      case STD: {
        const double mean = sum() / n;
        double s = 0.0;
        for (float x : sel) s += (static_cast<double>(x) - mean) * (static_cast<double>(x) - mean);
        return static_cast<float>(std::sqrt(s / n));
      }
      case MIN: {
        float m = sel[0];
        for (float x : sel)
          if (x < m) m = x;
        return m;
      }
      case MAX: {
        float m = sel[0];
        for (float x : sel)
          if (x > m) m = x;
        return m;
      }
      case P2P: {
        float hi = sel[0], lo = sel[0];
        for (float x : sel) {
          if (x > hi) hi = x;
          if (x < lo) lo = x;
        }
        return std::fabs(hi - lo);
      }
    }
    return 0.0f;
  }
};

bool same_float(float a, float b) { return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

// ---------------------------------------------------------------------------
// Arguments.

TEST(TriggerEval, BadArgumentsGiveMinusOneAndPlaceholdersZero) {
  Block b(qal3_evutl_make_namval("NV", 1, std::vector<float>{1.0f}.data()));
  Trigger t(MEAN);
  EXPECT_EQ(qal3_is_trigger_on(nullptr, t.t), -1);
  EXPECT_EQ(qal3_is_trigger_on(b.p, nullptr), -1);
  for (int bad : {32, -1, INT_MIN, INT_MAX}) {
    t->function = bad;
    t->operation = kTrue;
    EXPECT_EQ(qal3_is_trigger_on(b.p, t.t), -1) << bad;
    t->function = MEAN;
    t->operation = bad;
    EXPECT_EQ(qal3_is_trigger_on(b.p, t.t), -1) << bad;
  }
  EXPECT_EQ(t->fresult, nullptr);
  t->operation = kTrue;
  for (int slot = 16; slot < 32; ++slot) {
    t->function = slot;
    EXPECT_EQ(qal3_is_trigger_on(b.p, t.t), 0) << slot;
  }
  EXPECT_EQ(t->fresult, nullptr);  // placeholders touch nothing
}

// ---------------------------------------------------------------------------
// Windows over the spectrum 0, 1, ..., 9 on an axis starting at 0 with step 1.

TEST(TriggerEval, WindowRules) {
  Block b(spectrum(ramp(10)));
  const float inf = INFINITY, big = 1e30f, int_min = -2147483648.0f;
  const struct {
    int fn;
    float start, end, step, expected;
  } cases[] = {
      // Samples 2, 3, 4.
      {MEAN, 2, 5, 0, 3},
      {SUM, 2, 5, 0, 9},
      {MIN, 2, 5, 0, 2},
      {MAX, 2, 5, 0, 4},
      {P2P, 2, 5, 0, 2},
      {VALUE, 2, 5, 0, 2},
      {RMS, 2, 5, 0, std::sqrt(29.0f / 3.0f)},
      {STD, 2, 5, 0, static_cast<float>(std::sqrt(2.0 / 3.0))},
      // Steps: truncated, absolute, 0 as 1; beyond int they saturate and
      // select the first sample only; NaN converts to 0.
      {SUM, 2, 5, 2, 6},
      {SUM, 2, 5, -2, 6},
      {SUM, 2, 5, 0.9f, 9},
      {SUM, 2, 5, 2.9f, 6},
      {MEAN, 2, 5, 2, 3},
      {SUM, 0, 10, 3, 18},
      {SUM, 2, 10, big, 2},
      {SUM, 2, 10, -big, 2},
      {SUM, 2, 10, inf, 2},
      {SUM, 2, 10, -inf, 2},
      {SUM, 2, 10, int_min, 2},
      {SUM, 2, 10, 2147483648.0f, 2},
      {SUM, 2, 5, kNaN, 9},
      // Ends: ndata includes the last sample, beyond fails, 0 and empty
      // windows fail, negative runs to the last sample, NaN converts to 0.
      {SUM, 0, 10, 0, 45},
      {SUM, 0, 11, 0, kFailed},
      {SUM, 0, 0, 0, kFailed},
      {SUM, 3, 3, 0, kFailed},
      {SUM, 4, 3, 0, kFailed},
      {SUM, 0, -1, 0, 45},
      {SUM, 7, -big, 0, 24},
      {SUM, 7, -inf, 0, 24},
      {SUM, 0, inf, 0, kFailed},
      {SUM, 0, big, 0, kFailed},
      {SUM, 0, kNaN, 0, kFailed},
      {SUM, 2, 5.9f, 0, 9},
      // Starts: before the axis is sample 0, the last sample alone, beyond fails.
      {SUM, -5, 3, 0, 3},
      {SUM, -big, 3, 0, 3},
      {SUM, -inf, 3, 0, 3},
      {SUM, kNaN, 3, 0, 3},
      {SUM, 9, -1, 0, 9},
      {VALUE, 9, 0, 0, 9},
      {VALUE, 10, 0, 0, kFailed},
      {SUM, 10, -1, 0, kFailed},
      {VALUE, inf, 0, 0, kFailed},
      {VALUE, big, 0, 0, kFailed},
  };
  for (const auto& c : cases)
    EXPECT_FLOAT_EQ(eval(b.p, c.fn, c.start, c.end, c.step), c.expected)
        << "fn " << c.fn << " start " << c.start << " end " << c.end << " step " << c.step;
}

TEST(TriggerEval, AxisUnitsAreConvertedInSinglePrecision) {
  Block b(spectrum(ramp(10), 100.0f, 0.5f));
  EXPECT_EQ(eval(b.p, VALUE, 101.0f, 0), 2.0f);
  EXPECT_EQ(eval(b.p, SUM, 101.0f, 102.5f), 9.0f);  // samples 2, 3, 4
  EXPECT_EQ(eval(b.p, VALUE, 99.0f, 0), 0.0f);
  // A zero or reversed axis never leads outside the samples.
  Block flat(spectrum(ramp(10), 5.0f, 0.0f));
  EXPECT_EQ(eval(flat.p, VALUE, 5.0f, 0), 0.0f);     // 0/0: NaN, sample 0
  EXPECT_EQ(eval(flat.p, VALUE, 6.0f, 0), kFailed);  // +inf: beyond the end
  EXPECT_EQ(eval(flat.p, SUM, 4.0f, -1.0f), 45.0f);  // -inf start, -inf end
  Block reversed(spectrum(ramp(10), 0.0f, -1.0f));
  EXPECT_EQ(eval(reversed.p, SUM, -2.0f, -5.0f), 9.0f);
  EXPECT_EQ(eval(reversed.p, SUM, 3.0f, -1e9f), kFailed);  // end index beyond ndata
}

TEST(TriggerEval, ExtremesInsideTheWindowOnly) {
  Block b(spectrum({-50, 100, 7, 1, 5, 100, -50}));
  EXPECT_EQ(eval(b.p, MIN, 2, 5), 1.0f);
  EXPECT_EQ(eval(b.p, MAX, 2, 5), 7.0f);
  EXPECT_EQ(eval(b.p, P2P, 2, 5), 6.0f);
}

TEST(TriggerEval, StdIsThePopulationDeviationAndRmsSquaresInFloat) {
  Block a(spectrum({2, 4}));
  EXPECT_EQ(eval(a.p, STD, 0, 2), 1.0f);
  Block b(spectrum({3, 4}));
  EXPECT_NEAR(eval(b.p, RMS, 0, 2), 3.5355339f, 1e-6f);
  Block c(spectrum({5, 5, 5, 5}));
  EXPECT_EQ(eval(c.p, STD, 0, 4), 0.0f);
}

TEST(TriggerEval, NanAndSignedZeroFollowTheRunningRules) {
  // A NaN first sample stays; later NaNs never replace an extreme.
  std::vector<float> v(40, 1.0f);
  v[0] = kNaN;
  v[20] = 9.0f;
  Block first_nan(spectrum(v));
  EXPECT_TRUE(std::isnan(eval(first_nan.p, MAX, 0, 40)));
  EXPECT_TRUE(std::isnan(eval(first_nan.p, MIN, 0, 40)));
  EXPECT_TRUE(std::isnan(eval(first_nan.p, P2P, 0, 40)));
  EXPECT_EQ(eval(first_nan.p, MAX, 1, 40), 9.0f);
  v[0] = 1.0f;
  v[3] = kNaN;
  v[33] = kNaN;
  v[25] = -4.0f;
  Block later_nan(spectrum(v));
  EXPECT_EQ(eval(later_nan.p, MAX, 0, 40), 9.0f);
  EXPECT_EQ(eval(later_nan.p, MIN, 0, 40), -4.0f);
  EXPECT_EQ(eval(later_nan.p, P2P, 0, 40), 13.0f);
  EXPECT_TRUE(std::isnan(eval(later_nan.p, SUM, 0, 40)));

  // With +0 and -0 both the extreme, the first one in the window is kept.
  for (int first_zero : {5, 18}) {
    std::vector<float> z(64, -1.0f);
    z[static_cast<size_t>(first_zero)] = -0.0f;
    z[static_cast<size_t>(first_zero == 5 ? 18 : 5)] = 0.0f;
    z[40] = 0.0f;
    Block bz(spectrum(z));
    const float m = eval(bz.p, MAX, 0, 64);
    EXPECT_EQ(m, 0.0f);
    EXPECT_EQ(std::signbit(m), first_zero == 5) << first_zero;
    for (float& x : z) x = -x;  // the same for MIN over positive samples
    Block bn(spectrum(z));
    const float n = eval(bn.p, MIN, 0, 64);
    EXPECT_EQ(n, 0.0f);
    EXPECT_EQ(std::signbit(n), first_zero != 5) << first_zero;
  }
}

// The vectorised reductions give exactly the running double-precision rule
// on ADC-like data, for every window length and alignment; MIN, MAX and P2P
// also with special values mixed in.
TEST(TriggerEval, ReductionsMatchTheSequentialRule) {
  std::mt19937 gen(7);
  std::uniform_int_distribution<int> adc(-32768, 32767);
  const float specials[] = {kNaN, INFINITY, -INFINITY, 0.0f, -0.0f, 1e38f, -1e38f};
  for (int round = 0; round < 300; ++round) {
    const int n = round < 150 ? round + 1 : 150 + round * 37;
    std::vector<float> v(static_cast<size_t>(n));
    for (float& x : v) x = static_cast<float>(adc(gen)) * (round % 3 == 0 ? 0.25f : 1.0f);
    std::vector<float> w = v;
    for (int k = 0; k < n / 10; ++k) w[static_cast<size_t>(gen() % n)] = specials[gen() % 7];
    const int first = static_cast<int>(gen() % static_cast<unsigned>(n));
    const int end = first + 1 + static_cast<int>(gen() % static_cast<unsigned>(n - first));
    const int step = round % 5 == 4 ? 1 + static_cast<int>(gen() % 5) : 1;
    Reference ref, ref_special;
    for (int k = first; k < end; k += step) {
      ref.sel.push_back(v[static_cast<size_t>(k)]);
      ref_special.sel.push_back(w[static_cast<size_t>(k)]);
    }
    Block b(spectrum(v));
    Block bw(spectrum(w));
    const float f = static_cast<float>(first), e = static_cast<float>(end), s = static_cast<float>(step);
    for (int fn : {SUM, MEAN, RMS, MIN, MAX, P2P}) {
      EXPECT_PRED2(same_float, eval(b.p, fn, f, e, s), ref.value(fn))
          << "fn " << fn << " n " << n << " window " << first << ".." << end << " step " << step;
    }
    for (int fn : {MIN, MAX, P2P}) {
      EXPECT_PRED2(same_float, eval(bw.p, fn, f, e, s), ref_special.value(fn))
          << "fn " << fn << " n " << n << " window " << first << ".." << end;
    }
    // The deviations are not exact in double, so their order may move the
    // last bit of the double sum: allow one float rounding step.
    const float std_ref = ref.value(STD);
    EXPECT_NEAR(eval(b.p, STD, f, e, s), std_ref, std::fabs(std_ref) * 2e-7f + 1e-30f);
  }
}

// Subnormal samples are numbers like any other. A vector unit that flushes
// them to zero (32-bit ARM NEON does, in arithmetic and comparisons alike)
// would change each of these results.
TEST(TriggerEval, SubnormalSamplesAreNotFlushedToZero) {
  const float tiny = std::numeric_limits<float>::denorm_min();
  std::vector<float> v(100);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = tiny * static_cast<float>(static_cast<int>(i % 23) - 11);
  v[57] = std::numeric_limits<float>::min() / 2.0f;
  v[61] = -std::numeric_limits<float>::min() / 4.0f;
  Reference ref;
  ref.sel = v;
  Block b(spectrum(v));
  for (int fn : {SUM, MEAN, MIN, MAX, P2P})
    EXPECT_PRED2(same_float, eval(b.p, fn, 0, 100), ref.value(fn)) << "fn " << fn;
  EXPECT_EQ(eval(b.p, MAX, 0, 100), v[57]);
  EXPECT_EQ(eval(b.p, MIN, 0, 100), v[61]);
  EXPECT_NE(eval(b.p, SUM, 0, 100), 0.0f);
}

// ---------------------------------------------------------------------------
// Data kinds.

TEST(TriggerEval, SingleValuedDataGivesTheValueToEveryBaseFunction) {
  const float values[2] = {11.0f, -3.0f};
  Block nv(qal3_evutl_make_namval("NV", 2, values));
  for (int fn = MIN; fn <= P2P; ++fn) {
    Trigger t(fn, 100.0f, 200.0f, 7.0f);
    t->subchannel = 1;
    capture_stdout([&] { EXPECT_EQ(qal3_is_trigger_on(nv.p, t.t), 1) << fn; });
    EXPECT_EQ(t.result(), -3.0f) << fn;
  }
  Trigger missing(MEAN);
  missing->subchannel = 2;
  EXPECT_EQ(qal3_is_trigger_on(nv.p, missing.t), 0);
  missing->subchannel = -1;
  EXPECT_EQ(qal3_is_trigger_on(nv.p, missing.t), 0);
  EXPECT_EQ(missing->fresult, nullptr);
}

TEST(TriggerEval, SlowChannelsFromUpdatesThenTheDictionary) {
  qal3_upd_data_block_2010 upd{};
  std::strcpy(upd.upd_prop, "UPD.CHAN");
  upd.upd_ch_data = 12.5f;
  qal3_env_data_block_2010 env{};
  env.env_ch_idx = 4;
  env.env_ch_data = -7.25f;
  Block slow(qal3_evutl_make_slow("SLOW", 1, &upd, 1, &env));

  Trigger from_upd(MIN);
  std::strcpy(from_upd->channel, "UPD.CHAN");
  EXPECT_EQ(qal3_is_trigger_on(slow.p, from_upd.t), 1);
  EXPECT_EQ(from_upd.result(), 12.5f);

  // Not an update value and no dictionary set.
  const struct {
    int fn;
    const char* out;
  } cases[] = {{MIN, "func_min: No ext env dictionary set\n"},
               {MAX, "func_max: No ext env dictionary set\n"},
               {DMAX, "func_max: No ext env dictionary set\n"},
               {MEAN, ""},
               {STD, ""},
               {SUM, ""}};
  for (const auto& c : cases) {
    Trigger t(c.fn);
    std::strcpy(t->channel, "ENV.CHAN");
    int fired = -2;
    EXPECT_EQ(capture_stdout([&] { fired = qal3_is_trigger_on(slow.p, t.t); }), c.out) << c.fn;
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(t->fresult, nullptr);
  }

  const qal3_evutl_env_dict_entry entries[] = {{4, "ENV.CHAN"}};
  qal3_evutl_env_dict dict{1, entries};
  qal3_user_trigger_set_ext_env_dictionary(reinterpret_cast<char*>(&dict));
  for (int fn : {MIN, MAX, VALUE, RMS}) {
    Trigger t(fn);
    std::strcpy(t->channel, "ENV.CHAN");
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(qal3_is_trigger_on(slow.p, t.t), 1); }), "");
    EXPECT_EQ(t.result(), -7.25f) << fn;
  }
  Trigger unknown(MIN);
  std::strcpy(unknown->channel, "NOWHERE");
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(qal3_is_trigger_on(slow.p, unknown.t), 0); }), "");
  qal3_user_trigger_set_ext_env_dictionary(nullptr);
}

TEST(TriggerEval, ImagesAndUnknownKindsNeverGiveAResult) {
  qal3_image_ext_frame_head head{};
  head.width = 2;
  head.height = 2;
  head.bpp = 1;
  const unsigned char pixels[4] = {1, 2, 3, 4};
  Block image(qal3_evutl_make_image("IMG", &head, pixels, 4));
  const int raw_data = 0;
  Block unknown(qal3_evutl_make_raw("RAW", 4242, &raw_data, 4));
  for (int fn = MIN; fn <= DP2P; ++fn) {
    Trigger t(fn, 0, 1);
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(qal3_is_trigger_on(image.p, t.t), 0); }), "") << fn;
    const std::string who = (fn == MAX || fn == DMAX) ? "func_max" : "func_min";
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(qal3_is_trigger_on(unknown.p, t.t), 0); }),
              who + ": unknown data structure type\n")
        << fn;
    EXPECT_EQ(t->fresult, nullptr);
  }
}

TEST(TriggerEval, GenericSpectraAndBrokenBlocksAreSafe) {
  Block g(spectrum(ramp(10), 0.0f, 1.0f, 1015));
  EXPECT_EQ(eval(g.p, MEAN, 2, 5), 3.0f);
  Block empty(spectrum({}));
  EXPECT_EQ(eval(empty.p, VALUE, 0, 0), kFailed);
  EXPECT_EQ(eval(empty.p, SUM, 0, -1), kFailed);
  // A spectrum block shorter than its header claims yields no data.
  const int truncated[3] = {1, 0, 0};
  Block broken(qal3_evutl_make_raw("BROKEN", 1013, truncated, sizeof truncated));
  EXPECT_EQ(eval(broken.p, MAX, 0, -1), kFailed);
  Trigger other_sub(MEAN, 0, -1);
  other_sub->subchannel = 1;
  EXPECT_EQ(qal3_is_trigger_on(g.p, other_sub.t), 0);
}

// Hostile parameters over small spectra: every evaluation stays inside the
// samples (the sanitizers watch) and any result is one of the samples'
// reductions, never garbage.
TEST(TriggerEval, HostileParametersStayInsideTheSamples) {
  const float params[] = {0.0f,  1.0f,          -1.0f,         0.5f,           2.9f, 16.0f,    17.0f,     1e9f,
                          -1e9f, 2147483520.0f, 2147483648.0f, -2147483648.0f, 4e9f, INFINITY, -INFINITY, kNaN};
  std::string odd;
  for (int n : {1, 2, 17, 33}) {
    std::vector<float> v(static_cast<size_t>(n), 3.0f);
    Block b(spectrum(v));
    capture_stdout([&] {
      for (int fn : {MIN, MAX, MEAN, RMS, STD, SUM, VALUE, P2P, DSUM})
        for (float p0 : params)
          for (float p1 : params)
            for (float p2 : {0.0f, -1.0f, 1e30f, kNaN, -2147483648.0f, 3.0f}) {
              Trigger t(fn, p0, p1, p2);
              qal3_is_trigger_on(b.p, t.t);
              const bool sums = fn == SUM || fn == DSUM;
              if (t->fresult && !sums && *t->fresult != 3.0f && *t->fresult != 0.0f)
                odd += std::to_string(fn) + " " + std::to_string(p0) + " " + std::to_string(p1) + " " +
                       std::to_string(p2) + "\n";
            }
    });
  }
  EXPECT_EQ(odd, "");
}

// ---------------------------------------------------------------------------
// Messages.

TEST(TriggerEval, SumWritesItsValueBeforeTheJudgement) {
  Block b(spectrum(ramp(10)));
  Trigger t(SUM, 1, 3);
  t->operation = 0;  // GT
  t->upper = 100.0f;
  int fired = -2;
  EXPECT_EQ(capture_stdout([&] { fired = qal3_is_trigger_on(b.p, t.t); }), " HERE DATA 3.000000 \n");
  EXPECT_EQ(fired, 0);
  Trigger failing(SUM, 1, 30);
  EXPECT_EQ(capture_stdout([&] { qal3_is_trigger_on(b.p, failing.t); }), "");
  Trigger other(MEAN, 1, 3);
  EXPECT_EQ(capture_stdout([&] { qal3_is_trigger_on(b.p, other.t); }), "");
}

TEST(TriggerEval, SumLineFormatsLikePrintf) {
  const float values[] = {0.0f,          -0.0f,  1.5f,     -2.25f,    0.1f, 1e-7f, 5e-7f,      2.5e-6f,   123456789.0f,
                          3.4028235e38f, -1e20f, INFINITY, -INFINITY, kNaN, -kNaN, 0.0000005f, 1.0000005f};
  for (float v : values) {
    Block nv(qal3_evutl_make_namval("NV", 1, &v));
    Trigger t(SUM);
    char expected[128];
    std::snprintf(expected, sizeof expected, " HERE DATA %f \n", static_cast<double>(v));
    EXPECT_EQ(capture_stdout([&] { qal3_is_trigger_on(nv.p, t.t); }), expected) << v;
  }
}

// ---------------------------------------------------------------------------
// DIFF functions.

TEST(TriggerEval, DiffFunctionsJudgeTheChangeSinceTheLastSuccess) {
  Trigger t(DVALUE);
  const float values[] = {5.0f, 7.0f, 4.0f};
  const int expect_fired[] = {0, 1, 1};
  const float expect_result[] = {5.0f, 2.0f, -3.0f};
  for (int k = 0; k < 3; ++k) {
    Block nv(qal3_evutl_make_namval("NV", 1, &values[k]));
    EXPECT_EQ(qal3_is_trigger_on(nv.p, t.t), expect_fired[k]) << k;
    EXPECT_EQ(t.result(), expect_result[k]) << k;
    ASSERT_NE(t->fprevresult, nullptr);
    EXPECT_EQ(*t->fprevresult, values[k]);
  }

  Trigger sum(DSUM);
  for (float v : {5.0f, 7.0f}) {
    Block nv(qal3_evutl_make_namval("NV", 1, &v));
    capture_stdout([&] { qal3_is_trigger_on(nv.p, sum.t); });
  }
  EXPECT_EQ(sum.result(), -2.0f);  // previous minus current

  // A failed base evaluation keeps the previous raw value.
  Trigger mean(DMEAN);
  mean->subchannel = 0;
  const float five = 5.0f, eight = 8.0f;
  Block b5(qal3_evutl_make_namval("NV", 1, &five));
  Block b8(qal3_evutl_make_namval("NV", 1, &eight));
  Block image(qal3_evutl_make_image("IMG", std::vector<qal3_image_ext_frame_head>(1).data(), nullptr, 0));
  EXPECT_EQ(qal3_is_trigger_on(b5.p, mean.t), 0);
  EXPECT_EQ(qal3_is_trigger_on(image.p, mean.t), 0);
  EXPECT_EQ(qal3_is_trigger_on(b8.p, mean.t), 1);
  EXPECT_EQ(mean.result(), 3.0f);

  // A first evaluation that fails does not start the history.
  Trigger fresh(DMAX, 0, 100);
  Block spec(spectrum(ramp(10)));
  EXPECT_EQ(qal3_is_trigger_on(spec.p, fresh.t), 0);
  EXPECT_EQ(fresh->fprevresult, nullptr);
  EXPECT_EQ(fresh->fresult, nullptr);
}

TEST(TriggerEval, ResultBuffersAreMadeOnceAndReused) {
  Block b(spectrum(ramp(100)));
  Trigger t(DP2P, 0, 50);
  qal3_is_trigger_on(b.p, t.t);
  float* const result = t->fresult;
  float* const previous = t->fprevresult;
  ASSERT_NE(result, nullptr);
  ASSERT_NE(previous, nullptr);
  for (int k = 0; k < 3; ++k) {
    for (int fn = MIN; fn <= DP2P; ++fn) {
      t->function = fn;
      capture_stdout([&] { qal3_is_trigger_on(b.p, t.t); });
    }
  }
  EXPECT_EQ(t->fresult, result);
  EXPECT_EQ(t->fprevresult, previous);
}
