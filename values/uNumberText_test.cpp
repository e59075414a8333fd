#include "values/uNumberText.h"

#include <gtest/gtest.h>

#include <limits>

namespace dct {
namespace {

TEST(GeneralNumberFormat, Examples) {
  struct {
    double Value;
    const char* Text;
  } cases[] = {
      {0, "0"},
      {-0.0, "0"},
      {0.0001, "0.0001"},
      {0.00001, "1E-5"},
      {1.5e-7, "1.5E-7"},
      {0.000123456, "0.000123456"},
      {1e14, "100000000000000"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E15"},
      {999999999999999.9, "1E15"},  // rounding to 15 digits carries into the exponent
      {1234567890123456789.0, "1.23456789012346E18"},
      {0.1, "0.1"},
      {0.1 + 0.2, "0.3"},
      {1.0 / 3, "0.333333333333333"},
      {-12.5, "-12.5"},
      {12345678.9, "12345678.9"},
      {1e100, "1E100"},
      {-2.5e-100, "-2.5E-100"},
      // The largest doubles would round to 1.79769313486232E308, which is out of range.
      {std::numeric_limits<double>::max(), "1.79769313486231E308"},
      {-1.797693134862315E308, "-1.79769313486231E308"},
      {1.7976931348623149E308, "1.79769313486231E308"},
      {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"},
  };
  for (const auto& c : cases) {
    const std::string text = FormatGeneralNumber(c.Value);
    EXPECT_EQ(text, c.Text) << c.Value;
    double back = 0;
    EXPECT_EQ(ParseNumberText(text, back), TNumberTextResult::Ok) << text;  // it reads back
  }
}

TEST(NumberText, Grammar) {
  struct {
    const char* Text;
    TNumberTextResult Result;
    double Value;
  } cases[] = {
      {" 2.5 ", TNumberTextResult::Ok, 2.5},
      {"+1", TNumberTextResult::Ok, 1},
      {"-0.5e1", TNumberTextResult::Ok, -5},
      {"1E-2", TNumberTextResult::Ok, 0.01},
      {".5", TNumberTextResult::Ok, 0.5},
      {"5.", TNumberTextResult::Ok, 5},
      {"007", TNumberTextResult::Ok, 7},
      {"1e-400", TNumberTextResult::Ok, 0},
      {"0e999999999999", TNumberTextResult::Ok, 0},
      {"1e400", TNumberTextResult::OutOfRange, 0},
      {"", TNumberTextResult::Malformed, 0},
      {"-", TNumberTextResult::Malformed, 0},
      {".", TNumberTextResult::Malformed, 0},
      {"1,5", TNumberTextResult::Malformed, 0},
      {"1e", TNumberTextResult::Malformed, 0},
      {"e5", TNumberTextResult::Malformed, 0},
      {"1 2", TNumberTextResult::Malformed, 0},
      {"0x10", TNumberTextResult::Malformed, 0},
      {"inf", TNumberTextResult::Malformed, 0},
      {"nan", TNumberTextResult::Malformed, 0},
  };
  for (const auto& c : cases) {
    double v = -99;
    EXPECT_EQ(ParseNumberText(c.Text, v), c.Result) << c.Text;
    if (c.Result == TNumberTextResult::Ok) {
      EXPECT_EQ(v, c.Value) << c.Text;
    }
  }
}

}  // namespace
}  // namespace dct
