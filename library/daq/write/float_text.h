// The text every writer puts out for a float: the usual printf form ("%f",
// or "%e" where a format writes that) whenever the readers read it back as
// the very same float, so that ordinary documents keep their usual look;
// otherwise the shortest "%g" text that reads back exactly ("1e-07" rather
// than "0.000000"). Read back means through qal3::number::to_float, the
// readers' own conversion, which gives what strtof gives.
//
// Infinities are written "inf" / "-inf" and read back exactly. A NaN is
// written "nan" / "-nan": it reads back as a NaN of the same sign, but its
// payload is not kept. Not installed.
#ifndef QAL3_FLOAT_TEXT_H
#define QAL3_FLOAT_TEXT_H

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "number_text.h"

namespace qal3 {
namespace number {

// The printf form a format uses for its floats when it reads back exactly.
enum class FloatForm { fixed, scientific };  // "%f", "%e"

// True when `a` and `b` are the same float: the same bits, or both NaN of
// the same sign (the payload of a NaN is not carried by any text).
inline bool same_float(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// True when the whole of `text` reads back as `v`.
inline bool reads_back(const char* text, float v) {
  char* end = nullptr;
  const float back = to_float(text, &end);
  return end != text && *end == '\0' && same_float(back, v);
}

// The shortest "%g" text that reads back as `v` (nine significant digits
// always identify a float).
inline std::string shortest_text(float v) {
  char buf[32];
  for (int digits = 1; digits <= 9; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(v));
    if (reads_back(buf, v)) break;
  }
  return buf;
}

inline std::string float_text(float v, FloatForm form = FloatForm::fixed) {
  // "%f" of the largest float takes 46 characters.
  char buf[64];
  const double d = static_cast<double>(v);
  if (form == FloatForm::fixed)
    std::snprintf(buf, sizeof buf, "%f", d);
  else
    std::snprintf(buf, sizeof buf, "%e", d);
  return reads_back(buf, v) ? buf : shortest_text(v);
}

}  // namespace number
}  // namespace qal3

#endif  // QAL3_FLOAT_TEXT_H
