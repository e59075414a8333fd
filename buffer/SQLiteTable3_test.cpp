#include "buffer/SQLiteTable3.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "buffer/SQLiteFaults.h"
#include "support/TestSupport.h"

namespace dct {
namespace {

namespace fs = std::filesystem;

using testing::TTempDir;

// The engine's error report: base, CR, code and its text, CR, the SQL and the engine's words.
std::string Report(const std::string& base, int code, const std::string& sql, const std::string& engine) {
  return base + ".\rError [" + std::to_string(code) + "]: " + SQLiteResultText(code) + ".\r\"" + sql +
         "\": " + engine;
}

template <typename F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const ESQLiteException& e) {
    return e.what();
  }
  return "(no error)";
}

class SQLiteLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadSQLiteLibrary(""));
    FFile = FTemp.Path() + "/test.db";
    FDb = std::make_unique<TSQLiteDatabase>(FFile);
    FDb->ExecSQL("CREATE TABLE t (a INTEGER PRIMARY KEY, b TEXT, c INTEGER)");
  }

  // typeof() and value of column b in the row with key a, e.g. "text:abc" or "null:".
  std::string Cell(int64_t a, const char* column = "b") {
    auto table = FDb->GetUniTable("SELECT typeof(" + std::string(column) + ") AS k, " + column +
                                  " AS v FROM t WHERE a = " + std::to_string(a));
    if (table->Eof()) return "(no row)";
    return table->GetFieldByName("k").AsString() + ":" + table->GetFieldByName("v").AsString();
  }

  TTempDir FTemp;
  std::string FFile;
  std::unique_ptr<TSQLiteDatabase> FDb;
};

TEST_F(SQLiteLayerTest, OpenFailuresNameTheFile) {
  std::string missing = FTemp.Path() + "/no/such/folder/x.db";
  EXPECT_EQ(MessageOf([&] { TSQLiteDatabase db(missing); }),
            "Failed to open database \"" + missing + "\" : unable to open database file");
  {
    TSQLiteFaults faults;
    faults.Fail(TSQLiteFaults::kOpen, "", 1, 1, SQLITE_NOMEM);
    EXPECT_EQ(MessageOf([&] { TSQLiteDatabase db(FFile); }),
              "Failed to open database \"" + FFile + "\" : unknown error");
  }
  EXPECT_EQ(MessageOf([&] { TSQLiteDatabase db(FFile, seUTF8, "secret"); }),
            "Failed to open database \"" + FFile + "\" : the engine cannot apply a key");
  FDb.reset();  // no connection may outlive the library it came from
  UnloadSQLiteLibrary();
  EXPECT_EQ(MessageOf([&] { TSQLiteDatabase db(FFile); }),
            "Failed to open database \"" + FFile + "\" : SQLite library is not loaded");
  ASSERT_TRUE(LoadSQLiteLibrary(""));
  TSQLiteDatabase unopened("");
  EXPECT_FALSE(unopened.Connected());
}

TEST_F(SQLiteLayerTest, Utf16FileNamesReachTheSameFile) {
  std::string name = FTemp.Path() + "/база данных 😀.db";
  {
    TSQLiteDatabase db(name, seUTF16);
    EXPECT_TRUE(db.Connected());
    db.ExecSQL("CREATE TABLE x (a)");
  }
  EXPECT_TRUE(fs::exists(fs::u8path(name)));
  TSQLiteDatabase again(name, seUTF8);
  EXPECT_EQ(again.GetTableValue("SELECT count(*) FROM sqlite_master WHERE name = 'x'"), 1);
}

TEST_F(SQLiteLayerTest, ExecSQLRunsOneStatementThatYieldsNoRows) {
  FDb->ExecSQL("CREATE TABLE t1 (a); CREATE TABLE t2 (a)");
  EXPECT_EQ(FDb->GetTableValue("SELECT count(*) FROM sqlite_master WHERE name IN ('t1', 't2')"), 1);

  struct TCase {
    std::string Sql;
    std::string Message;
  } cases[] = {
      {"SELECT 1", "Error executing SQL statement"},
      {"", "Could not prepare SQL statement"},
      {"  -- only a comment", "Could not prepare SQL statement"},
      {"SELEC 1", Report("Error executing SQL", 1, "SELEC 1", "near \"SELEC\": syntax error")},
      {"INSERT INTO nowhere VALUES (1)",
       Report("Error executing SQL", 1, "INSERT INTO nowhere VALUES (1)", "no such table: nowhere")},
  };
  for (const TCase& c : cases) EXPECT_EQ(MessageOf([&] { FDb->ExecSQL(c.Sql); }), c.Message) << c.Sql;

  FDb->ExecSQL("INSERT INTO t (a) VALUES (1)");
  const std::string dup = "INSERT INTO t (a) VALUES (1)";
  EXPECT_EQ(MessageOf([&] { FDb->ExecSQL(dup); }),
            Report("Error executing SQL statement", 19, dup, "UNIQUE constraint failed: t.a"));
}

TEST_F(SQLiteLayerTest, ResultTextsAndUnknownCodes) {
  struct TCase {
    int Code;
    const char* Text;
  } cases[] = {
      {0, "Successful result"},
      {5, "The database file is locked"},
      {19, "Abort due to contraint violation"},
      {26, "File opened that is not a database file"},
      {101, "sqlite3_step() has finished executing"},
      {27, "Unknown SQLite Error Code \"27\""},
      {-3, "Unknown SQLite Error Code \"-3\""},
  };
  for (const TCase& c : cases) EXPECT_EQ(SQLiteResultText(c.Code), c.Text) << c.Code;
  EXPECT_EQ(FormatSQLiteError("Base", 0, "ignored", "SQL"), "Base");
}

TEST_F(SQLiteLayerTest, GetTableValueReadsTheFirstColumnOfTheFirstRow) {
  FDb->ExecSQL("INSERT INTO t VALUES (1, '12abc', NULL)");
  FDb->ExecSQL("INSERT INTO t VALUES (2, 'x', 7)");
  struct TCase {
    const char* Sql;
    int64_t Value;
  } cases[] = {
      {"SELECT count(*) FROM t", 2},         {"SELECT c FROM t WHERE a = 3", 0},  // no row
      {"SELECT c FROM t WHERE a = 1", 0},                                         // NULL
      {"SELECT b FROM t WHERE a = 1", 12},  // text gives its leading number
      {"SELECT c, a FROM t WHERE a = 2", 7},
  };
  for (const TCase& c : cases) EXPECT_EQ(FDb->GetTableValue(c.Sql), c.Value) << c.Sql;
}

TEST_F(SQLiteLayerTest, NamedParametersBindAsTheirKinds) {
  const std::string insert = "INSERT INTO t (a, b, c) VALUES (:a, :b, :c)";
  struct TCase {
    int64_t A;
    std::string B;
    std::string Expected;
  } cases[] = {
      {1, "plain", "text:plain"},
      {2, "", "text:"},                          // empty text is text, not NULL
      {3, std::string("ab\0cd", 5), "text:ab"},  // stored up to the NUL character
      {4, "x') OR ('1'='1", "text:x') OR ('1'='1"},
      {5, "юникод", "text:юникод"},
  };
  for (const TCase& c : cases) {
    TSQLitePreparedStatement stmt(*FDb);
    stmt.SetSQL(insert);
    stmt.ClearParams();
    stmt.SetParamInt(":a", c.A);
    stmt.SetParamText(":b", c.B);
    stmt.SetParamInt(":c", c.A * 10);
    stmt.PrepareStatement();
    stmt.ExecQuery();
    EXPECT_EQ(Cell(c.A), c.Expected);
    EXPECT_EQ(Cell(c.A, "c"), "integer:" + std::to_string(c.A * 10));
  }
}

TEST_F(SQLiteLayerTest, AListThatDoesNotMatchTheParameterCountIsNotBound) {
  const std::string insert = "INSERT INTO t (a, b, c) VALUES (:a, :b, :c)";
  {
    TSQLitePreparedStatement stmt(*FDb);
    stmt.PrepareStatement(insert);
    stmt.SetParamInt(":a", 1);
    stmt.SetParamText(":b", "lost");
    stmt.ExecQuery();  // two of three: nothing bound, a NULL key gets the next rowid
  }
  EXPECT_EQ(FDb->GetTableValue("SELECT count(*) FROM t WHERE b IS NULL AND c IS NULL"), 1);
  {
    TSQLitePreparedStatement stmt(*FDb);
    stmt.PrepareStatement(insert);
    stmt.SetParamInt(":a", 9);
    stmt.SetParamText(":b", "kept");
    stmt.SetParamInt(":nope", 5);  // a name the statement lacks is skipped
    stmt.ExecQuery();
  }
  EXPECT_EQ(Cell(9), "text:kept");
  EXPECT_EQ(Cell(9, "c"), "null:");
}

TEST_F(SQLiteLayerTest, PositionalExecSQLBindsTextInOrder) {
  FDb->ExecSQL("INSERT INTO t (a, b) VALUES (?, ?)", {"3", "it's"});
  EXPECT_EQ(Cell(3), "text:it's");
  FDb->ExecSQL("DELETE FROM t WHERE b = ?", {"it's"});
  EXPECT_EQ(FDb->GetTableValue("SELECT count(*) FROM t"), 0);
  const std::string bad = "INSERT INTO t (a) VALUES (?)";
  FDb->ExecSQL(bad, {"1"});
  EXPECT_EQ(MessageOf([&] { FDb->ExecSQL(bad, {"1"}); }),
            Report("Error executing SQL statement", 19, bad, "UNIQUE constraint failed: t.a"));
}

TEST_F(SQLiteLayerTest, StatementTextRules) {
  TSQLitePreparedStatement stmt(*FDb);
  EXPECT_EQ(stmt.BindParameterCount(), 0);
  stmt.PrepareStatement("SELECT a FROM t WHERE a = :a");
  EXPECT_EQ(stmt.BindParameterCount(), 1);
  stmt.SetParamInt(":a", 1);
  stmt.SetSQL("SELECT a FROM t WHERE a = :a");  // same text: statement and parameters kept
  EXPECT_TRUE(stmt.Prepared());
  stmt.SetSQL("");  // empty over a text: ignored
  EXPECT_EQ(stmt.SQL(), "SELECT a FROM t WHERE a = :a");
  EXPECT_TRUE(stmt.Prepared());
  stmt.SetSQL("SELECT b FROM t");  // new text: parameters cleared, statement dropped
  EXPECT_FALSE(stmt.Prepared());
  EXPECT_FALSE(stmt.ParamsBound());

  EXPECT_EQ(MessageOf([&] { stmt.PrepareStatement("SELECT nope FROM t"); }),
            Report("Error executing SQL", 1, "SELECT nope FROM t", "no such column: nope"));
  auto table = stmt.ExecQuery("SELECT b FROM t");  // prepares what it lacks, hands it over
  EXPECT_FALSE(stmt.Prepared());
  EXPECT_TRUE(stmt.ParamsBound());
  EXPECT_TRUE(table->Eof());
}

TEST_F(SQLiteLayerTest, CursorsTakeTheirFirstStepAtOnce) {
  EXPECT_TRUE(FDb->GetUniTable("SELECT * FROM t")->Eof());
  for (int i = 1; i <= 3; ++i) FDb->ExecSQL("INSERT INTO t VALUES (" + std::to_string(i) + ", 'r', 0)");
  auto table = FDb->GetUniTable("SELECT a, b AS Label FROM t ORDER BY a");
  ASSERT_FALSE(table->Eof());
  EXPECT_EQ(table->Row(), 1u);
  EXPECT_EQ(table->ColCount(), 2u);
  TSQLiteField& a = table->GetFieldByName("A");
  EXPECT_EQ(table->GetFieldByName("label").Name, "LABEL");
  std::vector<int64_t> seen;
  for (; !table->Eof(); table->Next()) seen.push_back(a.AsInteger());  // the field follows the row
  EXPECT_EQ(seen, (std::vector<int64_t>{1, 2, 3}));
  EXPECT_FALSE(table->Next());  // an ended cursor does not start over
  EXPECT_EQ(a.AsInteger(), 0);
  EXPECT_FALSE(table->StepFailed());
}

TEST_F(SQLiteLayerTest, FieldLookupErrors) {
  auto table = FDb->GetUniTable("SELECT a, b FROM t");
  EXPECT_EQ(MessageOf([&] { table->GetFieldByName("Nope"); }), "Field not found in dataset: Nope");
  auto noColumns = FDb->GetUniTable("CREATE TABLE u (x)");
  EXPECT_EQ(MessageOf([&] { noColumns->GetFieldByName("x"); }), "Field x Not found. Empty dataset");
}

TEST_F(SQLiteLayerTest, AFailedStepEndsTheCursorAndCanBeAskedFor) {
  for (int i = 1; i <= 3; ++i) FDb->ExecSQL("INSERT INTO t VALUES (" + std::to_string(i) + ", 'r', 0)");
  TSQLiteFaults faults;
  faults.Fail(TSQLiteFaults::kStep, "SELECT a FROM t", 2, 1, SQLITE_IOERR);
  auto table = FDb->GetUniTable("SELECT a FROM t");
  int rows = 0;
  for (; !table->Eof(); table->Next()) ++rows;
  EXPECT_EQ(rows, 1);  // the cursor ends without an error
  EXPECT_TRUE(table->StepFailed());
  EXPECT_EQ(MessageOf([&] { table->RaiseIfStepFailed(); }),
            Report("Error executing SQL statement", 10, "SELECT a FROM t", "injected fault"));
  EXPECT_EQ(faults.Fired(), 1);
}

TEST_F(SQLiteLayerTest, ExecuteReusesOnePreparedStatement) {
  TSQLiteFaults faults;
  const std::string insert = "INSERT INTO t (a, b) VALUES (:a, :b)";
  faults.Watch(TSQLiteFaults::kPrepare, insert);
  TSQLitePreparedStatement stmt(*FDb);
  stmt.PrepareStatement(insert);
  for (int i = 1; i <= 3; ++i) {
    stmt.ClearParams();
    stmt.SetParamInt(":a", i);
    std::string text = "v";  // appended: "v" + a temporary trips GCC 12's -Wrestrict at -O3
    text += std::to_string(i);
    stmt.SetParamText(":b", text);
    stmt.Execute();
  }
  stmt.ClearParams();
  stmt.SetParamInt(":a", 2);
  stmt.SetParamText(":b", "dup");
  EXPECT_EQ(MessageOf([&] { stmt.Execute(); }),
            Report("Error executing SQL statement", 19, insert, "UNIQUE constraint failed: t.a"));
  stmt.ClearParams();
  stmt.SetParamInt(":a", 4);
  stmt.SetParamText(":b", "after");
  stmt.Execute();  // usable after a failure
  EXPECT_EQ(faults.Calls(TSQLiteFaults::kPrepare, insert), 1);
  EXPECT_EQ(FDb->GetTableValue("SELECT count(*) FROM t"), 4);
  EXPECT_EQ(Cell(3), "text:v3");
  EXPECT_EQ(Cell(4), "text:after");
}

TEST_F(SQLiteLayerTest, TransactionsAreExplicitAndCloseRollsBack) {
  FDb->BeginTransaction();
  EXPECT_EQ(MessageOf([&] { FDb->BeginTransaction(); }), "Transaction already open");
  EXPECT_TRUE(FDb->IsTransactionOpen());
  FDb->ExecSQL("INSERT INTO t (a) VALUES (1)");
  FDb->Commit();
  EXPECT_FALSE(FDb->IsTransactionOpen());

  FDb->BeginTransaction();
  FDb->ExecSQL("INSERT INTO t (a) VALUES (2)");
  FDb->Close();
  EXPECT_FALSE(FDb->Connected());
  FDb = std::make_unique<TSQLiteDatabase>(FFile);
  EXPECT_EQ(FDb->GetTableValue("SELECT count(*) FROM t"), 1);
  EXPECT_EQ(FDb->GetTableValue("SELECT max(a) FROM t"), 1);
}

TEST_F(SQLiteLayerTest, AFailedCommitLeavesTheTransactionOpen) {
  FDb->BeginTransaction();
  {
    TSQLiteFaults faults;
    faults.Fail(TSQLiteFaults::kStep, "COMMIT", 1, 1, SQLITE_BUSY);
    EXPECT_EQ(MessageOf([&] { FDb->Commit(); }),
              Report("Error executing SQL statement", 5, "COMMIT", "injected fault"));
  }
  EXPECT_TRUE(FDb->IsTransactionOpen());
  EXPECT_EQ(MessageOf([&] { FDb->BeginTransaction(); }), "Transaction already open");
  FDb->Rollback();
  EXPECT_FALSE(FDb->IsTransactionOpen());
}

TEST_F(SQLiteLayerTest, EndTransactionCopesWithTheEngineEndingTheTransactionItself) {
  FDb->GetTableValue("PRAGMA max_page_count = 4");  // a disk that is full after a few rows
  FDb->BeginTransaction();
  std::string failure = MessageOf([&] {
    for (int i = 0; i < 100; ++i) FDb->ExecSQL("INSERT INTO t (b) VALUES (?)", {std::string(1000, 'x')});
  });
  EXPECT_EQ(failure.rfind("Error executing SQL statement.\rError [13]: ", 0), 0u) << failure;
  EXPECT_TRUE(FDb->IsTransactionOpen());  // the engine has rolled back on its own
  EXPECT_NE(MessageOf([&] { FDb->Rollback(); }), "(no error)");
  EXPECT_TRUE(FDb->IsTransactionOpen());  // so ROLLBACK alone cannot end it
  EXPECT_TRUE(FDb->EndTransaction());
  EXPECT_FALSE(FDb->IsTransactionOpen());
  FDb->BeginTransaction();
  EXPECT_TRUE(FDb->EndTransaction());  // an ordinary transaction rolls back
  EXPECT_FALSE(FDb->IsTransactionOpen());

  FDb->BeginTransaction();
  TSQLiteFaults faults;
  faults.Fail(TSQLiteFaults::kStep, "ROLLBACK", 1, 1, SQLITE_IOERR);
  EXPECT_FALSE(FDb->EndTransaction());  // still inside the engine's transaction: kept open
  EXPECT_TRUE(FDb->IsTransactionOpen());
  EXPECT_TRUE(FDb->EndTransaction());
}

TEST_F(SQLiteLayerTest, AFileThatIsNotADatabaseOpensAndFailsAtTheFirstStatement) {
  std::string junk = FTemp.Path() + "/junk.db";
  std::ofstream(junk) << std::string(4096, 'j');
  TSQLiteDatabase db(junk);
  EXPECT_TRUE(db.Connected());
  const std::string sql = "CREATE TABLE IF NOT EXISTS x (a)";
  EXPECT_EQ(MessageOf([&] { db.ExecSQL(sql); }),
            Report("Error executing SQL", 26, sql, "file is not a database"));
}

}  // namespace
}  // namespace dct
