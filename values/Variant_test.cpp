#include "values/Variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>

namespace dct {

void PrintTo(const Variant& v, std::ostream* os);  // uXMLEncoder_test.cpp

namespace {

using TKind = EVariantError::TKind;

Variant Str(const char* s) { return Variant::FromString(s); }
Variant Dbl(double d) { return Variant::FromDouble(d); }
Variant Cur(int64_t count) { return Variant::FromCurrency(Currency{count}); }

// Runs fn and gives the error kind it raised, or nothing.
template <typename F>
std::optional<TKind> ErrorOf(F fn) {
  try {
    fn();
  } catch (const EVariantError& e) {
    return e.Kind();
  }
  return std::nullopt;
}

// One row of a conversion table: either a result or the error that must be raised.
template <typename T>
struct TCase {
  const char* Name;
  Variant Value;
  std::optional<T> Expected;
  std::optional<TKind> Error = std::nullopt;
};

template <typename T, typename Convert>
void CheckTable(const std::vector<TCase<T>>& cases, Convert convert) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.Error) {
      EXPECT_EQ(ErrorOf([&] { convert(c.Value); }), c.Error);
    } else {
      EXPECT_EQ(convert(c.Value), *c.Expected);
    }
  }
}

Variant SmallArray() { return Variant::ArrayOf({Dbl(1)}); }

TEST(VariantConversion, ToInteger) {
  CheckTable<int32_t>(
      {
          {"2.5 to even", Dbl(2.5), 2},
          {"3.5 to even", Dbl(3.5), 4},
          {"-2.5 to even", Dbl(-2.5), -2},
          {"-3.5 to even", Dbl(-3.5), -4},
          {"2.6 nearest", Dbl(2.6), 3},
          {"single 2.5", Variant::FromSingle(2.5f), 2},
          {"top of range", Dbl(2147483647.0), 2147483647},
          {"bottom half to even", Dbl(-2147483648.5), -2147483648},
          {"rounds past top", Dbl(2147483647.5), std::nullopt, TKind::Overflow},
          {"3e9", Dbl(3000000000.0), std::nullopt, TKind::Overflow},
          {"NaN", Dbl(std::nan("")), std::nullopt, TKind::Overflow},
          {"Empty", Variant(), 0},
          {"Null", Variant::MakeNull(), std::nullopt, TKind::TypeMismatch},
          {"true", Variant::FromBoolean(true), -1},
          {"false", Variant::FromBoolean(false), 0},
          {"byte", Variant::FromByte(200), 200},
          {"smallint", Variant::FromSmallint(-5), -5},
          {"currency 2.5", Cur(25000), 2},
          {"currency 3.5", Cur(35000), 4},
          {"currency -2.5", Cur(-25000), -2},
          {"currency -2.5001", Cur(-25001), -3},
          {"date", Variant::FromDate(42045.75), 42046},
          {"text number", Str(" 7.5 "), 8},
          {"text exponent", Str("1e3"), 1000},
          {"text True", Str("True"), 1},
          {"text fALSE", Str("fALSE"), 0},
          {"text too big", Str("1e10"), std::nullopt, TKind::Overflow},
          {"text yes", Str("yes"), std::nullopt, TKind::TypeMismatch},
          {"text comma", Str("1,5"), std::nullopt, TKind::TypeMismatch},
          {"empty text", Str(""), std::nullopt, TKind::TypeMismatch},
          {"array", SmallArray(), std::nullopt, TKind::TypeMismatch},
      },
      [](const Variant& v) { return v.ToInteger(); });
}

TEST(VariantConversion, ToDouble) {
  CheckTable<double>(
      {
          {"Empty", Variant(), 0.0},
          {"true", Variant::FromBoolean(true), -1.0},
          {"currency", Cur(1234500), 123.45},
          {"date", Variant::FromDate(42045.5), 42045.5},
          {"integer", Variant::FromInteger(-7), -7.0},
          {"text", Str("-2.5"), -2.5},
          {"text exponent", Str("1E+3"), 1000.0},
          {"text true is not a number", Str("true"), std::nullopt, TKind::TypeMismatch},
          {"text huge", Str("1e999"), std::nullopt, TKind::Overflow},
          {"Null", Variant::MakeNull(), std::nullopt, TKind::TypeMismatch},
          {"array", SmallArray(), std::nullopt, TKind::TypeMismatch},
      },
      [](const Variant& v) { return v.ToDouble(); });
}

TEST(VariantConversion, ToCurrency) {
  CheckTable<Currency>(
      {
          {"Empty", Variant(), Currency{0}},
          {"double", Dbl(123.45), Currency{1234500}},
          {"double rounds to 4 places", Dbl(1.23456), Currency{12346}},
          {"true", Variant::FromBoolean(true), Currency{-10000}},
          {"byte", Variant::FromByte(3), Currency{30000}},
          {"date", Variant::FromDate(2.5), Currency{25000}},
          {"text", Str("12.5"), Currency{125000}},
          {"largest", Dbl(9.2e14), Currency{9200000000000000000}},
          {"1e15 too big", Dbl(1e15), std::nullopt, TKind::Overflow},
          {"text abc", Str("abc"), std::nullopt, TKind::TypeMismatch},
          {"Null", Variant::MakeNull(), std::nullopt, TKind::TypeMismatch},
      },
      [](const Variant& v) { return v.ToCurrency(); });
}

TEST(VariantConversion, ToBoolean) {
  CheckTable<bool>(
      {
          {"1", Dbl(1), true},
          {"-1", Dbl(-1), true},
          {"0.5", Dbl(0.5), true},
          {"0", Dbl(0), false},
          {"Empty", Variant(), false},
          {"currency 0", Cur(0), false},
          {"currency", Cur(1), true},
          {"text true", Str("true"), true},
          {"text TRUE", Str("TRUE"), true},
          {"text False", Str("False"), false},
          {"text 0", Str("0"), false},
          {"text 2.5", Str("2.5"), true},
          {"text yes", Str("yes"), std::nullopt, TKind::TypeMismatch},
          {"empty text", Str(""), std::nullopt, TKind::TypeMismatch},
          {"Null", Variant::MakeNull(), std::nullopt, TKind::TypeMismatch},
          {"array", SmallArray(), std::nullopt, TKind::TypeMismatch},
      },
      [](const Variant& v) { return v.ToBoolean(); });
}

TEST(VariantConversion, ToText) {
  CheckTable<std::string>(
      {
          {"Empty", Variant(), ""},
          {"true", Variant::FromBoolean(true), "True"},
          {"false", Variant::FromBoolean(false), "False"},
          {"double", Dbl(2.5), "2.5"},
          {"single by its double value", Variant::FromSingle(0.5f), "0.5"},
          {"byte", Variant::FromByte(7), "7"},
          {"currency", Cur(1234500), "123.45"},
          {"currency smallest negative step", Cur(-1), "-0.0001"},
          {"currency whole", Cur(-70000), "-7"},
          {"currency extreme", Cur(std::numeric_limits<int64_t>::min()), "-922337203685477.5808"},
          {"date", Variant::FromDate(EncodeDateTime(2015, 2, 10, 13, 5, 9)), "2015-02-10 13:05:09"},
          {"text", Str("abc"), "abc"},
          {"Null", Variant::MakeNull(), std::nullopt, TKind::TypeMismatch},
          {"array", SmallArray(), std::nullopt, TKind::TypeMismatch},
      },
      [](const Variant& v) { return v.ToText(); });

  EXPECT_EQ(Variant::MakeNull().ToTextOrEmpty(), "");
  EXPECT_EQ(Dbl(-12.5).ToTextOrEmpty(), "-12.5");
  EXPECT_EQ(ErrorOf([] { SmallArray().ToTextOrEmpty(); }), TKind::TypeMismatch);
}

TEST(VariantArray, Shapes) {
  Variant empty = Variant::CreateArray({{0, -1}});
  EXPECT_EQ(empty.VarType(), varArray + varVariant);
  EXPECT_EQ(empty.DimCount(), 1);
  EXPECT_EQ(empty.LowBound(1), 0);
  EXPECT_EQ(empty.HighBound(1), -1);
  EXPECT_EQ(empty.Length(1), 0);

  Variant noRows = Variant::CreateArray({{0, -1}, {0, 2}});
  EXPECT_EQ(noRows.DimCount(), 2);
  EXPECT_EQ(noRows.Length(1), 0);
  EXPECT_EQ(noRows.Length(2), 3);

  Variant table = Variant::CreateArray({{0, 1}, {0, 2}});
  EXPECT_TRUE(table.At(1, 2).IsEmpty());
  EXPECT_EQ(Variant().DimCount(), 0);

  EXPECT_EQ(ErrorOf([] { Variant::CreateArray({{0, -2}}); }), TKind::BadIndex);
  EXPECT_EQ(ErrorOf([] { Variant::CreateArray({{0, 1}, {5, 3}}); }), TKind::BadIndex);
  EXPECT_EQ(ErrorOf([] { Variant::CreateArray({{0, 1}, {0, 1}, {0, 1}}); }), TKind::BadIndex);
  EXPECT_EQ(ErrorOf([] { Variant::CreateArray({{INT32_MIN, INT32_MAX}}); }), TKind::BadIndex);
}

TEST(VariantArray, TableOfTakesCellsRowByRow) {
  Variant table = Variant::TableOf({Str("a"), Str("b"), Str("c"), Str("d"), Str("e"), Str("f")}, 3);
  EXPECT_EQ(table.DimCount(), 2);
  EXPECT_EQ(table.Length(1), 2);
  EXPECT_EQ(table.Length(2), 3);
  EXPECT_EQ(table.At(0, 2).StringValue(), "c");
  EXPECT_EQ(table.At(1, 0).StringValue(), "d");
  Variant same = Variant::CreateArray({{0, 1}, {0, 2}});
  const char* cells[] = {"a", "b", "c", "d", "e", "f"};
  for (int k = 0; k < 6; ++k) same.Put(k / 3, k % 3, Str(cells[k]));
  EXPECT_EQ(table, same);  // indistinguishable from a table filled cell by cell
  Variant noRows = Variant::TableOf({}, 11);
  EXPECT_EQ(noRows.Length(1), 0);
  EXPECT_EQ(noRows.Length(2), 11);

  EXPECT_EQ(ErrorOf([] { Variant::TableOf({Dbl(1), Dbl(2), Dbl(3)}, 2); }), TKind::BadIndex);
  EXPECT_EQ(ErrorOf([] { Variant::TableOf({Dbl(1)}, 0); }), TKind::BadIndex);
}

TEST(VariantArray, IndexRules) {
  Variant one = Variant::CreateArray({{1, 3}});  // low bound 1: indices 1..3
  one.Put(1, Dbl(10));
  one.Put(3, Dbl(30));
  EXPECT_EQ(one.At(1), Dbl(10));
  EXPECT_EQ(one.At(3), Dbl(30));
  Variant table = Variant::CreateArray({{0, 1}, {0, 2}});
  table.Put(1, 0, Str("x"));
  EXPECT_EQ(table.At(1, 0).StringValue(), "x");
  EXPECT_TRUE(table.At(0, 1).IsEmpty());  // row-major: (1, 0) is not (0, 1)

  const Variant scalar = Dbl(1);
  struct {
    const char* Name;
    std::function<void()> access;
  } bad[] = {
      {"below low bound", [&] { one.At(0); }},
      {"above high bound", [&] { one.At(4); }},
      {"two indices on one dimension", [&] { one.At(1, 1); }},
      {"one index on two dimensions", [&] { table.At(0); }},
      {"column out of bounds", [&] { table.At(0, 3); }},
      {"row out of bounds", [&] { table.Put(2, 0, Dbl(1)); }},
      {"scalar", [&] { scalar.At(0); }},
      {"bound of a scalar", [&] { scalar.LowBound(1); }},
      {"dimension 2 of a vector", [&] { one.HighBound(2); }},
  };
  for (const auto& c : bad) EXPECT_EQ(ErrorOf(c.access), TKind::BadIndex) << c.Name;
}

TEST(VariantArray, CopyIsDeepAndMoveEmpties) {
  Variant inner = Variant::ArrayOf({Str("row"), Dbl(1)});
  Variant table = Variant::CreateArray({{0, 1}, {0, 1}});
  table.Put(0, 0, Str("a"));
  table.Put(1, 1, inner);
  Variant copy = table;
  EXPECT_EQ(copy, table);
  copy.Put(0, 0, Str("changed"));
  copy.Ref(1, 1).Put(0, Str("changed too"));
  EXPECT_EQ(table.At(0, 0).StringValue(), "a");
  EXPECT_EQ(table.At(1, 1).At(0).StringValue(), "row");
  EXPECT_FALSE(copy == table);

  Variant assigned;
  assigned = table;
  EXPECT_EQ(assigned, table);

  Variant moved = std::move(copy);
  EXPECT_TRUE(copy.IsEmpty());  // NOLINT: moved-from state is part of the contract
  EXPECT_EQ(moved.At(0, 0).StringValue(), "changed");

  moved.Clear();
  EXPECT_TRUE(moved.IsEmpty());
  EXPECT_FALSE(moved.IsArray());
}

TEST(VariantArray, TextStoredAndTextOnlyArrays) {
  Variant table = Variant::CreateArray({{0, 0}, {0, 0}});
  table.Put(0, 0, Str("Молоко"));
  EXPECT_EQ(table.At(0, 0).VarType(), varOleStr);
  EXPECT_EQ(table.At(0, 0).StringValue(), "Молоко");

  Variant names = Variant::CreateArray({{0, 1}}, varOleStr);
  EXPECT_EQ(names.VarType(), varArray + varOleStr);
  EXPECT_EQ(names.At(0).VarType(), varOleStr);
  EXPECT_EQ(names.At(0).StringValue(), "");
  names.Put(1, Dbl(2.5));  // stored as its text
  EXPECT_EQ(names.At(1).VarType(), varOleStr);
  EXPECT_EQ(names.At(1).StringValue(), "2.5");
  EXPECT_FALSE(names == Variant::ArrayOf({Str(""), Str("2.5")}));  // element kinds differ

  Variant list = Variant::ArrayOf({Dbl(1), Str("b")});
  EXPECT_EQ(list.LowBound(1), 0);
  EXPECT_EQ(list.HighBound(1), 1);
  EXPECT_EQ(list.At(1).StringValue(), "b");
}

TEST(Variant, EqualityComparesKindAndValue) {
  EXPECT_EQ(Str(""), Variant::FromString(std::string()));
  EXPECT_FALSE(Dbl(1) == Variant::FromInteger(1));
  EXPECT_FALSE(Variant() == Variant::MakeNull());
  EXPECT_FALSE(Variant::CreateArray({{0, 1}}) == Variant::CreateArray({{1, 2}}));
  EXPECT_FALSE(Variant::CreateArray({{0, 1}, {0, 0}}) == Variant::CreateArray({{0, 1}}));
}

// Text up to 13 bytes is held in the Variant itself, longer text on the heap: both sides of
// the boundary, multi-byte and NUL bytes included, through copies, moves and assignments.
TEST(Variant, TextKeptInPlaceOrOnTheHeap) {
  const std::string texts[] = {"",
                               "a",
                               "4601234567893",   // 13 bytes: the longest kept in place
                               "46012345678934",  // 14 bytes: the shortest on the heap
                               "шт",
                               "Молоко",    // 12 bytes
                               "Молоко!!",  // 14 bytes
                               std::string("a\0b", 3),
                               std::string(13, '\0'),
                               std::string(1000, 'x')};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.size());
    Variant v = Variant::FromString(text);
    EXPECT_EQ(v.VarType(), varOleStr);
    EXPECT_EQ(v.StringValue(), text);
    EXPECT_EQ(v.ToText(), text);

    Variant copy = v;
    EXPECT_EQ(copy, v);
    Variant moved = std::move(copy);
    EXPECT_TRUE(copy.IsEmpty());  // NOLINT: moved-from state is part of the contract
    EXPECT_EQ(moved.StringValue(), text);
    for (const std::string& other : texts) {  // over every other size, and back
      moved = Variant::FromString(other);
      EXPECT_EQ(moved.StringValue(), other);
      EXPECT_EQ(moved == v, other == text);
      moved = v;
    }
    EXPECT_EQ(moved.StringValue(), text);
    EXPECT_EQ(v.StringValue(), text);  // the source of every copy is unchanged
  }
}

TEST(Variant, StaysSmall) {
  // A catalogue table holds a million cells; the layout is chosen for it.
  EXPECT_LE(sizeof(Variant), 16u);
}

}  // namespace
}  // namespace dct
