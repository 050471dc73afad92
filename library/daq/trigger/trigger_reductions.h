// Reductions of a window of spectrum samples: the arithmetic behind the
// built-in trigger functions (MIN, MAX, MEAN, RMS, STD, SUM, VALUE, P2P).
// Internal to libQAL3USERTRIG.
#ifndef QAL3_TRIGGER_REDUCTIONS_H
#define QAL3_TRIGGER_REDUCTIONS_H

#include "trigger_window.h"

namespace qal3 {
namespace trigger {

enum class Reduction { min, max, mean, rms, std, sum, value, p2p };

// The reduction `r` of the selected samples of `samples`, exactly as the
// evaluation defines it sample by sample: sums accumulate in double
// precision in sample order; RMS squares each sample in single precision; STD takes the mean
// first; MIN and MAX keep the first sample not passed by a later one (a
// NaN first sample is kept); P2P is |max - min|. Vectorised paths, chosen
// at run time, give bit-identical results. `samples` must hold `w.end`
// floats.
float reduce(const float* samples, const Window& w, Reduction r);

}  // namespace trigger
}  // namespace qal3

#endif
