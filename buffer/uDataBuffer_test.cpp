#include "buffer/uDataBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <thread>
#include <tuple>

#include "buffer/DataBufferFixture.h"
#include "buffer/SQLiteFaults.h"
#include "buffer/SQLiteTable3.h"
#include "support/TestSupport.h"
#include "support/uCommonUtils.h"

namespace dct {
namespace {

namespace fs = std::filesystem;
using testing::NativePath;

using testing::Doc;
using testing::Item;
using testing::RowsText;
using testing::TTempDir;
using DataBufferTest = testing::TDataBufferFixture;

// "B<i>", appended: "B" + a temporary trips GCC 12's -Wrestrict at -O3.
std::string NumberedBarcode(int i) {
  std::string barcode = "B";
  barcode += std::to_string(i);
  return barcode;
}

// ---- store and schema ----

TEST_F(DataBufferTest, ReEnablingKeepsTheDataAndTheIdentifierNamesTheFile) {
  ASSERT_EQ(FBuffer->SaveItems({Item("A")}), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("D", 1, {{"X", 1, ""}})), 0);
  ASSERT_EQ(FBuffer->Enable(), 0);
  EXPECT_EQ(ItemNames(), "A=n");
  EXPECT_EQ(DocText("D"), "d [X:1]");

  FBuffer->SetDBID("7");
  ASSERT_EQ(FBuffer->Enable(), 0);
  EXPECT_TRUE(fs::exists(FTemp.Path() + "/buf/7.db"));
  TItemsArray items;
  EXPECT_EQ(FBuffer->ReadItems(items), 6501);  // 0.db's catalogue is not visible
  FBuffer->SetDBID("0");
  ASSERT_EQ(FBuffer->Enable(), 0);
  EXPECT_EQ(ItemNames(), "A=n");
}

TEST_F(DataBufferTest, EveryOperationWithoutAConnectionEndsWith1001) {
  FBuffer->Disable();
  FBuffer->Disable();  // twice: nothing happens
  EXPECT_FALSE(FBuffer->IsOpen());
  TItemsArray items;
  TItemRec item;
  TDocument doc;
  TDocuments docs;
  TDocRow row;
  int32_t count = -5;
  std::vector<std::function<int()>> operations = {
      [&] { return FBuffer->SaveItems({Item("A")}); },
      [&] { return FBuffer->SaveItems({}, true); },
      [&] { return FBuffer->ReadItems(items); },
      [&] { return FBuffer->ReadItem("A", item); },
      [&] { return FBuffer->ClearItems(); },
      [&] { return FBuffer->GetItemsCount(count); },
      [&] { return FBuffer->SaveDoc(Doc("D", 1)); },
      [&] { return FBuffer->ReadDoc({"D"}, doc); },
      [&] { return FBuffer->ReadDocs(0, docs); },
      [&] { return FBuffer->ReadDocsHeaders(1, docs); },
      [&] { return FBuffer->ReadDocRow("D", "X", "", row); },
      [&] { return FBuffer->DeleteDoc({"D"}); },
      [&] { return FBuffer->ClearDocs(-1); },
      [&] { return FBuffer->GetDocsCount(1, count); },
      [&] { return FBuffer->GetDocRowsCount("D", count); },
  };
  for (size_t i = 0; i < operations.size(); ++i) {
    EXPECT_EQ(operations[i](), 1001) << "operation " << i;
    EXPECT_EQ(FBuffer->ResultDescription(), "Data buffer is not open");
  }
  EXPECT_EQ(count, -5);  // counts are set only on success
}

TEST_F(DataBufferTest, AMissingFolderFailsTheOpenWithTheFileName) {
  std::ofstream(FTemp.Path() + "/file") << "x";
  TDataBuffer buffer(FTemp.Path() + NativePath("/file/sub"));
  EXPECT_EQ(buffer.Enable(), 1001);
  EXPECT_EQ(buffer.ResultDescription(), "Failed to open database \"" + FTemp.Path() +
                                            NativePath("/file/sub/0.db") +
                                            "\" : unable to open database file");
}

TEST_F(DataBufferTest, AnIdentifierNamesAFileInTheFolderNeverAPath) {
  for (const std::string& id : {std::string("../escaped"), std::string("a/b"), std::string("x\0y", 3)}) {
    FBuffer->SetDBID(id);
    EXPECT_EQ(FBuffer->Enable(), 1001) << id;
    EXPECT_NE(FBuffer->ResultDescription().find("invalid database identifier"), std::string::npos)
        << FBuffer->ResultDescription();
    EXPECT_FALSE(FBuffer->IsOpen());
  }
  EXPECT_FALSE(fs::exists(FTemp.Path() + "/escaped.db"));
}

TEST_F(DataBufferTest, ALockHeldLongerThanTheWaitFailsWithTheEnginesText) {
  constexpr std::chrono::milliseconds kWait{100};
  FBuffer->Disable();
  FBuffer->SetLockWait(kWait);
  TSQLiteDatabase other(FBuffer->FileName());
  other.ExecSQL("BEGIN EXCLUSIVE");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FBuffer->Enable(), 1001);
  EXPECT_GE(std::chrono::steady_clock::now() - start, kWait);
  EXPECT_NE(FBuffer->ResultDescription().find("Error [5]: The database file is locked.\r"), std::string::npos)
      << FBuffer->ResultDescription();
  other.ExecSQL("COMMIT");
  EXPECT_EQ(FBuffer->Enable(), 0);

  // The same at work: an operation meets the other connection's lock.
  other.ExecSQL("BEGIN EXCLUSIVE");
  EXPECT_EQ(FBuffer->SaveItems({Item("A")}), 1001);
  EXPECT_NE(FBuffer->ResultDescription().find("Error [5]: The database file is locked"), std::string::npos);
  TItemRec item;
  EXPECT_EQ(FBuffer->ReadItem("A", item), 1001);
  other.ExecSQL("COMMIT");
  EXPECT_EQ(FBuffer->SaveItems({Item("A")}), 0);
}

// A reader in another process (a backup) holds its shared lock while a write commits: the
// commit waits for it instead of failing.
TEST_F(DataBufferTest, WritesWaitForAnotherConnectionsReadToEnd) {
  TSQLiteDatabase reader(FBuffer->FileName());
  reader.ExecSQL("BEGIN");
  ASSERT_EQ(reader.GetTableValue("SELECT COUNT(*) FROM sqlite_master") > 0, true);  // takes the shared lock
  std::thread release([&reader] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    reader.ExecSQL("COMMIT");
  });
  EXPECT_EQ(FBuffer->SaveItems({Item("A"), Item("B")}), 0) << FBuffer->ResultDescription();
  EXPECT_EQ(FBuffer->SaveDoc(Doc("D", 1, {{"A", 1, ""}})), 0) << FBuffer->ResultDescription();
  release.join();
  int32_t count = 0;
  EXPECT_EQ(FBuffer->GetItemsCount(count), 0);
  EXPECT_EQ(count, 2);
}

TEST_F(DataBufferTest, AnOlderItemsLayoutIsKeptAndNamedInTheErrors) {
  FBuffer->Disable();
  fs::remove(FBuffer->FileName());
  {
    TSQLiteDatabase db(FBuffer->FileName());
    db.ExecSQL("CREATE TABLE items (barcode TEXT PRIMARY KEY, name TEXT)");
    db.ExecSQL("INSERT INTO items VALUES ('A', 'old')");
  }
  ASSERT_EQ(FBuffer->Enable(), 0);
  EXPECT_EQ(FBuffer->SaveItems({Item("B")}), 1001);
  EXPECT_NE(FBuffer->ResultDescription().find("table items has no column named unit"), std::string::npos)
      << FBuffer->ResultDescription();
  TItemRec item;
  EXPECT_EQ(FBuffer->ReadItem("A", item), 1001);
  EXPECT_EQ(FBuffer->ResultDescription(), "Field not found in dataset: unit");
}

TEST_F(DataBufferTest, TheEngineKeepsItsDefaultDurability) {
  TSQLiteFaults faults;
  faults.Watch(TSQLiteFaults::kPrepare, "PRAGMA");
  ASSERT_EQ(FBuffer->Enable(), 0);
  ASSERT_EQ(FBuffer->SaveItems({Item("A")}, true), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("D", 1, {{"X", 1, ""}})), 0);
  EXPECT_EQ(faults.Calls(TSQLiteFaults::kPrepare, "PRAGMA"), 0);
  TSQLiteDatabase db(FBuffer->FileName());
  auto mode = db.GetUniTable("PRAGMA journal_mode");
  EXPECT_EQ(mode->Field(0).AsString(), "delete");
}

// ---- items ----

TEST(StoredUnitsTest, PricesAndQuantitiesAreCutTowardZero) {
  struct TPriceCase {
    int64_t Count;  // ten-thousandths
    int64_t Hundredths;
  } prices[] = {
      {123456, 1234}, {-123456, -1234}, {99, 0}, {-99, 0}, {100, 1}, {0, 0}, {INT64_MAX, INT64_MAX / 100}};
  for (const TPriceCase& c : prices) EXPECT_EQ(PriceToHundredths(Currency{c.Count}), c.Hundredths) << c.Count;

  struct TQuantityCase {
    double Quantity;
    int64_t Thousandths;
  } quantities[] = {
      {2.5, 2500},
      {0.3, 300},
      {1.001, 1001},
      {2.3456, 2345},
      {-2.3456, -2345},
      {12.3456, 12345},
      {0.0004, 0},
      {-0.0004, 0},
      {0.0009999, 0},
      {std::nextafter(2.5, 0.0), 2500},  // a hair below a whole thousandth
      {std::nextafter(0.001, 0.0), 1},
      {std::nextafter(-1.001, 0.0), -1001},
      {1e12, 1000000000000000},
  };
  for (const TQuantityCase& c : quantities)
    EXPECT_EQ(QuantityToThousandths(c.Quantity), c.Thousandths) << c.Quantity;
  for (double bad : {double(NAN), double(INFINITY), -double(INFINITY), 1e16})
    EXPECT_THROW(QuantityToThousandths(bad), std::range_error) << bad;
}

TEST(StoredUnitsTest, EveryWholeNumberOfThousandthsIsStoredExactly) {
  // As the XML text carries them: decimal text read into a double.
  for (int64_t k = -300000; k <= 300000; k += 7) {
    int64_t whole = std::llabs(k) / 1000, frac = std::llabs(k) % 1000;
    char text[64];
    snprintf(text, sizeof text, "%s%lld.%03lld", k < 0 ? "-" : "", static_cast<long long>(whole),
             static_cast<long long>(frac));
    ASSERT_EQ(QuantityToThousandths(std::strtod(text, nullptr)), k) << text;
  }
}

TEST_F(DataBufferTest, ItemsRoundTripInTheirStoredUnits) {
  TItemRec full = Item("4600000000001", "Молоко", 123456, 2.5);
  full.UnitName = "шт";
  full.AdditioanalData = "add";
  full.Series = "S-1";
  full.Quality = "";
  full.UseSerialNum = true;
  full.UseFractValue = true;
  ASSERT_EQ(FBuffer->SaveItems({full, Item("B", "b", -123456, 0.3), Item("C", "c", 0, 2.3456)}), 0);

  TItemRec item;
  ASSERT_EQ(FBuffer->ReadItem("4600000000001", item), 0);
  EXPECT_EQ(item.Barcode, "4600000000001");
  EXPECT_EQ(item.Name, "Молоко");
  EXPECT_EQ(item.UnitName, "шт");
  EXPECT_EQ(item.AdditioanalData, "add");
  EXPECT_EQ(item.Series, "S-1");
  EXPECT_EQ(item.Quality, "");
  EXPECT_EQ(item.Price, Currency{123400});  // 12.34
  EXPECT_EQ(item.Quantity, 2.5);
  EXPECT_TRUE(item.UseSerialNum);
  EXPECT_FALSE(item.UseWeight);
  EXPECT_TRUE(item.UseFractValue);
  EXPECT_EQ(Value("SELECT price FROM items WHERE barcode = 'B'"), -1234);
  EXPECT_EQ(Value("SELECT typeof(quality) = 'text' FROM items WHERE barcode = '4600000000001'"), 1);

  TItemsArray items;
  ASSERT_EQ(FBuffer->ReadItems(items), 0);
  ASSERT_EQ(items.size(), 3u);
  std::map<std::string, TItemRec> byBarcode;
  for (const TItemRec& i : items) byBarcode[i.Barcode] = i;
  EXPECT_EQ(byBarcode["B"].Price, Currency{-123400});
  EXPECT_EQ(byBarcode["B"].Quantity, 0.3);
  EXPECT_EQ(byBarcode["C"].Quantity, 2.345);
  EXPECT_TRUE(byBarcode["4600000000001"].UseSerialNum);
  int32_t count = 0;
  EXPECT_EQ(FBuffer->GetItemsCount(count), 0);
  EXPECT_EQ(count, 3);
}

TEST_F(DataBufferTest, ItemsOneAtATime) {
  int begun = 0, taken = 0;
  auto begin = [&](size_t n) {
    ++begun;
    EXPECT_EQ(taken, 0);  // the count comes before the first item
    EXPECT_EQ(n, 3u);
  };
  auto take = [&](TItemRec&) { ++taken; };
  EXPECT_EQ(FBuffer->ReadItems(begin, take), 6501);
  EXPECT_EQ(begun + taken, 0);

  // The source is asked in order; the record it fills still holds the item before.
  std::vector<size_t> asked;
  ASSERT_EQ(FBuffer->SaveItems(3,
                               [&](size_t i, TItemRec& item) {
                                 asked.push_back(i);
                                 if (i == 0) item = Item("A", "a");
                                 item.Barcode = std::string(1, static_cast<char>('A' + i));
                               }),
            0);
  EXPECT_EQ(asked, (std::vector<size_t>{0, 1, 2}));
  EXPECT_EQ(ItemNames(), "A=a B=a C=a");
  ASSERT_EQ(FBuffer->ReadItems(begin, take), 0);
  EXPECT_EQ(begun, 1);
  EXPECT_EQ(taken, 3);

  // A source that fails mid-way fails a replacing load as a failed insert would.
  EXPECT_EQ(FBuffer->SaveItems(
                3,
                [&](size_t i, TItemRec& item) {
                  if (i == 1) throw std::runtime_error("source failed");
                  item = Item("N", "new");
                },
                true),
            1001);
  EXPECT_EQ(FBuffer->ResultDescription(), "source failed");
  EXPECT_EQ(ItemNames(), "A=a B=a C=a");
}

TEST_F(DataBufferTest, FlagsReadBackByTheirLowEightBits) {
  ASSERT_EQ(FBuffer->SaveItems({Item("A")}), 0);
  struct TCase {
    int64_t Stored;
    bool Flag;
  } cases[] = {{0, false}, {1, true}, {2, true}, {256, false}, {257, true}, {-1, true}, {-256, false}};
  for (const TCase& c : cases) {
    Exec("UPDATE items SET useweight = " + std::to_string(c.Stored));
    TItemRec item;
    ASSERT_EQ(FBuffer->ReadItem("A", item), 0);
    EXPECT_EQ(item.UseWeight, c.Flag) << c.Stored;
  }
}

TEST_F(DataBufferTest, BarcodesMatchExactlyWhateverTheyContain) {
  const std::vector<std::string> barcodes = {"abc", "x') OR ('1'='1", "it's", "name", "barcode", "'"};
  TItemsArray items;
  for (const std::string& b : barcodes) items.push_back(Item(b, "item " + b));
  ASSERT_EQ(FBuffer->SaveItems(items), 0);
  for (const std::string& b : barcodes) {
    TItemRec item;
    ASSERT_EQ(FBuffer->ReadItem(b, item), 0) << b;
    EXPECT_EQ(item.Name, "item " + b);
  }
  for (const char* b : {"ABC", "abc ", " abc", "x", "''", "it''s", "1' OR '1'='1"}) {
    TItemRec item;
    EXPECT_EQ(FBuffer->ReadItem(b, item), 6501) << b;
    EXPECT_EQ(item.Name, "");
  }
}

TEST_F(DataBufferTest, TheLookupIsPreparedOncePerConnectionAndSeesNewItems) {
  ASSERT_EQ(FBuffer->SaveItems({Item("A", "a")}), 0);
  TSQLiteFaults faults;
  faults.Watch(TSQLiteFaults::kPrepare, "SELECT * FROM items WHERE barcode");
  TItemRec item;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(FBuffer->ReadItem("A", item), 0);
  EXPECT_EQ(FBuffer->ReadItem("B", item), 6501);
  ASSERT_EQ(FBuffer->SaveItems({Item("B", "b")}), 0);  // the kept statement holds no lock
  ASSERT_EQ(FBuffer->ReadItem("B", item), 0);
  EXPECT_EQ(item.Name, "b");
  EXPECT_EQ(faults.Calls(TSQLiteFaults::kPrepare, "SELECT * FROM items WHERE barcode"), 1);

  // A new connection prepares its own; the old statement went with the old connection.
  ASSERT_EQ(FBuffer->Enable(), 0);
  ASSERT_EQ(FBuffer->ReadItem("A", item), 0);
  EXPECT_EQ(faults.Calls(TSQLiteFaults::kPrepare, "SELECT * FROM items WHERE barcode"), 2);
  FBuffer->Disable();
  EXPECT_EQ(FBuffer->ReadItem("A", item), 1001);
}

TEST_F(DataBufferTest, SavingReplacesItemsByBarcode) {
  ASSERT_EQ(FBuffer->SaveItems({Item("A", "first"), Item("B", "b"), Item("A", "second")}), 0);
  EXPECT_EQ(ItemNames(), "A=second B=b");
  ASSERT_EQ(FBuffer->SaveItems({Item("B", "b2")}), 0);
  EXPECT_EQ(ItemNames(), "A=second B=b2");
  EXPECT_EQ(FBuffer->SaveItems({}), 0);
  EXPECT_EQ(ItemNames(), "A=second B=b2");

  ASSERT_EQ(FBuffer->SaveItems({Item("C", "c")}, true), 0);  // replaces the catalogue
  EXPECT_EQ(ItemNames(), "C=c");
  ASSERT_EQ(FBuffer->SaveItems({}, true), 0);
  TItemsArray items;
  EXPECT_EQ(FBuffer->ReadItems(items), 6501);
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(FBuffer->ClearItems(), 0);  // on an empty table too
  ASSERT_EQ(FBuffer->SaveItems({Item("D")}), 0);
  EXPECT_EQ(FBuffer->ClearItems(), 0);
  int32_t count = -1;
  EXPECT_EQ(FBuffer->GetItemsCount(count), 0);
  EXPECT_EQ(count, 0);
}

// ---- documents ----

TEST_F(DataBufferTest, SavingADocumentMergesIntoWhatIsStored) {
  ASSERT_EQ(FBuffer->SaveDoc(Doc("A", 1, {{"X", 2, ""}, {"Y", 1, ""}}, 3, "first")), 0);
  EXPECT_EQ(DocText("A"), "first [X:2 Y:1]");
  ASSERT_EQ(FBuffer->SaveDoc(Doc("A", 1, {{"X", 5, ""}}, 4, "second")), 0);
  EXPECT_EQ(DocText("A"), "second [X:5 Y:1]");
  ASSERT_EQ(FBuffer->SaveDoc(Doc("A", 1, {{"Y", 0, ""}})), 0);
  EXPECT_EQ(DocText("A"), "d [X:5]");

  // Rows are told apart by barcode and serial number; duplicates end with the later one;
  // a quantity below a thousandth is a zero and goes.
  ASSERT_EQ(FBuffer->SaveDoc(Doc("B", 1, {{"X", 1, "S1"}, {"X", 2, ""}, {"X", 3, "S1"}, {"Z", 0.0004, ""}})),
            0);
  EXPECT_EQ(DocText("B"), "d [X:2 X:3/S1]");
  EXPECT_EQ(Value("SELECT count(*) FROM doctables WHERE docid = 'B'"), 2);

  ASSERT_EQ(FBuffer->SaveDoc(Doc("B", 1, {{"X", 0, ""}, {"X", 0, "S1"}})), 0);
  EXPECT_EQ(DocText("B"), "d []");  // the header stays without rows
}

TEST_F(DataBufferTest, ReadDocGathersTheListedDocuments) {
  ASSERT_EQ(FBuffer->SaveDoc(Doc("A", 1, {{"X", 1.5, ""}, {"Y", 2, "S"}}, 7, "desc A")), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("B", 1, {{"Z", 3, ""}}, 7, "desc B")), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("E", 0)), 0);

  TDocument doc;
  ASSERT_EQ(FBuffer->ReadDoc({"A"}, doc), 0);
  EXPECT_EQ(doc.DocumentID, "");
  EXPECT_EQ(doc.DocumentType, 7);
  EXPECT_EQ(doc.Source, 1);
  EXPECT_EQ(doc.Description, "desc A");
  EXPECT_EQ(RowsText(doc.Rows), "X:1.5 Y:2/S");

  ASSERT_EQ(FBuffer->ReadDoc({"A", "B", "nothing"}, doc), 0);
  EXPECT_EQ(doc.Rows.size(), 3u);
  EXPECT_TRUE(doc.Description == "desc A" || doc.Description == "desc B");

  ASSERT_EQ(FBuffer->ReadDoc({"E"}, doc), 0);
  EXPECT_EQ(doc.Source, 0);
  EXPECT_TRUE(doc.Rows.empty());

  Exec("INSERT INTO doctables VALUES ('Z', 'X', 1000, '')");  // rows without a header
  for (const TStringArray& ids : {TStringArray{"Z"}, TStringArray{}}) {
    EXPECT_EQ(FBuffer->ReadDoc(ids, doc), 6502);
    EXPECT_TRUE(doc.Rows.empty());
  }
}

TEST_F(DataBufferTest, ReadDocsGivesTheDocumentsOfOneSourceInIdentifierOrder) {
  ASSERT_EQ(FBuffer->SaveDoc(Doc("b", 0, {{"X", 1, ""}}, 2, "lower b")), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("B", 0, {{"Y", 2, ""}, {"Z", 3, ""}}, 1, "upper B")), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("A", 0, {{"X", 4, ""}}, 1, "A")), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("C", 0)), 0);                     // no rows
  ASSERT_EQ(FBuffer->SaveDoc(Doc("P", 1, {{"X", 9, ""}})), 0);     // another source
  Exec("INSERT INTO doctables VALUES ('orphan', 'X', 1000, '')");  // no header

  TDocuments docs;
  ASSERT_EQ(FBuffer->ReadDocs(0, docs), 0);
  std::string text;
  for (const TDocument& d : docs)
    text += d.DocumentID + "(" + std::to_string(d.DocumentType) + "," + std::to_string(d.Source) + "," +
            d.Description + ")[" + RowsText(d.Rows) + "] ";
  // "B" < "b" by character code; the header without rows gives no (empty) entry.
  EXPECT_EQ(text, "A(1,0,A)[X:4] B(1,0,upper B)[Y:2 Z:3] b(2,0,lower b)[X:1] ");

  ASSERT_EQ(FBuffer->ReadDocs(5, docs), 0);
  EXPECT_TRUE(docs.empty());
  ASSERT_EQ(FBuffer->ClearDocs(-1), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("C", 0)), 0);
  ASSERT_EQ(FBuffer->ReadDocs(0, docs), 0);
  EXPECT_TRUE(docs.empty());  // only headers without rows: nothing to hand out
}

TEST_F(DataBufferTest, ReadDocsHeadersListsOneSourceByIdentifier) {
  ASSERT_EQ(FBuffer->SaveDoc(Doc("P2", 1, {{"X", 1, ""}}, 5, "two")), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("P1", 1, {}, 6, "one")), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("T", 0, {{"X", 1, ""}})), 0);
  TDocuments docs;
  ASSERT_EQ(FBuffer->ReadDocsHeaders(1, docs), 0);
  ASSERT_EQ(docs.size(), 2u);
  EXPECT_EQ(docs[0].DocumentID, "P1");
  EXPECT_EQ(docs[0].DocumentType, 6);
  EXPECT_EQ(docs[0].Description, "one");
  EXPECT_EQ(docs[1].DocumentID, "P2");
  for (const TDocument& d : docs) {
    EXPECT_EQ(d.Source, 0);
    EXPECT_TRUE(d.Rows.empty());
  }
  EXPECT_EQ(FBuffer->ReadDocsHeaders(5, docs), 6507);
  EXPECT_TRUE(docs.empty());
  Exec("UPDATE docheaders SET doctype = 300 WHERE id = 'P1'");
  ASSERT_EQ(FBuffer->ReadDocsHeaders(1, docs), 0);
  EXPECT_EQ(docs[0].DocumentType, 44);  // the low 8 bits
}

TEST_F(DataBufferTest, ReadDocRowFindsExactlyOneRow) {
  ASSERT_EQ(FBuffer->SaveDoc(Doc("A", 1, {{"X", 2.125, ""}, {"Y", 1, "S1"}})), 0);
  struct TCase {
    std::string doc, barcode, Serial;
    int Rc;
    double Quantity;
  } cases[] = {
      {"A", "X", "", 0, 2.125}, {"A", "Y", "S1", 0, 1},  {"A", "X", "S1", 6501, 0},
      {"A", "x", "", 6501, 0},  {"a", "X", "", 6501, 0}, {"A", "Y", "", 6501, 0},
  };
  for (const TCase& c : cases) {
    TDocRow row;
    EXPECT_EQ(FBuffer->ReadDocRow(c.doc, c.barcode, c.Serial, row), c.Rc) << c.doc << c.barcode << c.Serial;
    EXPECT_EQ(row.Quantity, c.Quantity);
    if (c.Rc == 0) {
      EXPECT_EQ(row.Barcode, c.barcode);
      EXPECT_EQ(row.SerialNum, c.Serial);
    }
  }
}

TEST_F(DataBufferTest, IdentifiersMatchExactlyWhateverTheyContain) {
  const std::vector<std::string> ids = {"id", "docid", "x') OR ('1'='1", "it's", "A"};
  for (const std::string& id : ids) ASSERT_EQ(FBuffer->SaveDoc(Doc(id, 1, {{"X", 1, ""}, {id, 2, ""}})), 0);
  for (const std::string& id : ids) {
    TDocument doc;
    ASSERT_EQ(FBuffer->ReadDoc({id}, doc), 0) << id;
    EXPECT_EQ(RowsText(doc.Rows), "X:1 " + id + ":2") << id;
    int32_t rows = 0;
    ASSERT_EQ(FBuffer->GetDocRowsCount(id, rows), 0);
    EXPECT_EQ(rows, 2) << id;
  }
  TDocument doc;
  EXPECT_EQ(FBuffer->ReadDoc({"1') OR ('1'='1"}, doc), 6502);

  ASSERT_EQ(FBuffer->DeleteDoc({"id"}), 0);
  ASSERT_EQ(FBuffer->DeleteDoc({"x') OR ('1'='1", "no such document"}), 0);
  ASSERT_EQ(FBuffer->DeleteDoc({}), 0);
  int32_t count = 0;
  ASSERT_EQ(FBuffer->GetDocsCount(1, count), 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(DocText("id"), "rc 6502");
  EXPECT_EQ(DocText("docid"), "d [X:1 docid:2]");
  EXPECT_EQ(Value("SELECT count(*) FROM doctables"), 6);
}

TEST_F(DataBufferTest, ClearDocsBySourceOrAll) {
  ASSERT_EQ(FBuffer->SaveDoc(Doc("T", 0, {{"X", 1, ""}})), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("P", 1, {{"X", 1, ""}})), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("Q", 1, {{"Y", 1, ""}})), 0);
  ASSERT_EQ(FBuffer->ClearDocs(1), 0);
  int32_t count = -1;
  ASSERT_EQ(FBuffer->GetDocsCount(1, count), 0);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(FBuffer->GetDocsCount(0, count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(Value("SELECT count(*) FROM doctables"), 1);
  ASSERT_EQ(FBuffer->ClearDocs(-1), 0);
  EXPECT_EQ(Value("SELECT count(*) FROM docheaders"), 0);
  EXPECT_EQ(Value("SELECT count(*) FROM doctables"), 0);
}

// ---- engine faults ----

TEST_F(DataBufferTest, AFailedItemInsertIsReported) {
  ASSERT_EQ(FBuffer->SaveItems({Item("OLD", "old")}), 0);
  struct TCase {
    bool ReplaceAll;
    bool EngineRollsBack;
    const char* After;
  } cases[] = {
      {false, false, "A=a OLD=old"},  // adding keeps what was written before the failure
      {true, false, "OLD=old"},       // replacing keeps the old catalogue whole
      {false, true, "OLD=old"},       // the engine rolled the transaction back itself
      {true, true, "OLD=old"},
  };
  for (const TCase& c : cases) {
    {
      TSQLiteFaults faults;
      faults.Fail(TSQLiteFaults::kStep, "INSERT OR REPLACE INTO items", 2, 1, SQLITE_IOERR,
                  c.EngineRollsBack);
      EXPECT_EQ(FBuffer->SaveItems({Item("A", "a"), Item("B", "b"), Item("C", "c")}, c.ReplaceAll), 1001);
      EXPECT_EQ(faults.Fired(), 1);
    }
    EXPECT_EQ(FBuffer->ResultDescription().rfind("Error executing SQL statement.\rError [10]: ", 0), 0u)
        << FBuffer->ResultDescription();
    EXPECT_EQ(ItemNames(), c.After) << c.ReplaceAll << c.EngineRollsBack;
    ASSERT_EQ(FBuffer->ClearItems(), 0);  // and the buffer goes on working
    ASSERT_EQ(FBuffer->SaveItems({Item("OLD", "old")}), 0);
  }
}

TEST_F(DataBufferTest, AFailedCommitIsRolledBackAndTheBufferStaysUsable) {
  ASSERT_EQ(FBuffer->SaveItems({Item("OLD", "old")}), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("A", 1, {{"X", 2, ""}})), 0);
  {
    TSQLiteFaults faults;
    faults.Fail(TSQLiteFaults::kStep, "COMMIT", 1, 3, SQLITE_BUSY);
    EXPECT_EQ(FBuffer->SaveItems({Item("NEW")}, true), 1001);
    EXPECT_EQ(FBuffer->ResultDescription(),
              "Error executing SQL statement.\rError [5]: The database file is locked.\r\"COMMIT\": injected "
              "fault");
    EXPECT_EQ(FBuffer->SaveDoc(Doc("A", 1, {{"X", 5, ""}, {"Y", 1, ""}})), 1001);
    TItemsArray items;
    EXPECT_EQ(FBuffer->ReadItems(items), 1001);
    EXPECT_TRUE(items.empty());
  }
  EXPECT_EQ(ItemNames(), "OLD=old");
  EXPECT_EQ(DocText("A"), "d [X:2]");
  EXPECT_EQ(FBuffer->SaveItems({Item("NEXT")}), 0);  // no "Transaction already open"
  EXPECT_EQ(ItemNames(), "NEXT=n OLD=old");
}

TEST_F(DataBufferTest, AFailedPushLeavesTheStoredDocumentAsItWas) {
  ASSERT_EQ(FBuffer->SaveDoc(Doc("A", 1, {{"X", 2, ""}, {"Y", 1, ""}}, 3, "before")), 0);
  const TDocument push = Doc("A", 1, {{"X", 5, ""}, {"Y", 0, ""}, {"Z", 1, ""}}, 4, "after");
  struct TCase {
    const char* Sql;
    int Nth;
  } cases[] = {
      {"INSERT OR REPLACE INTO docheaders", 1},
      {"INSERT OR REPLACE INTO doctables", 1},
      {"INSERT OR REPLACE INTO doctables", 3},
      {"DELETE FROM doctables WHERE (docid = ?)", 1},  // the zero-quantity clean-up
      {"COMMIT", 1},
  };
  for (const TCase& c : cases) {
    {
      TSQLiteFaults faults;
      faults.Fail(TSQLiteFaults::kStep, c.Sql, c.Nth, 1, SQLITE_IOERR);
      EXPECT_EQ(FBuffer->SaveDoc(push), 1001) << c.Sql << " " << c.Nth;
      EXPECT_EQ(faults.Fired(), 1) << c.Sql;
    }
    EXPECT_EQ(DocText("A"), "before [X:2 Y:1]") << c.Sql << " " << c.Nth;
  }
  ASSERT_EQ(FBuffer->SaveDoc(push), 0);
  EXPECT_EQ(DocText("A"), "after [X:5 Z:1]");
}

TEST_F(DataBufferTest, AReplacingSaveDropsOldRowsOrKeepsTheDocumentWhole) {
  ASSERT_EQ(FBuffer->SaveDoc(Doc("A", 1, {{"X", 2, ""}, {"Y", 1, ""}}, 3, "before")), 0);
  const TDocument replacement = Doc("A", 1, {{"Z", 4, ""}}, 5, "after");
  {
    TSQLiteFaults faults;
    faults.Fail(TSQLiteFaults::kStep, "INSERT OR REPLACE INTO doctables", 1, 1, SQLITE_IOERR);
    EXPECT_EQ(FBuffer->SaveDoc(replacement, /*ReplaceAll=*/true), 1001);
  }
  EXPECT_EQ(DocText("A"), "before [X:2 Y:1]");
  ASSERT_EQ(FBuffer->SaveDoc(replacement, /*ReplaceAll=*/true), 0);
  EXPECT_EQ(DocText("A"), "after [Z:4]");
}

TEST_F(DataBufferTest, AQueryWhoseStepsFailIsReportedNotShortened) {
  ASSERT_EQ(FBuffer->SaveItems({Item("A"), Item("B"), Item("C")}), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("D", 0, {{"X", 1, ""}, {"Y", 2, ""}})), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("E", 0, {{"X", 1, ""}})), 0);
  TItemsArray items;
  TItemRec item;
  TDocument doc;
  TDocuments docs;
  TDocRow row;
  int32_t count = 0;
  struct TCase {
    const char* Sql;
    int Nth;
    std::function<int()> operation;
  } cases[] = {
      {"SELECT count(*) FROM items", 1, [&] { return FBuffer->ReadItems(items); }},
      {"SELECT * FROM items", 1, [&] { return FBuffer->ReadItems(items); }},
      {"SELECT * FROM items", 3, [&] { return FBuffer->ReadItems(items); }},
      {"SELECT * FROM items WHERE", 1, [&] { return FBuffer->ReadItem("A", item); }},
      {"SELECT count(*) FROM items", 1, [&] { return FBuffer->GetItemsCount(count); }},
      {"SELECT * FROM docheaders WHERE id IN", 1, [&] { return FBuffer->ReadDoc({"D"}, doc); }},
      {"SELECT * FROM doctables WHERE docid IN", 2, [&] { return FBuffer->ReadDoc({"D"}, doc); }},
      {"SELECT count(*) FROM docheaders", 1, [&] { return FBuffer->ReadDocs(0, docs); }},
      {"SELECT * FROM doctables INNER JOIN", 3, [&] { return FBuffer->ReadDocs(0, docs); }},
      {"SELECT * FROM docheaders WHERE docsource", 2, [&] { return FBuffer->ReadDocsHeaders(0, docs); }},
      {"SELECT * FROM doctables WHERE (docid", 1, [&] { return FBuffer->ReadDocRow("D", "X", "", row); }},
      {"SELECT count(*) FROM docheaders", 1, [&] { return FBuffer->GetDocsCount(0, count); }},
      {"SELECT count(*) FROM doctables WHERE docid", 1, [&] { return FBuffer->GetDocRowsCount("D", count); }},
  };
  for (const TCase& c : cases) {
    TSQLiteFaults faults;
    faults.Fail(TSQLiteFaults::kStep, c.Sql, c.Nth, 1, SQLITE_IOERR);
    EXPECT_EQ(c.operation(), 1001) << c.Sql << " " << c.Nth;
    EXPECT_EQ(faults.Fired(), 1) << c.Sql;
    EXPECT_NE(FBuffer->ResultDescription().find("Error [10]: Some kind of disk I/O error occurred"),
              std::string::npos)
        << c.Sql;
    EXPECT_TRUE(items.empty() && docs.empty() && doc.Rows.empty() && item.Barcode.empty()) << c.Sql;
  }
  EXPECT_EQ(FBuffer->ReadItems(items), 0);
  EXPECT_EQ(items.size(), 3u);
}

TEST_F(DataBufferTest, TheInsertIsPreparedOncePerSave) {
  TSQLiteFaults faults;
  faults.Watch(TSQLiteFaults::kPrepare, "INSERT OR REPLACE INTO items");
  faults.Watch(TSQLiteFaults::kPrepare, "INSERT OR REPLACE INTO doctables");
  TItemsArray items;
  for (int i = 0; i < 50; ++i) items.push_back(Item(NumberedBarcode(i)));
  ASSERT_EQ(FBuffer->SaveItems(items), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("D", 1, {{"X", 1, ""}, {"Y", 1, ""}, {"Z", 1, ""}})), 0);
  EXPECT_EQ(faults.Calls(TSQLiteFaults::kPrepare, "INSERT OR REPLACE INTO items"), 1);
  EXPECT_EQ(faults.Calls(TSQLiteFaults::kPrepare, "INSERT OR REPLACE INTO doctables"), 1);
  int32_t count = 0;
  ASSERT_EQ(FBuffer->GetItemsCount(count), 0);
  EXPECT_EQ(count, 50);
}

TEST_F(DataBufferTest, ACompactionFailureAfterAReplacingLoadLosesNothing) {
  ASSERT_EQ(FBuffer->SaveItems({Item("B", "b"), Item("C", "c"), Item("D", "d")}), 0);
  TSQLiteFaults faults;
  faults.Fail(TSQLiteFaults::kStep, "VACUUM", 1, 1, SQLITE_IOERR);
  EXPECT_EQ(FBuffer->SaveItems({Item("A", "a")}, true), 0);  // shrank: compaction runs
  EXPECT_EQ(faults.Fired(), 1);
  EXPECT_EQ(ItemNames(), "A=a");
}

// The open's VACUUM needs up to twice the file free: a full disk must not stop the service.
TEST_F(DataBufferTest, AnOpenWhoseCompactionFindsTheDiskFullWorksOnWithAWarning) {
  ASSERT_EQ(FBuffer->SaveItems({Item("A", "a"), Item("B", "b")}), 0);
  struct TCase {
    int Code;
    int Expected;
    bool Warned;
  };
  const TCase cases[] = {
      {SQLITE_FULL, 0, true},
      // The folder has plenty of room: a real I/O fault, and the open fails as before.
      {SQLITE_IOERR, 1001, false},
      {SQLITE_CORRUPT, 1001, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Code);
    {
      TSQLiteFaults faults;
      faults.Fail(TSQLiteFaults::kStep, "VACUUM", 1, 1, c.Code);
      EXPECT_EQ(FBuffer->Enable(), c.Expected) << FBuffer->ResultDescription();
      EXPECT_EQ(faults.Fired(), 1);
    }
    EXPECT_EQ(FBuffer->IsOpen(), c.Expected == 0);
    if (c.Warned) {
      EXPECT_NE(FBuffer->OpenWarning().find(FBuffer->FileName()), std::string::npos)
          << FBuffer->OpenWarning();
      EXPECT_NE(FBuffer->OpenWarning().find("free space"), std::string::npos);
      EXPECT_EQ(ItemNames(), "A=a B=b");
      EXPECT_EQ(FBuffer->SaveItems({Item("C", "c")}), 0);  // a working buffer, not a read-only one
      EXPECT_EQ(FBuffer->Counts().Items, 3);
    } else {
      EXPECT_EQ(FBuffer->OpenWarning(), "");
    }
    // The next open that compacts says nothing.
    ASSERT_EQ(FBuffer->Enable(), 0);
    EXPECT_EQ(FBuffer->OpenWarning(), "");
    ASSERT_EQ(FBuffer->SaveItems({Item("A", "a"), Item("B", "b")}, true), 0);
  }
}

TEST_F(DataBufferTest, AReplacingLoadCompactsOnlyWhenTheCatalogueShrank) {
  TItemsArray many;
  for (int i = 0; i < 40; ++i) many.push_back(Item(NumberedBarcode(i)));
  TSQLiteFaults faults;
  faults.Watch(TSQLiteFaults::kPrepare, "VACUUM");
  ASSERT_EQ(FBuffer->SaveItems(many, true), 0);  // grew from nothing
  ASSERT_EQ(FBuffer->SaveItems(many, true), 0);  // same size
  EXPECT_EQ(faults.Calls(TSQLiteFaults::kPrepare, "VACUUM"), 0);
  ASSERT_EQ(FBuffer->SaveItems({Item("A")}, true), 0);
  EXPECT_EQ(faults.Calls(TSQLiteFaults::kPrepare, "VACUUM"), 1);
}

}  // namespace
}  // namespace dct
