// The float text of the writers: the usual printf form where it reads back
// exactly, else the shortest text that does, and in every case a text that
// the readers' conversion turns back into the very same float.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "float_text.h"

namespace {

using qal3::number::float_text;
using qal3::number::FloatForm;
using qal3::number::same_float;

float bits_to_float(std::uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

std::uint32_t float_bits(float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

float read_back(const std::string& text) { return std::strtof(text.c_str(), nullptr); }

}  // namespace

TEST(FloatText, OrdinaryValuesKeepTheUsualForm) {
  EXPECT_EQ("0.000000", float_text(0.0f));
  EXPECT_EQ("-0.000000", float_text(-0.0f));
  EXPECT_EQ("0.500000", float_text(0.5f));
  EXPECT_EQ("-1.250000", float_text(-1.25f));
  EXPECT_EQ("0.100000", float_text(0.1f));
  EXPECT_EQ("1234567.000000", float_text(1234567.0f));
  EXPECT_EQ("16777216.000000", float_text(16777216.0f));
  EXPECT_EQ("0.000000e+00", float_text(0.0f, FloatForm::scientific));
  EXPECT_EQ("1.500000e+00", float_text(1.5f, FloatForm::scientific));
  EXPECT_EQ("-2.500000e-01", float_text(-0.25f, FloatForm::scientific));
  EXPECT_EQ("1.000000e-07", float_text(1e-7f, FloatForm::scientific));
}

TEST(FloatText, ValuesTheUsualFormLosesGetTheShortestExactText) {
  EXPECT_EQ("1e-07", float_text(1e-7f));
  EXPECT_EQ("1.23e-07", float_text(0.000000123f));
  EXPECT_EQ("2.5e-07", float_text(2.5e-7f));
  EXPECT_EQ("1e-09", float_text(1e-9f));
  EXPECT_EQ("123.456787", float_text(123.456789f));  // six decimals already exact
  EXPECT_EQ("0.1234567", float_text(0.1234567f));
  EXPECT_EQ("1.0000001", float_text(std::nextafter(1.0f, 2.0f)));
  EXPECT_EQ("1.2345679", float_text(1.23456789f, FloatForm::scientific));
  EXPECT_EQ("1e-45", float_text(std::numeric_limits<float>::denorm_min()));
  EXPECT_EQ("-1.1754944e-38", float_text(-std::numeric_limits<float>::min()));
  // The largest float reads back from its six decimals.
  EXPECT_EQ(std::numeric_limits<float>::max(), read_back(float_text(std::numeric_limits<float>::max())));
}

// Infinities read back exactly; a NaN reads back as a NaN of its sign (no
// text carries a NaN's payload).
TEST(FloatText, InfinityAndNan) {
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ("inf", float_text(inf));
  EXPECT_EQ("-inf", float_text(-inf));
  EXPECT_EQ("inf", float_text(inf, FloatForm::scientific));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ("nan", float_text(nan));
  EXPECT_EQ("-nan", float_text(-nan));
  EXPECT_TRUE(std::isnan(read_back(float_text(-nan))));
  EXPECT_TRUE(std::signbit(read_back(float_text(-nan))));
  const float payload = bits_to_float(0x7fc01234u);
  EXPECT_EQ("nan", float_text(payload));
  EXPECT_TRUE(same_float(payload, nan));
  EXPECT_FALSE(same_float(payload, -nan));
  EXPECT_FALSE(same_float(0.0f, -0.0f));
  EXPECT_FALSE(same_float(nan, 0.0f));
}

// Every class of float, at random and at the edges of every binade, in both
// forms: the text reads back to the same bits through strtof and through
// strtod (double, then float), and never needs more than nine digits.
TEST(FloatText, EveryTextReadsBackToTheSameFloat) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<std::uint32_t> any;
  auto check = [](float v) {
    for (FloatForm form : {FloatForm::fixed, FloatForm::scientific}) {
      const std::string text = float_text(v, form);
      ASSERT_TRUE(same_float(v, read_back(text))) << text << " for bits " << std::hex << float_bits(v);
      ASSERT_TRUE(same_float(v, static_cast<float>(std::strtod(text.c_str(), nullptr)))) << text;
      ASSERT_LE(text.size(), 56u);
    }
  };
  for (int i = 0; i < 100000; ++i) check(bits_to_float(any(rng)));
  for (std::uint32_t exponent = 0; exponent < 255; ++exponent) {
    for (std::uint32_t mantissa : {0u, 1u, 2u, 0x400000u, 0x7ffffeu, 0x7fffffu}) {
      check(bits_to_float(exponent << 23 | mantissa));
      check(bits_to_float(0x80000000u | exponent << 23 | mantissa));
    }
  }
}
