// Reductions of a window of spectrum samples.
//
// Contiguous windows (step 1) are the hot path of the evaluation and run in
// vector lanes. A sum of floats in double is exact as long as no partial sum
// needs more than 53 bits of mantissa (true for ADC-like data); the order of
// the additions then cannot change the result, so the lanes give exactly
// what one double sum accumulated sample by sample gives. Extremes are kept
// in sixteen lanes, each compared sample by sample as the evaluation
// defines it, and settle_extreme maps the lane results back to the very
// sample the one-by-one comparison keeps.
//
// Every vector loop is written once, as a template over the lane width,
// with the compiler's vector types. The portable instances compile to
// whatever the target has that keeps IEEE results (SSE2 on x86-64); on
// x86-64 the same templates are also instantiated inside functions built for
// AVX2 and AVX-512, chosen at run time when the processor has them. Every
// variant gives the same results. On 32-bit ARM the portable instances run
// as scalar VFP code, and no NEON variant exists on purpose: NEON has no
// double lanes for the sums, and it flushes subnormal floats to zero in
// arithmetic and comparisons, so it could not give the same results.
#include "trigger_reductions.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace qal3 {
namespace trigger {
namespace {

// The vector types never cross a function boundary that is not inlined, so
// their argument passing convention does not matter here.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wpsabi"
#elif defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

#define QAL3_INLINE inline __attribute__((always_inline))

constexpr int kLanes = 16;  // extremes kept per kind, one per lane

// Vectors of W floats and of W doubles.
template <int W>
struct VectorTypes;
// (Widening element by element compiles to one conversion instruction per
// vector where the target has it; __builtin_convertvector does not always.)
template <>
struct VectorTypes<4> {
  using F = float __attribute__((vector_size(16)));
  using D = double __attribute__((vector_size(32)));
  static QAL3_INLINE D widen(F v) { return D{v[0], v[1], v[2], v[3]}; }
};
template <>
struct VectorTypes<8> {
  using F = float __attribute__((vector_size(32)));
  using D = double __attribute__((vector_size(64)));
  static QAL3_INLINE D widen(F v) { return D{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]}; }
};

template <int W>
struct Lanes {
  using F = typename VectorTypes<W>::F;
  using D = typename VectorTypes<W>::D;
  static constexpr int kBlock = 4 * W;  // samples per step: four accumulators

  static QAL3_INLINE F load(const float* p) {
    F v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static QAL3_INLINE D widen(F v) { return VectorTypes<W>::widen(v); }
  static QAL3_INLINE D splat(double x) {
    D v;
    for (int k = 0; k < W; ++k) v[k] = x;
    return v;
  }
  // Pairwise: ((a + b) + (c + d)), then the lanes of that in a balanced tree.
  static QAL3_INLINE double horizontal_sum(D a, D b, D c, D d) {
    const D s = (a + b) + (c + d);
    double lane[W];
    std::memcpy(lane, &s, sizeof s);
    for (int width = W / 2; width > 0; width /= 2)
      for (int k = 0; k < width; ++k) lane[k] = lane[2 * k] + lane[2 * k + 1];
    return lane[0];
  }
};

// The scalar ends of the sums: samples p[from..n).
double tail_sum(const float* p, int from, int n) {
  double s = 0.0;
  for (int i = from; i < n; ++i) s += static_cast<double>(p[i]);
  return s;
}

double tail_sum_squares(const float* p, int from, int n) {
  double s = 0.0;
  for (int i = from; i < n; ++i) {
    const float sq = p[i] * p[i];  // squared in single precision
    s += static_cast<double>(sq);
  }
  return s;
}

double tail_sum_sq_dev(const float* p, int from, int n, double mean) {
  double s = 0.0;
  for (int i = from; i < n; ++i) {
    const double d = static_cast<double>(p[i]) - mean;
    s += d * d;
  }
  return s;
}

// The terms of the three sums: the W floats at p to W doubles. (They take
// the samples' address, not a vector, so that no vector is passed by value.)
template <int W>
struct Plain {
  QAL3_INLINE typename Lanes<W>::D operator()(const float* p) const { return Lanes<W>::widen(Lanes<W>::load(p)); }
};

template <int W>
struct Square {  // squared in single precision, as the evaluation defines it
  QAL3_INLINE typename Lanes<W>::D operator()(const float* p) const {
    const typename Lanes<W>::F x = Lanes<W>::load(p);
    return Lanes<W>::widen(x * x);
  }
};

template <int W>
struct SquaredDeviation {
  typename Lanes<W>::D mean;
  QAL3_INLINE typename Lanes<W>::D operator()(const float* p) const {
    const typename Lanes<W>::D dev = Lanes<W>::widen(Lanes<W>::load(p)) - mean;
    return dev * dev;
  }
};

// The sum of term(x) over whole blocks of p[0..n) in four accumulators;
// `done` is the number of samples summed.
template <int W, class Term>
QAL3_INLINE double lane_sum(const float* p, int n, int& done, Term term) {
  using L = Lanes<W>;
  typename L::D a = {}, b = {}, c = {}, d = {};
  int i = 0;
  for (; i + L::kBlock <= n; i += L::kBlock) {
    a += term(p + i);
    b += term(p + i + W);
    c += term(p + i + 2 * W);
    d += term(p + i + 3 * W);
  }
  done = i;
  return L::horizontal_sum(a, b, c, d);
}

template <int W>
QAL3_INLINE double sum(const float* p, int n) {
  int done = 0;
  const double s = lane_sum<W>(p, n, done, Plain<W>{});
  return s + tail_sum(p, done, n);
}

template <int W>
QAL3_INLINE double sum_squares(const float* p, int n) {
  int done = 0;
  const double s = lane_sum<W>(p, n, done, Square<W>{});
  return s + tail_sum_squares(p, done, n);
}

template <int W>
QAL3_INLINE double sum_sq_dev(const float* p, int n, double mean) {
  int done = 0;
  const double s = lane_sum<W>(p, n, done, SquaredDeviation<W>{Lanes<W>::splat(mean)});
  return s + tail_sum_sq_dev(p, done, n, mean);
}

// Extremes of p[0..done), compared sample by sample in kLanes lanes, each
// started at p[0]; `done` is the largest multiple of kLanes not above n.
struct LaneExtremes {
  float hi[kLanes];
  float lo[kLanes];
  int done;
};

template <bool kHi, bool kLo>
QAL3_INLINE void extreme_lanes(const float* p, int n, LaneExtremes& out) {
  using L = Lanes<8>;
  const L::F first = {p[0], p[0], p[0], p[0], p[0], p[0], p[0], p[0]};
  L::F h0 = first, h1 = first, l0 = first, l1 = first;
  int i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    const L::F x = L::load(p + i), y = L::load(p + i + 8);
    if (kHi) {
      h0 = x > h0 ? x : h0;
      h1 = y > h1 ? y : h1;
    }
    if (kLo) {
      l0 = x < l0 ? x : l0;
      l1 = y < l1 ? y : l1;
    }
  }
  std::memcpy(out.hi, &h0, sizeof h0);
  std::memcpy(out.hi + 8, &h1, sizeof h1);
  std::memcpy(out.lo, &l0, sizeof l0);
  std::memcpy(out.lo + 8, &l1, sizeof l1);
  out.done = i;
}

// The variants. The AVX2 sums keep four lanes, the AVX-512 ones eight: the
// wider conversions and multiplications bound the squared sums with AVX2.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define QAL3_X86_VARIANTS 1
#define QAL3_AVX2 __attribute__((target("avx2")))
#define QAL3_AVX512 __attribute__((target("avx512f")))

QAL3_AVX2 double avx2_sum(const float* p, int n) { return sum<4>(p, n); }
QAL3_AVX2 double avx2_sum_squares(const float* p, int n) { return sum_squares<4>(p, n); }
QAL3_AVX2 double avx2_sum_sq_dev(const float* p, int n, double mean) { return sum_sq_dev<4>(p, n, mean); }
template <bool kHi, bool kLo>
QAL3_AVX2 void avx2_extreme_lanes(const float* p, int n, LaneExtremes& out) {
  extreme_lanes<kHi, kLo>(p, n, out);
}
QAL3_AVX512 double avx512_sum_squares(const float* p, int n) { return sum_squares<8>(p, n); }
QAL3_AVX512 double avx512_sum_sq_dev(const float* p, int n, double mean) { return sum_sq_dev<8>(p, n, mean); }

bool use_avx2() {
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes;
}

bool use_avx512() {
  static const bool yes = __builtin_cpu_supports("avx512f");
  return yes;
}
#endif

double lanes_sum(const float* p, int n) {
#ifdef QAL3_X86_VARIANTS
  if (use_avx2()) return avx2_sum(p, n);
#endif
  return sum<4>(p, n);
}

double lanes_sum_squares(const float* p, int n) {
#ifdef QAL3_X86_VARIANTS
  if (use_avx512()) return avx512_sum_squares(p, n);
  if (use_avx2()) return avx2_sum_squares(p, n);
#endif
  return sum_squares<4>(p, n);
}

double lanes_sum_sq_dev(const float* p, int n, double mean) {
#ifdef QAL3_X86_VARIANTS
  if (use_avx512()) return avx512_sum_sq_dev(p, n, mean);
  if (use_avx2()) return avx2_sum_sq_dev(p, n, mean);
#endif
  return sum_sq_dev<4>(p, n, mean);
}

template <bool kHi, bool kLo>
void lanes_extremes(const float* p, int n, LaneExtremes& out) {
#ifdef QAL3_X86_VARIANTS
  if (use_avx2()) return avx2_extreme_lanes<kHi, kLo>(p, n, out);
#endif
  extreme_lanes<kHi, kLo>(p, n, out);
}

// The sample that the one-by-one comparison over p[0..n) keeps, p[0] not
// NaN, given the lane results over p[0..done): the first sample equal to
// the extreme.
// Only zero has two encodings that compare equal (+0, -0). Each lane keeps
// the first zero of its own samples and the first zero overall is one of
// those, so only lanes holding zeros of both signs leave the sign open; then
// the first zero is looked up.
template <class Better>
float settle_extreme(const float* p, int n, const float* lanes, int done, Better better) {
  float best = lanes[0];
  for (int j = 1; j < kLanes; ++j)
    if (better(lanes[j], best)) best = lanes[j];
  bool open_zero_sign = false;
  if (best == 0.0f) {
    bool negative = false, positive = false;
    for (int j = 0; j < kLanes; ++j)
      if (lanes[j] == 0.0f) (std::signbit(lanes[j]) ? negative : positive) = true;
    open_zero_sign = negative && positive;
  }
  for (int i = done; i < n; ++i)
    if (better(p[i], best)) {
      best = p[i];
      open_zero_sign = false;
    }
  if (open_zero_sign)
    for (int i = 0; i < done; ++i)
      if (p[i] == 0.0f) return p[i];
  return best;
}

const auto greater = [](float x, float m) { return x > m; };
const auto less = [](float x, float m) { return x < m; };

float lanes_max(const float* p, int n) {
  LaneExtremes l;
  lanes_extremes<true, false>(p, n, l);
  return settle_extreme(p, n, l.hi, l.done, greater);
}

float lanes_min(const float* p, int n) {
  LaneExtremes l;
  lanes_extremes<false, true>(p, n, l);
  return settle_extreme(p, n, l.lo, l.done, less);
}

// The sign of a zero extreme cannot change |max - min|.
float lanes_p2p(const float* p, int n) {
  LaneExtremes l;
  lanes_extremes<true, true>(p, n, l);
  float hi = l.hi[0], lo = l.lo[0];
  for (int j = 1; j < kLanes; ++j) {
    if (l.hi[j] > hi) hi = l.hi[j];
    if (l.lo[j] < lo) lo = l.lo[j];
  }
  for (int i = l.done; i < n; ++i) {
    if (p[i] > hi) hi = p[i];
    if (p[i] < lo) lo = p[i];
  }
  return std::fabs(hi - lo);
}

// ---------------------------------------------------------------------------
// Reductions over a window, as the evaluation defines them sample by sample.

// Calls f(sample) for every selected sample, in order. Index arithmetic in
// 64 bits: first + k*step never wraps.
template <class F>
void for_each_selected(const float* s, const Window& w, F f) {
  for (int64_t k = w.first; k < w.end; k += w.step) f(s[k]);
}

double window_sum(const float* s, const Window& w) {
  if (w.step == 1) return lanes_sum(s + w.first, w.end - w.first);
  double acc = 0.0;
  for_each_selected(s, w, [&acc](float x) { acc += static_cast<double>(x); });
  return acc;
}

double window_sum_squares(const float* s, const Window& w) {
  if (w.step == 1) return lanes_sum_squares(s + w.first, w.end - w.first);
  double acc = 0.0;
  for_each_selected(s, w, [&acc](float x) {
    const float sq = x * x;
    acc += static_cast<double>(sq);
  });
  return acc;
}

double window_sum_sq_dev(const float* s, const Window& w, double mean) {
  if (w.step == 1) return lanes_sum_sq_dev(s + w.first, w.end - w.first, mean);
  double acc = 0.0;
  for_each_selected(s, w, [&acc, mean](float x) {
    const double d = static_cast<double>(x) - mean;
    acc += d * d;
  });
  return acc;
}

// A NaN first sample is kept by MIN, MAX and P2P: nothing compares past it.
float window_max(const float* s, const Window& w) {
  const float first = s[w.first];
  if (std::isnan(first)) return first;
  if (w.step == 1) return lanes_max(s + w.first, w.end - w.first);
  float m = first;
  for_each_selected(s, w, [&m](float x) {
    if (x > m) m = x;
  });
  return m;
}

float window_min(const float* s, const Window& w) {
  const float first = s[w.first];
  if (std::isnan(first)) return first;
  if (w.step == 1) return lanes_min(s + w.first, w.end - w.first);
  float m = first;
  for_each_selected(s, w, [&m](float x) {
    if (x < m) m = x;
  });
  return m;
}

float window_p2p(const float* s, const Window& w) {
  const float first = s[w.first];
  if (std::isnan(first)) return std::fabs(first - first);
  if (w.step == 1) return lanes_p2p(s + w.first, w.end - w.first);
  float hi = first;
  float lo = first;
  for_each_selected(s, w, [&hi, &lo](float x) {
    if (x > hi) hi = x;
    if (x < lo) lo = x;
  });
  return std::fabs(hi - lo);
}

}  // namespace

float reduce(const float* s, const Window& w, Reduction r) {
  switch (r) {
    case Reduction::value:
      return s[w.first];
    case Reduction::sum:
      return static_cast<float>(window_sum(s, w));
    case Reduction::mean:
      return static_cast<float>(window_sum(s, w)) / static_cast<float>(w.count());
    case Reduction::rms: {
      const double n = w.count();
      return static_cast<float>(std::sqrt(window_sum_squares(s, w) / n));
    }
    case Reduction::std: {
      const double n = w.count();
      const double mean = window_sum(s, w) / n;
      return static_cast<float>(std::sqrt(window_sum_sq_dev(s, w, mean) / n));
    }
    case Reduction::max:
      return window_max(s, w);
    case Reduction::min:
      return window_min(s, w);
    case Reduction::p2p:
      return window_p2p(s, w);
  }
  return 0.0f;
}

}  // namespace trigger
}  // namespace qal3
