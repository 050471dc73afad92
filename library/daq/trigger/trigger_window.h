// The window of spectrum samples a trigger's function reads, from the
// trigger's axis parameters: one rule for the evaluation and for whatever
// shows an evaluation (the tool's plots). Header only; internal to the
// project.
#ifndef QAL3_TRIGGER_WINDOW_H
#define QAL3_TRIGGER_WINDOW_H

#include <climits>
#include <cmath>

namespace qal3 {
namespace trigger {

// A window of a spectrum in sample indices: first, first + step, ... < end.
// A window given to reduce() is never empty: 0 <= first < end, step >= 1.
struct Window {
  int first = 0;
  int end = 0;
  int step = 1;
  // Number of samples selected (of a window that is not empty).
  int count() const { return (end - first - 1) / step + 1; }
};

// float -> int, truncating toward zero; out-of-range values saturate and NaN
// gives 0.
inline int to_int_saturated(float v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483648.0f) return INT_MAX;
  if (v <= -2147483648.0f) return INT_MIN;
  return static_cast<int>(v);
}

// Converts the trigger's axis parameters (start, end in axis units; step in
// samples) into a window over `ndata` samples. Returns false when the
// window is empty or outside the spectrum. A step beyond the int range
// saturates, so it selects the first sample only, like any step at least as
// long as the window. With `position_only` only `first` is computed.
inline bool select_window(const float* fparam, float start, float inc, int ndata, bool position_only, Window& w) {
  const float from = (fparam[0] - start) / inc;
  int first = to_int_saturated(from);
  if (first < 0) first = 0;
  if (first >= ndata) return false;
  w.first = first;
  if (position_only) return true;

  int step = to_int_saturated(fparam[2]);
  if (step == 0) step = 1;
  if (step < 0) step = (step == INT_MIN) ? INT_MAX : -step;
  w.step = step;

  const float to = (fparam[1] - start) / inc;
  const int e = to_int_saturated(to);
  if (e >= 0) {
    if (e > ndata || e <= first) return false;
    w.end = e;
  } else {
    w.end = ndata;
  }
  return true;
}

}  // namespace trigger
}  // namespace qal3

#endif  // QAL3_TRIGGER_WINDOW_H
