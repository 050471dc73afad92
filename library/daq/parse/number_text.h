// Number conversion for the readers: drop-in replacements of strtol,
// strtoul and strtof that give exactly their results (value, end pointer,
// errno) and take a short path for the plain numbers that the documents
// hold. Anything else goes to the C library function itself. Not installed.
#ifndef QAL3_NUMBER_TEXT_H
#define QAL3_NUMBER_TEXT_H

#include <langinfo.h>

#include <cfloat>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace qal3 {
namespace number {

namespace detail {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Value of a hexadecimal digit, or -1.
inline int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace detail

// True when the calling thread's locale has "." as its decimal point, as
// strtof reads it. A reader asks once per call and passes the answer to
// to_float: the locale does not change while a reader runs.
inline bool dot_is_radix() {
  const char* radix = nl_langinfo(RADIXCHAR);
  return radix && radix[0] == '.' && radix[1] == '\0';
}

// `v` clamped to the int range, so that 64-bit and 32-bit hosts read the
// same number.
inline int clamp_to_int(long long v) {
  using limits = std::numeric_limits<int>;
  if (v > limits::max()) return limits::max();
  if (v < limits::min()) return limits::min();
  return static_cast<int>(v);
}

// std::strtol(text, end, 10). The short path: an optional sign right at the
// start and at most as many digits as can never overflow.
inline long to_long(const char* text, char** end) {
  const char* p = text;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (!detail::is_digit(*p)) return std::strtol(text, end, 10);
  constexpr int kSafeDigits = std::numeric_limits<long>::digits10;
  unsigned long v = 0;
  int n = 0;
  for (; detail::is_digit(*p); ++p) {
    if (++n > kSafeDigits) return std::strtol(text, end, 10);
    v = v * 10 + static_cast<unsigned long>(*p - '0');
  }
  if (end) *end = const_cast<char*>(p);
  const long magnitude = static_cast<long>(v);
  return negative ? -magnitude : magnitude;
}

// std::strtoul(text, end, base) for base 10 or 16. The short path: a digit
// right at the start (for base 16 not the "0x" prefix) and at most as many
// digits as can never overflow.
inline unsigned long to_ulong(const char* text, char** end, int base) {
  const char* p = text;
  unsigned long v = 0;
  int n = 0;
  if (base == 10) {
    if (!detail::is_digit(*p)) return std::strtoul(text, end, base);
    constexpr int kSafeDigits = std::numeric_limits<unsigned long>::digits10;
    for (; detail::is_digit(*p); ++p) {
      if (++n > kSafeDigits) return std::strtoul(text, end, base);
      v = v * 10 + static_cast<unsigned long>(*p - '0');
    }
  } else if (base == 16) {
    if (detail::hex_value(*p) < 0 || (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')))
      return std::strtoul(text, end, base);
    constexpr int kSafeDigits = std::numeric_limits<unsigned long>::digits / 4;
    for (int d; (d = detail::hex_value(*p)) >= 0; ++p) {
      if (++n > kSafeDigits) return std::strtoul(text, end, base);
      v = v * 16 + static_cast<unsigned long>(d);
    }
  } else {
    return std::strtoul(text, end, base);
  }
  if (end) *end = const_cast<char*>(p);
  return v;
}

// std::strtof(text, end). The short path: an optional sign right at the
// start, then digits with an optional decimal point, at most 9 significant
// digits making at most 2^24 and at most 10 after the point, and no
// exponent or hexadecimal form following. Such a number is m / 10^k with m
// and 10^k both exact floats, so one float division rounds it exactly as
// strtof does (in every rounding mode, the sign being part of m).
// `dot_radix` is dot_is_radix() of the calling thread.
inline float to_float(const char* text, char** end, bool dot_radix) {
#if FLT_EVAL_METHOD == 0
  static constexpr float kPow10[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
  // With another decimal point ("," say) strtof reads "1,5" as 1.5.
  if (!dot_radix) return std::strtof(text, end);
  const char* p = text;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  std::uint32_t m = 0;
  int significant = 0;
  int fraction = 0;
  bool digits = false;
  for (; detail::is_digit(*p); ++p) {
    digits = true;
    if (m == 0 && *p == '0') continue;
    if (++significant > 9) return std::strtof(text, end);
    m = m * 10 + static_cast<std::uint32_t>(*p - '0');
  }
  if (*p == '.') {
    for (++p; detail::is_digit(*p); ++p) {
      digits = true;
      if (++fraction > 10) return std::strtof(text, end);
      if (m == 0 && *p == '0') continue;
      if (++significant > 9) return std::strtof(text, end);
      m = m * 10 + static_cast<std::uint32_t>(*p - '0');
    }
  }
  const char next = *p;
  if (!digits || m > (1u << 24) || next == 'e' || next == 'E' || next == 'x' || next == 'X' || next == 'p' ||
      next == 'P')
    return std::strtof(text, end);
  if (end) *end = const_cast<char*>(p);
  const float signed_m = negative ? -static_cast<float>(m) : static_cast<float>(m);
  return signed_m / kPow10[fraction];
#else
  (void)dot_radix;
  return std::strtof(text, end);
#endif
}

// to_float for one number: asks the locale itself.
inline float to_float(const char* text, char** end) { return to_float(text, end, dot_is_radix()); }

}  // namespace number
}  // namespace qal3

#endif  // QAL3_NUMBER_TEXT_H
