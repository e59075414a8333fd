#include "host/ItemImport.h"

#include <gtest/gtest.h>

#include <string>

namespace dct {
namespace {

TEST(ItemImport, ReadsColumnsInAnyOrderAndFillsWhatIsLeftOut) {
  const std::string text =
      "\xEF\xBB\xBF"
      "price,name,barcode,useweight,quantity,unit\r\n"
      "12.3456,\"Молоко \"\"Луг\"\", 3,2%\",4600000000017,1,2.5,шт\r\n"
      "-1,\"две\r\nстроки\",\"46,01\",TRUE,,\r\n"
      ",,x,false,0.001,\n";
  const TItemsArray items = ParseItemsCSV(text);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].Barcode, "4600000000017");
  EXPECT_EQ(items[0].Name, "Молоко \"Луг\", 3,2%");
  EXPECT_EQ(items[0].UnitName, "шт");
  EXPECT_EQ(items[0].Price.Count, 123456);
  EXPECT_DOUBLE_EQ(items[0].Quantity, 2.5);
  EXPECT_TRUE(items[0].UseWeight);
  EXPECT_FALSE(items[0].UseSerialNum);  // left out
  EXPECT_EQ(items[0].AdditioanalData, "");
  EXPECT_EQ(items[1].Barcode, "46,01");
  EXPECT_EQ(items[1].Name, "две\r\nстроки");
  EXPECT_EQ(items[1].Price.Count, -10000);
  EXPECT_EQ(items[1].Quantity, 0);  // an empty cell
  EXPECT_TRUE(items[1].UseWeight);
  EXPECT_EQ(items[2].Price.Count, 0);
  EXPECT_DOUBLE_EQ(items[2].Quantity, 0.001);
  EXPECT_TRUE(ParseItemsCSV("barcode,name\n").empty());
}

TEST(ItemImport, FirstFaultIsNamedByLineAndColumn) {
  struct {
    const char* Name;
    std::string Text;
    int Line;
    std::string Field;
    std::string Message;
  } cases[] = {
      {"empty file", "", 1, "", "empty"},
      {"unknown column", "barcode,name,colour\n", 1, "colour", "unknown column"},
      {"column named twice", "barcode,name,price,price\n", 1, "price", "named twice"},
      {"required column missing", "barcode,price\n1,2\n", 1, "name", "required column name"},
      {"letter case matters", "Barcode,name\n", 1, "Barcode", "unknown column"},
      {"too few fields", "barcode,name,price\n1,a,2\n2,b\n", 3, "price", "2 fields, the header 3"},
      {"too many fields", "barcode,name\n1,a,2\n", 2, "field 3", "3 fields"},
      {"comma as decimal point", "barcode,name,price\n1,a,\"12,5\"\n", 2, "price", "not a decimal"},
      {"exponent", "barcode,name,quantity\n1,a,1e3\n", 2, "quantity", "not a decimal"},
      {"blanks around a number", "barcode,name,quantity\n1,a, 1\n", 2, "quantity", "not a decimal"},
      {"price beyond the currency", "barcode,name,price\n1,a,1000000000000000\n", 2, "price",
       "currency range"},
      {"quantity beyond the buffer", "barcode,name,quantity\n1,a,10000000000000000\n", 2, "quantity",
       "out of range"},
      {"bad boolean", "barcode,name,useserialnum\n1,a,yes\n", 2, "useserialnum", "not a boolean"},
      {"empty barcode", "barcode,name\n,a\n", 2, "barcode", "barcode is empty"},
      {"control character", "barcode,name\n1,a\x01z\n", 2, "name", "control character"},
      {"invalid UTF-8 after a multi-line field", "barcode,name\n\"1\n2\",ok\n3,\xFF\n", 4, "name", "UTF-8"},
      {"bad field starting on a later line", "name,barcode\n\"a\nb\",\"x\"y\n", 3, "barcode",
       "after the closing quote"},
      {"unterminated quote", "barcode,name\n1,a\n2,\"b\n3,c\n", 3, "name", "not terminated"},
  };
  for (const auto& c : cases) {
    try {
      ParseItemsCSV(c.Text);
      ADD_FAILURE() << c.Name << ": accepted";
    } catch (const EItemsFileError& e) {
      EXPECT_EQ(e.Line(), c.Line) << c.Name;
      EXPECT_EQ(e.Field(), c.Field) << c.Name;
      EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << c.Name << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace dct
