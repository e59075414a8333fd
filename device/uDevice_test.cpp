#include "device/uDevice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <tuple>

#include "buffer/SQLite3.h"
#include "buffer/SQLiteFaults.h"
#include "buffer/uDataBuffer.h"
#include "device/uEquipmentErrors.h"
#include "support/TestSupport.h"
#include "support/uCommonUtils.h"

namespace dct {
namespace {

namespace fs = std::filesystem;

Variant S(const std::string& s) { return Variant::FromString(s); }
Variant D(double d) { return Variant::FromDouble(d); }
Variant In(std::vector<Variant> v) { return Variant::ArrayOf(std::move(v)); }

class TFakeListener : public IListenerSwitch {
 public:
  bool Listening() const override { return listening; }
  void Start() override {
    if (failStart) throw std::runtime_error("port taken");
    listening = true;
    ++starts;
  }
  void Stop() override { listening = false; }
  bool listening = false;
  bool failStart = false;
  int starts = 0;
};

// A device over a buffer in a fresh temporary data root, wired to a fake listener.
class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCommonAppDataRoot(FRoot.string() + "/");
    FContext.SetListenerSwitch(&FListener);
    FDevice = std::make_unique<TDevice>(FContext);
  }
  void TearDown() override {
    FDevice.reset();
    FContext.SetListenerSwitch(nullptr);
    SetCommonAppDataRoot("");
  }

  // Runs a command and returns its code; the output and description land in FOut/FDesc.
  int Run(const std::string& name, const Variant& in) {
    return FDevice->ExecuteCommand(name, in, FOut, FDesc);
  }
  fs::path DataFolder() const { return FRoot / "dct_korvelmobile" / "DataBuffer"; }

  testing::TTempDir FTemp{"dct_device_test"};
  const fs::path FRoot{FTemp.Path()};
  TFakeListener FListener;
  TDeviceContext FContext;
  std::unique_ptr<TDevice> FDevice;
  Variant FOut;
  std::string FDesc;
};

// ---------------------------------------------------------------------------------------
// Settings and dispatch.

TEST_F(DeviceTest, StartsWithDefaultsAndTwelveCommandsInOrder) {
  EXPECT_EQ(FDevice->DeviceID(), "0");
  EXPECT_FALSE(FDevice->Enabled());
  EXPECT_FALSE(FDevice->AutoClearItems());
  ASSERT_EQ(Run("CheckIn", Variant()), rcOK);
  EXPECT_EQ(FDesc, "Нет ошибок");
  EXPECT_EQ(FOut.At(0).StringValue(), "unknown");
  EXPECT_EQ(FOut.At(1).StringValue(), "unknown");
  const Variant& names = FOut.At(2);
  EXPECT_EQ(names.VarType(), varArray + varOleStr);
  const char* expected[] = {"Echo",
                            "CheckIn",
                            "DownloadItems",
                            "ClearData",
                            "GetItemInfo",
                            "GetDocuments",
                            "PushDocumentData",
                            "SaveItemsToBuff",
                            "ReadDocFromBuff",
                            "ReadDocsHeadersFromBuff",
                            "DeleteDocFromBuffer",
                            "ClearItemsFromBuffer"};
  ASSERT_EQ(names.Length(1), 12);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(names.At(i).StringValue(), expected[i]);
}

TEST_F(DeviceTest, FindSvcMethodIgnoresOnlyLatinCase) {
  struct TCase {
    const char* Name;
    int Index;
  } cases[] = {
      {"Echo", 0},
      {"echo", 0},
      {"ECHO", 0},
      {"cHECKiN", 1},
      {"clearitemsfrombuffer", 11},
      {"Ech\xD0\xBE", -1},  // Cyrillic "о" in place of the Latin "o"
      {"", -1},
      {"Echo ", -1},
      {"Ech", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(FDevice->FindSvcMethod(c.Name), c.Index) << c.Name;
  EXPECT_EQ(Run("Ech\xD0\xBE", In({S("x")})), rcUnknownCommand);
  EXPECT_EQ(FDesc, "Команда не распознана устройством");
  EXPECT_TRUE(FOut.IsEmpty());
  EXPECT_EQ(Run("", Variant()), rcUnknownCommand);
}

TEST_F(DeviceTest, EchoCopiesNestedValuesAndEmptyInput) {
  Variant table = Variant::CreateArray({{0, 1}, {0, 1}});
  table.Put(0, 0, S("x"));
  table.Put(1, 1, In({S("глубже"), D(1.5)}));
  const Variant input = In({D(2.5), table, Variant::FromBoolean(true)});
  ASSERT_EQ(Run("echo", input), rcOK);
  EXPECT_EQ(FOut, input);
  ASSERT_EQ(Run("Echo", Variant()), rcOK);
  EXPECT_TRUE(FOut.IsEmpty());
}

TEST_F(DeviceTest, HandlerExceptionBecomes1001WithItsMessageUntilTheNextCommand) {
  ASSERT_EQ(FDevice->Enable(), rcOK);
  FDevice->OnGetItemInfo = [](const std::string&, TItemRec&) -> int { throw std::runtime_error("X"); };
  EXPECT_EQ(Run("GetItemInfo", In({D(1), S("123")})), rcUnknownError);
  EXPECT_EQ(FDesc, "X");
  EXPECT_EQ(FDevice->ResultDescription(), "X");
  EXPECT_EQ(Run("Echo", In({})), rcOK);
  EXPECT_EQ(FDevice->ResultDescription(), "");
  EXPECT_EQ(FDevice->GetResultDescription(rcUnknownError), "");
}

// ---------------------------------------------------------------------------------------
// Enabling, the buffer and the listener.

TEST_F(DeviceTest, EnableOpensBufferAndSwitchesListener) {
  ASSERT_EQ(FDevice->Enable(), rcOK);
  EXPECT_TRUE(FDevice->Enabled());
  EXPECT_TRUE(fs::exists(DataFolder() / "0.db"));
  EXPECT_TRUE(FListener.listening);
  EXPECT_EQ(FContext.ListenerUsers(), 1);

  ASSERT_EQ(FDevice->Enable(), rcOK);  // re-enable closes and reopens: still one user
  EXPECT_EQ(FContext.ListenerUsers(), 1);

  FDevice->Disable();
  EXPECT_FALSE(FDevice->Enabled());
  EXPECT_FALSE(FListener.listening);
  EXPECT_EQ(FContext.ListenerUsers(), 0);
  FDevice->Disable();  // twice changes nothing
  EXPECT_EQ(FContext.ListenerUsers(), 0);
}

TEST_F(DeviceTest, AFullDiskAtTheOpenStillEnablesAndLeavesAWarning) {
  ASSERT_EQ(FDevice->Enable(), rcOK);
  EXPECT_EQ(FDevice->StartWarning(), "");
  {
    TSQLiteFaults faults;
    faults.Fail(TSQLiteFaults::kStep, "VACUUM", 1, 1, SQLITE_FULL);
    ASSERT_EQ(FDevice->Enable(), rcOK);
  }
  EXPECT_TRUE(FDevice->Enabled());
  EXPECT_TRUE(FListener.listening);
  EXPECT_NE(FDevice->StartWarning().find("0.db"), std::string::npos) << FDevice->StartWarning();
  FDevice->Disable();
  EXPECT_EQ(FDevice->StartWarning(), "");  // only an enabled device has something to report
}

TEST_F(DeviceTest, ListenerFailureRaisesAndLeavesDeviceDisabledUncounted) {
  FListener.failStart = true;
  EXPECT_THROW(FDevice->Enable(), std::runtime_error);
  EXPECT_FALSE(FDevice->Enabled());
  EXPECT_EQ(FContext.ListenerUsers(), 0);
}

TEST_F(DeviceTest, MissingEngineGives1006AndOpensNothing) {
  const std::string previous = GetSQLiteLibraryName();
  UnloadSQLiteLibrary();
  SetSQLiteLibraryName("/nonexistent/libsqlite3.so.0");
  EXPECT_EQ(FDevice->Enable(), rcLibraryNotFound);
  EXPECT_EQ(FDevice->GetResultDescription(rcLibraryNotFound), "Библиотека не найдена");
  EXPECT_FALSE(FDevice->Enabled());
  EXPECT_FALSE(fs::exists(DataFolder() / "0.db"));
  EXPECT_EQ(FContext.ListenerUsers(), 0);
  SetSQLiteLibraryName(previous);
  EXPECT_EQ(FDevice->Enable(), rcOK);
}

// 1006 is for a missing file only: a file that is there but no engine (another architecture,
// a damaged copy) fails with the loader's own text.
TEST_F(DeviceTest, EngineFileThatCannotBeLoadedGives1001WithTheLoadersText) {
  const std::string previous = GetSQLiteLibraryName();
  const std::string junk = (fs::path(FTemp.Path()) / "not-an-engine.dll").string();
  { std::ofstream(junk, std::ios::binary) << "MZ this is no library at all"; }
  UnloadSQLiteLibrary();
  SetSQLiteLibraryName(junk);
  EXPECT_EQ(FDevice->Enable(), rcUnknownError);
  const std::string text = FDevice->GetResultDescription(rcUnknownError);
  EXPECT_EQ(text.rfind("Cannot load the SQLite library \"" + junk + "\": ", 0), 0u) << text;
  EXPECT_GT(text.size(), junk.size() + 36) << "the loader's reason is missing: " << text;
  EXPECT_FALSE(FDevice->Enabled());
  EXPECT_FALSE(fs::exists(DataFolder() / "0.db"));
  EXPECT_EQ(FContext.ListenerUsers(), 0);
  SetSQLiteLibraryName(previous);
  EXPECT_EQ(FDevice->Enable(), rcOK);
}

TEST_F(DeviceTest, NewIdentifierNamesTheFileAtTheNextEnableAndDataSurvives) {
  ASSERT_EQ(FDevice->Enable(), rcOK);
  ASSERT_EQ(Run("PushDocumentData", In({S("D1"), D(1), D(0), Variant::CreateArray({{0, -1}}), S("d")})),
            rcOK);
  FDevice->SetDeviceID("7");
  EXPECT_FALSE(fs::exists(DataFolder() / "7.db"));  // not before the next Enable
  ASSERT_EQ(FDevice->Enable(), rcOK);
  EXPECT_TRUE(fs::exists(DataFolder() / "7.db"));
  EXPECT_EQ(Run("ReadDocsHeadersFromBuff", In({D(1)})), rcNoDocs);  // 0.db's data not seen
  FDevice->SetDeviceID("0");
  ASSERT_EQ(FDevice->Enable(), rcOK);
  EXPECT_EQ(Run("ReadDocsHeadersFromBuff", In({D(1)})), rcOK);  // kept across re-enable
}

TEST_F(DeviceTest, NonDatabaseFileGives1001WithTheLayersMessage) {
  fs::create_directories(DataFolder());
  const std::string junk = "this is not a database, just text that must stay as it is\n";
  std::ofstream(DataFolder() / "0.db", std::ios::binary) << junk;
  EXPECT_EQ(FDevice->Enable(), rcUnknownError);
  EXPECT_FALSE(FDevice->Enabled());
  const std::string desc = FDevice->GetResultDescription(rcUnknownError);
  EXPECT_EQ(desc.rfind("Error executing SQL.\rError [26]: File opened that is not a database file.\r", 0), 0u)
      << desc;
  EXPECT_EQ(fs::file_size(DataFolder() / "0.db"), junk.size());
}

// ---------------------------------------------------------------------------------------
// Catalogue commands.

Variant Item(const std::string& barcode, const std::string& name, double price, double qty) {
  return In({S(barcode), S(name), S("шт"), S(""), S(""), S(""), D(price), D(qty), Variant::FromBoolean(true),
             Variant::FromBoolean(false), D(0)});
}

Variant ItemTable(const std::vector<Variant>& items) {
  Variant t = Variant::CreateArray({{0, static_cast<int>(items.size()) - 1}, {0, 10}});
  for (int i = 0; i < static_cast<int>(items.size()); ++i)
    for (int j = 0; j <= 10; ++j) t.Put(i, j, items[i].At(j));
  return t;
}

class CatalogueTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(FDevice->Enable(), rcOK);
  }
  int Count() {
    int32_t n = -1;
    EXPECT_EQ(FDevice->DataBuffer().GetItemsCount(n), rcOK);
    return n;
  }
};

TEST_F(CatalogueTest, SaveModesReplaceOrMerge) {
  ASSERT_EQ(Run("SaveItemsToBuff", In({D(1), ItemTable({Item("A", "a", 1, 1), Item("B", "b", 2, 2)})})),
            rcOK);
  EXPECT_TRUE(FOut.IsEmpty());
  // Mode 1 replaces only the named barcode; a later duplicate in one table wins.
  ASSERT_EQ(
      Run("SaveItemsToBuff", In({D(1), ItemTable({Item("A", "first", 1, 1), Item("A", "second", 1, 1)})})),
      rcOK);
  EXPECT_EQ(Count(), 2);
  ASSERT_EQ(Run("GetItemInfo", In({D(0), S("A")})), rcOK);
  EXPECT_EQ(FOut.At(0).At(1).StringValue(), "second");
  // Mode 256 counts as 0: the catalogue is replaced.
  ASSERT_EQ(Run("SaveItemsToBuff", In({D(256), ItemTable({Item("C", "c", 3, 3)})})), rcOK);
  EXPECT_EQ(Count(), 1);
  // Mode 0 with no rows empties it.
  ASSERT_EQ(Run("SaveItemsToBuff", In({D(0), Variant::CreateArray({{0, -1}, {0, 10}})})), rcOK);
  EXPECT_EQ(Count(), 0);
}

TEST_F(CatalogueTest, MalformedInputIs1004AndTouchesNothing) {
  ASSERT_EQ(Run("SaveItemsToBuff", In({D(1), ItemTable({Item("A", "a", 1, 1)})})), rcOK);
  Variant ten = Variant::CreateArray({{0, 0}, {0, 9}});
  // Only the last row is bad: merging (mode 1) must not keep the good rows before it.
  Variant badLastPrice = ItemTable({Item("B", "b", 1, 1), Item("C", "c", 1, 1)});
  badLastPrice.Put(1, 6, S("цена"));
  const Variant cases[] = {
      Variant(),       In({D(0)}),         In({S("режим"), ItemTable({})}),
      In({D(0), ten}), In({D(0), S("x")}), In({D(1), badLastPrice}),
  };
  for (const Variant& in : cases) {
    EXPECT_EQ(Run("SaveItemsToBuff", in), rcBadInput);
    EXPECT_EQ(FDesc, "Ошибка входных параметров команды");
  }
  EXPECT_EQ(Count(), 1);
}

TEST_F(CatalogueTest, DownloadAnswersTheTableAndAutoClearLastsOneDownload) {
  EXPECT_EQ(Run("DownloadItems", Variant()), rcItemNotFound);
  EXPECT_EQ(FDesc, "Товар с указанными параметрами не найден");
  EXPECT_TRUE(FOut.IsEmpty());
  ASSERT_EQ(
      Run("SaveItemsToBuff", In({D(0), ItemTable({Item("A", "a", 12.3456, 2.3456), Item("B", "b", 1, 1)})})),
      rcOK);
  FDevice->SetAutoClearItems(true);
  ASSERT_EQ(Run("DownloadItems", Variant()), rcOK);
  ASSERT_EQ(FOut.Length(1), 1);
  const Variant& table = FOut.At(0);
  ASSERT_EQ(table.Length(1), 2);
  ASSERT_EQ(table.Length(2), 11);
  int a = table.At(0, 0).StringValue() == "A" ? 0 : 1;
  EXPECT_EQ(table.At(a, 6).VarType(), varCurrency);
  EXPECT_EQ(table.At(a, 6).CurrencyValue().Count, 123400);  // kept to the hundredth
  EXPECT_DOUBLE_EQ(table.At(a, 7).DoubleValue(), 2.345);
  EXPECT_EQ(table.At(a, 8).VarType(), varBoolean);
  EXPECT_TRUE(table.At(a, 8).BooleanValue());
  EXPECT_EQ(Run("DownloadItems", Variant()), rcItemNotFound);
}

TEST_F(CatalogueTest, GetItemInfoCases) {
  ASSERT_EQ(
      Run("SaveItemsToBuff", In({D(0), ItemTable({Item("4600", "Хлеб", 45.5, 3), Item("it's", "q", 1, 1),
                                                  Item("name", "col", 1, 1)})})),
      rcOK);
  ASSERT_EQ(Run("PushDocumentData", In({S("DOC"), D(1), D(0), In({}), S("")})), rcOK);
  Variant rows = Variant::CreateArray({{0, 0}, {0, 2}});
  rows.Put(0, 0, S("4600"));
  rows.Put(0, 1, D(7.5));
  rows.Put(0, 2, S("SN1"));
  ASSERT_EQ(Run("PushDocumentData", In({S("DOC"), D(1), D(0), rows, S("")})), rcOK);

  struct TCase {
    Variant In;
    int Code;
    double InDoc;
  } cases[] = {
      {In({D(0), S("4600")}), rcOK, 0},
      {In({D(0), S("4600"), S("DOC"), S("SN1")}), rcOK, 7.5},
      {In({D(0), S("4600"), S("DOC")}), rcItemNotFound, 0},  // no row without a serial
      {In({D(0), S("4600"), S(""), S("SN1")}), rcOK, 0},     // no document asked for
      {In({D(0), S("4600 ")}), rcItemNotFound, 0},           // exact match, blanks count
      {In({D(0), S("IT'S")}), rcItemNotFound, 0},            // case-sensitive
      {In({D(0), S("it's")}), rcOK, 0},
      {In({D(0), S("barcode")}), rcItemNotFound, 0},  // a column name is just text
      {In({D(1), S("4600")}), rcNotSupported, 0},     // on-line with no callback
      {In({D(0)}), rcBadInput, 0},
      {Variant(), rcBadInput, 0},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const TCase& c = cases[i];
    SCOPED_TRACE(i);
    ASSERT_EQ(Run("GetItemInfo", c.In), c.Code) << FDesc;
    if (c.Code != rcOK) {
      EXPECT_TRUE(FOut.IsEmpty());
      continue;
    }
    const Variant& answer = FOut.At(0);
    ASSERT_EQ(answer.Length(1), 12);
    EXPECT_DOUBLE_EQ(answer.At(11).DoubleValue(), c.InDoc);
  }
  ASSERT_EQ(Run("GetItemInfo", In({D(0), S("4600")})), rcOK);
  EXPECT_EQ(FOut.At(0).At(1).StringValue(), "Хлеб");
  EXPECT_EQ(FOut.At(0).At(6).CurrencyValue().Count, 455000);
}

TEST_F(CatalogueTest, OnlineLookupUsesTheCallback) {
  ASSERT_EQ(Run("SaveItemsToBuff", In({D(0), ItemTable({Item("1", "buffer", 1, 1)})})), rcOK);
  FDevice->OnGetItemInfo = [](const std::string& barcode, TItemRec& item) {
    if (barcode != "1") return 6501;
    item.Name = "from host";
    return 0;
  };
  ASSERT_EQ(Run("GetItemInfo", In({D(1), S("1")})), rcOK);
  EXPECT_EQ(FOut.At(0).At(1).StringValue(), "from host");
  EXPECT_EQ(Run("GetItemInfo", In({D(1), S("2")})), rcItemNotFound);
}

TEST_F(CatalogueTest, ClearItemsFromBuffer) {
  ASSERT_EQ(Run("SaveItemsToBuff", In({D(0), ItemTable({Item("1", "a", 1, 1)})})), rcOK);
  EXPECT_EQ(Run("ClearItemsFromBuffer", Variant()), rcOK);
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(Run("ClearItemsFromBuffer", Variant()), rcOK);
}

// ---------------------------------------------------------------------------------------
// Document commands and clearing.

Variant Rows(const std::vector<std::tuple<std::string, double, std::string>>& rows) {
  Variant t = Variant::CreateArray({{0, static_cast<int>(rows.size()) - 1}, {0, 2}});
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    t.Put(i, 0, S(std::get<0>(rows[i])));
    t.Put(i, 1, D(std::get<1>(rows[i])));
    t.Put(i, 2, S(std::get<2>(rows[i])));
  }
  return t;
}

class DocumentTest : public CatalogueTest {
 protected:
  int Push(const std::string& id, double type, double online, const Variant& rows,
           const std::string& description = "") {
    return Run("PushDocumentData", In({S(id), D(type), D(online), rows, S(description)}));
  }
  // The stored rows of one document, as barcode -> quantity.
  std::map<std::string, double> StoredRows(const std::string& id) {
    std::map<std::string, double> rows;
    TDocument doc;
    if (FDevice->ReadDocFromBuff(TStringArray{id}, doc) != rcOK) return rows;
    for (const auto& r : doc.Rows) rows[r.Barcode + "/" + r.SerialNum] = r.Quantity;
    return rows;
  }
};

TEST_F(DocumentTest, PushMergesRowsAndRemovesZeroQuantities) {
  ASSERT_EQ(Push("A", 1, 0, Rows({{"X", 2, ""}, {"Y", 1, ""}}), "первый"), rcOK);
  EXPECT_EQ(FOut.At(0).StringValue(), "первый");  // an off-line push answers its description
  ASSERT_EQ(Push("A", 1, 0, Rows({{"X", 5, ""}})), rcOK);
  EXPECT_EQ(StoredRows("A"), (std::map<std::string, double>{{"X/", 5}, {"Y/", 1}}));
  ASSERT_EQ(Push("A", 1, 0, Rows({{"Y", 0, ""}})), rcOK);
  EXPECT_EQ(StoredRows("A"), (std::map<std::string, double>{{"X/", 5}}));
  ASSERT_EQ(Push("A", 1, 0, Rows({{"X", 0.0004, ""}})), rcOK);  // truncates to 0: removed
  EXPECT_TRUE(StoredRows("A").empty());
}

TEST_F(DocumentTest, PushReadsLowBitsAndRejectsShortInput) {
  ASSERT_EQ(Push("T", 300, 256, Rows({{"X", 1, ""}})), rcOK);  // 256 is off-line
  TDocuments headers;
  ASSERT_EQ(FDevice->ReadDocsHeadersFromBuff(1, headers), rcOK);
  ASSERT_EQ(headers.size(), 1u);
  EXPECT_EQ(headers[0].DocumentType, 44);

  EXPECT_EQ(Run("PushDocumentData", In({S("F"), D(1), D(0), Rows({{"X", 1, ""}})})), rcBadInput);
  EXPECT_EQ(Run("PushDocumentData", In({S("F"), D(1), D(0), S("rows"), S("")})), rcBadInput);
  int count = -1;
  ASSERT_EQ(FDevice->GetBuffDocCount(1, count), rcOK);
  EXPECT_EQ(count, 1);  // nothing stored by the malformed pushes
}

TEST_F(DocumentTest, OnlinePushWithoutCallbackStoresAndAnswers1003) {
  EXPECT_EQ(Push("ON", 2, 1, In({}), "x"), rcNotSupported);
  EXPECT_TRUE(FOut.IsEmpty());
  ASSERT_EQ(Run("ReadDocFromBuff", In({In({S("ON")})})), rcOK);
  const Variant& doc = FOut.At(0);
  EXPECT_EQ(doc.At(0).StringValue(), "");  // a read document has no identifier
  EXPECT_EQ(doc.At(1).IntegerValue(), 2);
  EXPECT_EQ(doc.At(2).IntegerValue(), 1);
  EXPECT_EQ(doc.At(3).StringValue(), "x");
  EXPECT_EQ(doc.At(4).Length(1), 0);
  EXPECT_EQ(doc.At(4).Length(2), 3);

  FDevice->OnSetDocumentInfo = [](const std::string&, int type, std::string& description) {
    description = "принят " + std::to_string(type);
    return 0;
  };
  ASSERT_EQ(Push("ON", 2, 1, In({})), rcOK);
  EXPECT_EQ(FOut.At(0).StringValue(), "принят 2");
}

TEST_F(DocumentTest, ReadHeadersDeleteAndGetDocuments) {
  ASSERT_EQ(Push("B", 1, 0, Rows({{"X", 1, ""}}), "b"), rcOK);
  ASSERT_EQ(Push("A", 1, 0, Rows({{"Y", 2, "S"}}), "a"), rcOK);
  ASSERT_EQ(Push("x') OR ('1'='1", 1, 0, Rows({{"Z", 3, ""}})), rcOK);
  ASSERT_EQ(Push("id", 1, 0, Rows({{"W", 4, ""}})), rcOK);

  ASSERT_EQ(Run("ReadDocsHeadersFromBuff", In({D(1)})), rcOK);
  const Variant& table = FOut.At(0);
  ASSERT_EQ(table.Length(1), 4);
  EXPECT_EQ(table.At(0, 0).StringValue(), "A");  // ordered by identifier
  EXPECT_EQ(table.At(0, 2).IntegerValue(), 0);   // source position is 0 whatever was asked
  EXPECT_EQ(table.At(0, 4).Length(1), 0);
  EXPECT_EQ(Run("ReadDocsHeadersFromBuff", In({D(5)})), rcNoDocs);
  EXPECT_EQ(FDesc, "Документы для загрузки отсутствуют");
  EXPECT_EQ(Run("ReadDocsHeadersFromBuff", In({S("one")})), rcBadInput);

  // Reading: one stored and one absent identifier; a single string is no list.
  ASSERT_EQ(Run("ReadDocFromBuff", In({In({S("A"), S("absent")})})), rcOK);
  EXPECT_EQ(FOut.At(0).At(4).Length(1), 1);
  EXPECT_EQ(Run("ReadDocFromBuff", In({In({S("absent")})})), rcDocNotFound);
  EXPECT_EQ(FDesc, "Документ с указанными параметрами не найден");
  EXPECT_EQ(Run("ReadDocFromBuff", In({In({})})), rcDocNotFound);
  EXPECT_EQ(Run("ReadDocFromBuff", In({S("A")})), rcBadInput);

  // Deleting identifiers that are column names or carry quotes touches only them.
  ASSERT_EQ(Run("DeleteDocFromBuffer", In({In({S("x') OR ('1'='1"), S("id"), S("absent")})})), rcOK);
  int count = -1;
  ASSERT_EQ(FDevice->GetBuffDocCount(1, count), rcOK);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(Run("DeleteDocFromBuffer", In({In({})})), rcOK);
  EXPECT_EQ(Run("DeleteDocFromBuffer", Variant()), rcBadInput);

  // Pushed documents are source 1: GetDocuments hands out only source 0.
  ASSERT_EQ(Run("GetDocuments", Variant()), rcOK);
  EXPECT_EQ(FOut.At(0).Length(1), 0);
  EXPECT_EQ(FOut.At(0).Length(2), 4);
  TDocument forTerminals{"T1", 9, 0, "для терминала", {{"X", 1.5, ""}}};
  ASSERT_EQ(FDevice->SaveDocToBuff(forTerminals, false), rcOK);
  ASSERT_EQ(Run("GetDocuments", Variant()), rcOK);
  const Variant& docs = FOut.At(0);
  ASSERT_EQ(docs.Length(1), 1);
  EXPECT_EQ(docs.At(0, 0).StringValue(), "T1");
  EXPECT_EQ(docs.At(0, 1).IntegerValue(), 9);
  EXPECT_DOUBLE_EQ(docs.At(0, 2).At(0, 1).DoubleValue(), 1.5);
  EXPECT_EQ(docs.At(0, 3).StringValue(), "для терминала");
}

TEST_F(DocumentTest, ClearDataScopes) {
  struct TCase {
    Variant In;
    int Items;        // items left
    int docsSource1;  // pushed documents left (of A and B)
  } cases[] = {
      {In({D(0)}), 0, 0},         {In({D(1)}), 1, 0},   {In({D(1), S("A")}), 1, 1},
      {In({D(0), S("A")}), 0, 1}, {In({D(256)}), 0, 0}, {In({D(1), S("absent")}), 1, 2},
  };
  for (auto& c : cases) {
    ASSERT_EQ(Run("SaveItemsToBuff", In({D(0), ItemTable({Item("1", "a", 1, 1)})})), rcOK);
    ASSERT_EQ(FDevice->ClearDocsFromBuffer(), rcOK);
    ASSERT_EQ(Push("A", 1, 0, Rows({{"X", 1, ""}})), rcOK);
    ASSERT_EQ(Push("B", 1, 0, Rows({{"X", 1, ""}})), rcOK);
    ASSERT_EQ(Run("ClearData", c.In), rcOK);
    int docs = -1;
    ASSERT_EQ(FDevice->GetBuffDocCount(1, docs), rcOK);
    EXPECT_EQ(Count(), c.Items);
    EXPECT_EQ(docs, c.docsSource1);
  }
  EXPECT_EQ(Run("ClearData", Variant()), rcBadInput);
  EXPECT_EQ(Run("ClearData", In({S("all")})), rcBadInput);
}

}  // namespace
}  // namespace dct
