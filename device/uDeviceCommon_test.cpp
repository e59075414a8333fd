#include "device/uDeviceCommon.h"

#include <gtest/gtest.h>

#include <tuple>

#include "values/uXMLEncoder.h"

namespace dct {
namespace {

Variant S(const std::string& s) { return Variant::FromString(s); }
Variant D(double d) { return Variant::FromDouble(d); }

// An item table of `rows` rows and `cols` positions, row r filled from `row`.
Variant ItemTable(const std::vector<std::vector<Variant>>& rows, int cols) {
  Variant t = Variant::CreateArray({{0, static_cast<int>(rows.size()) - 1}, {0, cols - 1}});
  for (int r = 0; r < static_cast<int>(rows.size()); ++r)
    for (int c = 0; c < cols && c < static_cast<int>(rows[r].size()); ++c) t.Put(r, c, rows[r][c]);
  return t;
}

std::vector<Variant> FullRow(const std::string& barcode) {
  return {S(barcode), S("Молоко"), S("шт"), S("доп"),  S("A1"),  S("высший"),
          D(12.3456), D(2.5),      D(1),    S("True"), Variant()};
}

TEST(VariantToItemsArray, ReadsEveryPositionWithItsConversion) {
  std::vector<Variant> row = FullRow("4600000000017");
  row.push_back(S("ignored"));  // positions beyond 10 are ignored
  TItemsArray items = VariantToItemsArray(ItemTable({row}, 12));
  ASSERT_EQ(items.size(), 1u);
  const TItemRec& it = items[0];
  EXPECT_EQ(it.Barcode, "4600000000017");
  EXPECT_EQ(it.Name, "Молоко");
  EXPECT_EQ(it.UnitName, "шт");
  EXPECT_EQ(it.AdditioanalData, "доп");
  EXPECT_EQ(it.Series, "A1");
  EXPECT_EQ(it.Quality, "высший");
  EXPECT_EQ(it.Price.Count, 123456);  // the record keeps four decimals; the buffer cuts later
  EXPECT_DOUBLE_EQ(it.Quantity, 2.5);
  EXPECT_TRUE(it.UseSerialNum);    // the number 1
  EXPECT_TRUE(it.UseWeight);       // the text "True"
  EXPECT_FALSE(it.UseFractValue);  // an empty value
}

TEST(VariantToItemsArray, RejectsMalformedTables) {
  std::vector<Variant> ten = FullRow("1");
  ten.pop_back();
  std::vector<Variant> badPrice = FullRow("1");
  badPrice[6] = S("дорого");
  const Variant cases[] = {
      ItemTable({ten}, 10),                // rows of only 10 positions
      ItemTable({badPrice}, 11),           // a price that is no number
      Variant::ArrayOf({S("1"), S("2")}),  // one-dimensional with elements
      S("not a table"),
  };
  for (const Variant& v : cases) EXPECT_THROW(VariantToItemsArray(v), EVariantError);
}

TEST(VariantToItemsArray, EmptyFirstDimensionIsAnEmptyList) {
  EXPECT_TRUE(VariantToItemsArray(Variant::CreateArray({{0, -1}, {0, 10}})).empty());
  EXPECT_TRUE(VariantToItemsArray(Variant::CreateArray({{0, -1}})).empty());
}

TEST(ItemsToVariant, TravelsThroughTheValueTextAndReadsBackWhole) {
  TItemRec a{"4600000000017",
             "Молоко, \"3,2%\"",
             "шт",
             "доп\nстрока",
             "A1",
             "высший",
             Currency{123456},
             2.5,
             true,
             false,
             true};
  TItemRec b;
  b.Barcode = "2";
  const TItemsArray items{a, b};
  TXMLEncoder encoder;
  const Variant decoded = encoder.Decode(encoder.Encode(Variant::ArrayOf({ItemsToVariant(items)})));
  const TItemsArray back = VariantToItemsArray(decoded.At(0));
  ASSERT_EQ(back.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const TItemRec& x = items[i];
    const TItemRec& y = back[i];
    EXPECT_EQ(std::tie(x.Barcode, x.Name, x.UnitName, x.AdditioanalData, x.Series, x.Quality, x.Price,
                       x.Quantity, x.UseSerialNum, x.UseWeight, x.UseFractValue),
              std::tie(y.Barcode, y.Name, y.UnitName, y.AdditioanalData, y.Series, y.Quality, y.Price,
                       y.Quantity, y.UseSerialNum, y.UseWeight, y.UseFractValue));
  }
  EXPECT_EQ(ItemsToVariant({}).Length(1), 0);
}

TEST(VariantToStringArray, AcceptsOnlyOneDimensionalLists) {
  EXPECT_EQ(VariantToStringArray(Variant::ArrayOf({S("A"), D(7)})), (TStringArray{"A", "7"}));
  EXPECT_TRUE(VariantToStringArray(Variant::CreateArray({{0, -1}})).empty());
  EXPECT_TRUE(VariantToStringArray(Variant::CreateArray({{0, -1}, {0, 2}})).empty());
  EXPECT_THROW(VariantToStringArray(S("A")), EVariantError);  // a single string is not a list
  EXPECT_THROW(VariantToStringArray(Variant::CreateArray({{0, 0}, {0, 0}})), EVariantError);
}

TEST(DocumentToVariant, KeepsLayoutAndEmptyRowTableShape) {
  TDocument doc{"D1", 44, 1, "описание", {}};
  Variant v = DocumentToVariant(doc);
  ASSERT_EQ(v.Length(1), 5);
  EXPECT_EQ(v.At(0).StringValue(), "D1");
  EXPECT_EQ(v.At(1).VarType(), varByte);
  EXPECT_EQ(v.At(1).IntegerValue(), 44);
  EXPECT_EQ(v.At(2).IntegerValue(), 1);
  EXPECT_EQ(v.At(3).StringValue(), "описание");
  const Variant& rows = v.At(4);
  ASSERT_EQ(rows.DimCount(), 2);
  EXPECT_EQ(rows.Length(1), 0);
  EXPECT_EQ(rows.Length(2), 3);

  doc.Rows = {{"X", 2.5, ""}, {"Y", 1, "S1"}};
  Variant full = DocumentToVariant(doc);
  EXPECT_EQ(full.At(4).At(1, 0).StringValue(), "Y");
  EXPECT_DOUBLE_EQ(full.At(4).At(0, 1).DoubleValue(), 2.5);
  EXPECT_EQ(full.At(4).At(1, 2).StringValue(), "S1");
}

TEST(DocumentsToVariant, EmptyListKeepsFivePositions) {
  Variant t = DocumentsToVariant({});
  EXPECT_EQ(t.DimCount(), 2);
  EXPECT_EQ(t.Length(1), 0);
  EXPECT_EQ(t.Length(2), 5);
  Variant one = DocumentsToVariant({TDocument{"A", 3, 0, "d", {{"X", 1, ""}}}});
  EXPECT_EQ(one.At(0, 0).StringValue(), "A");
  EXPECT_EQ(one.At(0, 4).Length(1), 1);
}

}  // namespace
}  // namespace dct
