#include "values/uDateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

namespace dct {
namespace {

// The kind of error fn raises; nothing when it raises none.
template <typename F>
std::optional<EVariantError::TKind> KindRaised(F fn) {
  try {
    fn();
    return std::nullopt;
  } catch (const EVariantError& e) {
    return e.Kind();
  }
}

TEST(Dates, EncodeDecode) {
  struct {
    int y, m, d, hh, nn, ss, Ms;
    std::optional<double> Value;
  } cases[] = {
      {1899, 12, 30, 0, 0, 0, 0, 0},
      {1900, 1, 1, 0, 0, 0, 0, 2},
      {2015, 2, 10, 12, 0, 0, 0, 42045.5},
      {1899, 12, 29, 6, 0, 0, 0, -1.25},  // before the epoch the time counts forward
      {2000, 2, 29, 0, 0, 0, 0, 36585},
      {1, 1, 1, 0, 0, 0, 0, -693593},
      {9999, 12, 31, 0, 0, 0, 0, 2958465},
      {2015, 2, 10, 13, 5, 9, 250, std::nullopt},  // checked by the round trip only
  };
  for (const auto& c : cases) {
    TDateTime t = EncodeDateTime(c.y, c.m, c.d, c.hh, c.nn, c.ss, c.Ms);
    if (c.Value) {
      EXPECT_DOUBLE_EQ(t, *c.Value) << c.y << "-" << c.m << "-" << c.d;
    }
    int y, m, d, hh, nn, ss, ms;
    DecodeDateTime(t, y, m, d, hh, nn, ss, ms);
    EXPECT_EQ((std::vector<int>{y, m, d, hh, nn, ss, ms}),
              (std::vector<int>{c.y, c.m, c.d, c.hh, c.nn, c.ss, c.Ms}));
  }
  // Rounding to the millisecond carries into the next day.
  int y, m, d, hh, nn, ss, ms;
  DecodeDateTime(42045 + (86400000 - 0.4) / 86400000.0, y, m, d, hh, nn, ss, ms);
  EXPECT_EQ((std::vector<int>{y, m, d, hh, nn, ss, ms}), (std::vector<int>{2015, 2, 11, 0, 0, 0, 0}));
  EXPECT_EQ(KindRaised([&] { DecodeDateTime(1e300, y, m, d, hh, nn, ss, ms); }),
            EVariantError::TKind::Overflow);
  EXPECT_EQ(KindRaised([&] { DecodeDateTime(std::nan(""), y, m, d, hh, nn, ss, ms); }),
            EVariantError::TKind::Overflow);
  EXPECT_EQ(KindRaised([] { EncodeDateTime(2015, 2, 30); }), EVariantError::TKind::Overflow);
}

TEST(Dates, Validity) {
  EXPECT_TRUE(IsValidDate(2016, 2, 29));
  EXPECT_TRUE(IsValidDate(2000, 2, 29));
  EXPECT_FALSE(IsValidDate(1900, 2, 29));
  EXPECT_FALSE(IsValidDate(2015, 2, 30));
  EXPECT_FALSE(IsValidDate(2015, 4, 31));
  EXPECT_FALSE(IsValidDate(2015, 13, 1));
  EXPECT_FALSE(IsValidDate(0, 1, 1));
  EXPECT_FALSE(IsValidDate(10000, 1, 1));
}

TEST(Dates, ValueTextForm) {
  struct {
    const char* Text;
    std::optional<std::vector<int>> Fields;  // y, m, d, hh, nn, ss; nothing: refused
  } cases[] = {
      {"2015.02.10 10:30:15", std::vector<int>{2015, 2, 10, 10, 30, 15}},
      {" 2015.2.1 ", std::vector<int>{2015, 2, 1, 0, 0, 0}},
      {"2015.02.10\t7:05", std::vector<int>{2015, 2, 10, 7, 5, 0}},
      {"2016.02.29", std::vector<int>{2016, 2, 29, 0, 0, 0}},
      {"2015.02.29", std::nullopt},
      {"15.02.10", std::nullopt},
      {"2015-02-10", std::nullopt},
      {"2015.02.10 24:00", std::nullopt},
      {"2015.02.10 10", std::nullopt},
      {"2015.02.10 10:30:15 x", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    TDateTime t = -1;
    EXPECT_EQ(ParseDateText(c.Text, t), c.Fields.has_value()) << c.Text;
    if (!c.Fields) continue;
    int y, m, d, hh, nn, ss, ms;
    DecodeDateTime(t, y, m, d, hh, nn, ss, ms);
    EXPECT_EQ((std::vector<int>{y, m, d, hh, nn, ss}), *c.Fields) << c.Text;
  }
}

}  // namespace
}  // namespace dct
