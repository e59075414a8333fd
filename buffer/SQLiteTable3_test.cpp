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

using testing::TempDir;

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
    file_ = tmp_.path() + "/test.db";
    db_ = std::make_unique<TSQLiteDatabase>(file_);
    db_->ExecSQL("CREATE TABLE t (a INTEGER PRIMARY KEY, b TEXT, c INTEGER)");
  }

  // typeof() and value of column b in the row with key a, e.g. "text:abc" or "null:".
  std::string Cell(int64_t a, const char* column = "b") {
    auto table = db_->GetUniTable("SELECT typeof(" + std::string(column) + ") AS k, " + column +
                                  " AS v FROM t WHERE a = " + std::to_string(a));
    if (table->Eof()) return "(no row)";
    return table->GetFieldByName("k").AsString() + ":" + table->GetFieldByName("v").AsString();
  }

  TempDir tmp_;
  std::string file_;
  std::unique_ptr<TSQLiteDatabase> db_;
};

TEST_F(SQLiteLayerTest, OpenFailuresNameTheFile) {
  std::string missing = tmp_.path() + "/no/such/folder/x.db";
  EXPECT_EQ(MessageOf([&] { TSQLiteDatabase db(missing); }),
            "Failed to open database \"" + missing + "\" : unable to open database file");
  {
    TSQLiteFaults faults;
    faults.Fail(TSQLiteFaults::kOpen, "", 1, 1, SQLITE_NOMEM);
    EXPECT_EQ(MessageOf([&] { TSQLiteDatabase db(file_); }),
              "Failed to open database \"" + file_ + "\" : unknown error");
  }
  EXPECT_EQ(MessageOf([&] { TSQLiteDatabase db(file_, seUTF8, "secret"); }),
            "Failed to open database \"" + file_ + "\" : the engine cannot apply a key");
  db_.reset();  // no connection may outlive the library it came from
  UnloadSQLiteLibrary();
  EXPECT_EQ(MessageOf([&] { TSQLiteDatabase db(file_); }),
            "Failed to open database \"" + file_ + "\" : SQLite library is not loaded");
  ASSERT_TRUE(LoadSQLiteLibrary(""));
  TSQLiteDatabase unopened("");
  EXPECT_FALSE(unopened.Connected());
}

TEST_F(SQLiteLayerTest, Utf16FileNamesReachTheSameFile) {
  std::string name = tmp_.path() + "/база данных 😀.db";
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
  db_->ExecSQL("CREATE TABLE t1 (a); CREATE TABLE t2 (a)");
  EXPECT_EQ(db_->GetTableValue("SELECT count(*) FROM sqlite_master WHERE name IN ('t1', 't2')"), 1);

  struct Case {
    std::string sql;
    std::string message;
  } cases[] = {
      {"SELECT 1", "Error executing SQL statement"},
      {"", "Could not prepare SQL statement"},
      {"  -- only a comment", "Could not prepare SQL statement"},
      {"SELEC 1", Report("Error executing SQL", 1, "SELEC 1", "near \"SELEC\": syntax error")},
      {"INSERT INTO nowhere VALUES (1)",
       Report("Error executing SQL", 1, "INSERT INTO nowhere VALUES (1)", "no such table: nowhere")},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageOf([&] { db_->ExecSQL(c.sql); }), c.message) << c.sql;

  db_->ExecSQL("INSERT INTO t (a) VALUES (1)");
  const std::string dup = "INSERT INTO t (a) VALUES (1)";
  EXPECT_EQ(MessageOf([&] { db_->ExecSQL(dup); }),
            Report("Error executing SQL statement", 19, dup, "UNIQUE constraint failed: t.a"));
}

TEST_F(SQLiteLayerTest, ResultTextsAndUnknownCodes) {
  struct Case {
    int code;
    const char* text;
  } cases[] = {
      {0, "Successful result"},
      {5, "The database file is locked"},
      {19, "Abort due to contraint violation"},
      {26, "File opened that is not a database file"},
      {101, "sqlite3_step() has finished executing"},
      {27, "Unknown SQLite Error Code \"27\""},
      {-3, "Unknown SQLite Error Code \"-3\""},
  };
  for (const Case& c : cases) EXPECT_EQ(SQLiteResultText(c.code), c.text) << c.code;
  EXPECT_EQ(FormatSQLiteError("Base", 0, "ignored", "SQL"), "Base");
}

TEST_F(SQLiteLayerTest, GetTableValueReadsTheFirstColumnOfTheFirstRow) {
  db_->ExecSQL("INSERT INTO t VALUES (1, '12abc', NULL)");
  db_->ExecSQL("INSERT INTO t VALUES (2, 'x', 7)");
  struct Case {
    const char* sql;
    int64_t value;
  } cases[] = {
      {"SELECT count(*) FROM t", 2},         {"SELECT c FROM t WHERE a = 3", 0},  // no row
      {"SELECT c FROM t WHERE a = 1", 0},                                         // NULL
      {"SELECT b FROM t WHERE a = 1", 12},  // text gives its leading number
      {"SELECT c, a FROM t WHERE a = 2", 7},
  };
  for (const Case& c : cases) EXPECT_EQ(db_->GetTableValue(c.sql), c.value) << c.sql;
}

TEST_F(SQLiteLayerTest, NamedParametersBindAsTheirKinds) {
  const std::string insert = "INSERT INTO t (a, b, c) VALUES (:a, :b, :c)";
  struct Case {
    int64_t a;
    std::string b;
    std::string expected;
  } cases[] = {
      {1, "plain", "text:plain"},
      {2, "", "text:"},                          // empty text is text, not NULL
      {3, std::string("ab\0cd", 5), "text:ab"},  // stored up to the NUL character
      {4, "x') OR ('1'='1", "text:x') OR ('1'='1"},
      {5, "юникод", "text:юникод"},
  };
  for (const Case& c : cases) {
    TSQLitePreparedStatement stmt(*db_);
    stmt.SetSQL(insert);
    stmt.ClearParams();
    stmt.SetParamInt(":a", c.a);
    stmt.SetParamText(":b", c.b);
    stmt.SetParamInt(":c", c.a * 10);
    stmt.PrepareStatement();
    stmt.ExecQuery();
    EXPECT_EQ(Cell(c.a), c.expected);
    EXPECT_EQ(Cell(c.a, "c"), "integer:" + std::to_string(c.a * 10));
  }
}

TEST_F(SQLiteLayerTest, AListThatDoesNotMatchTheParameterCountIsNotBound) {
  const std::string insert = "INSERT INTO t (a, b, c) VALUES (:a, :b, :c)";
  {
    TSQLitePreparedStatement stmt(*db_);
    stmt.PrepareStatement(insert);
    stmt.SetParamInt(":a", 1);
    stmt.SetParamText(":b", "lost");
    stmt.ExecQuery();  // two of three: nothing bound, a NULL key gets the next rowid
  }
  EXPECT_EQ(db_->GetTableValue("SELECT count(*) FROM t WHERE b IS NULL AND c IS NULL"), 1);
  {
    TSQLitePreparedStatement stmt(*db_);
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
  db_->ExecSQL("INSERT INTO t (a, b) VALUES (?, ?)", {"3", "it's"});
  EXPECT_EQ(Cell(3), "text:it's");
  db_->ExecSQL("DELETE FROM t WHERE b = ?", {"it's"});
  EXPECT_EQ(db_->GetTableValue("SELECT count(*) FROM t"), 0);
  const std::string bad = "INSERT INTO t (a) VALUES (?)";
  db_->ExecSQL(bad, {"1"});
  EXPECT_EQ(MessageOf([&] { db_->ExecSQL(bad, {"1"}); }),
            Report("Error executing SQL statement", 19, bad, "UNIQUE constraint failed: t.a"));
}

TEST_F(SQLiteLayerTest, StatementTextRules) {
  TSQLitePreparedStatement stmt(*db_);
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
  EXPECT_TRUE(db_->GetUniTable("SELECT * FROM t")->Eof());
  for (int i = 1; i <= 3; ++i) db_->ExecSQL("INSERT INTO t VALUES (" + std::to_string(i) + ", 'r', 0)");
  auto table = db_->GetUniTable("SELECT a, b AS Label FROM t ORDER BY a");
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
  auto table = db_->GetUniTable("SELECT a, b FROM t");
  EXPECT_EQ(MessageOf([&] { table->GetFieldByName("Nope"); }), "Field not found in dataset: Nope");
  auto noColumns = db_->GetUniTable("CREATE TABLE u (x)");
  EXPECT_EQ(MessageOf([&] { noColumns->GetFieldByName("x"); }), "Field x Not found. Empty dataset");
}

TEST_F(SQLiteLayerTest, AFailedStepEndsTheCursorAndCanBeAskedFor) {
  for (int i = 1; i <= 3; ++i) db_->ExecSQL("INSERT INTO t VALUES (" + std::to_string(i) + ", 'r', 0)");
  TSQLiteFaults faults;
  faults.Fail(TSQLiteFaults::kStep, "SELECT a FROM t", 2, 1, SQLITE_IOERR);
  auto table = db_->GetUniTable("SELECT a FROM t");
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
  TSQLitePreparedStatement stmt(*db_);
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
  EXPECT_EQ(db_->GetTableValue("SELECT count(*) FROM t"), 4);
  EXPECT_EQ(Cell(3), "text:v3");
  EXPECT_EQ(Cell(4), "text:after");
}

TEST_F(SQLiteLayerTest, TransactionsAreExplicitAndCloseRollsBack) {
  db_->BeginTransaction();
  EXPECT_EQ(MessageOf([&] { db_->BeginTransaction(); }), "Transaction already open");
  EXPECT_TRUE(db_->IsTransactionOpen());
  db_->ExecSQL("INSERT INTO t (a) VALUES (1)");
  db_->Commit();
  EXPECT_FALSE(db_->IsTransactionOpen());

  db_->BeginTransaction();
  db_->ExecSQL("INSERT INTO t (a) VALUES (2)");
  db_->Close();
  EXPECT_FALSE(db_->Connected());
  db_ = std::make_unique<TSQLiteDatabase>(file_);
  EXPECT_EQ(db_->GetTableValue("SELECT count(*) FROM t"), 1);
  EXPECT_EQ(db_->GetTableValue("SELECT max(a) FROM t"), 1);
}

TEST_F(SQLiteLayerTest, AFailedCommitLeavesTheTransactionOpen) {
  db_->BeginTransaction();
  {
    TSQLiteFaults faults;
    faults.Fail(TSQLiteFaults::kStep, "COMMIT", 1, 1, SQLITE_BUSY);
    EXPECT_EQ(MessageOf([&] { db_->Commit(); }),
              Report("Error executing SQL statement", 5, "COMMIT", "injected fault"));
  }
  EXPECT_TRUE(db_->IsTransactionOpen());
  EXPECT_EQ(MessageOf([&] { db_->BeginTransaction(); }), "Transaction already open");
  db_->Rollback();
  EXPECT_FALSE(db_->IsTransactionOpen());
}

TEST_F(SQLiteLayerTest, EndTransactionCopesWithTheEngineEndingTheTransactionItself) {
  db_->GetTableValue("PRAGMA max_page_count = 4");  // a disk that is full after a few rows
  db_->BeginTransaction();
  std::string failure = MessageOf([&] {
    for (int i = 0; i < 100; ++i) db_->ExecSQL("INSERT INTO t (b) VALUES (?)", {std::string(1000, 'x')});
  });
  EXPECT_EQ(failure.rfind("Error executing SQL statement.\rError [13]: ", 0), 0u) << failure;
  EXPECT_TRUE(db_->IsTransactionOpen());  // the engine has rolled back on its own
  EXPECT_NE(MessageOf([&] { db_->Rollback(); }), "(no error)");
  EXPECT_TRUE(db_->IsTransactionOpen());  // so ROLLBACK alone cannot end it
  EXPECT_TRUE(db_->EndTransaction());
  EXPECT_FALSE(db_->IsTransactionOpen());
  db_->BeginTransaction();
  EXPECT_TRUE(db_->EndTransaction());  // an ordinary transaction rolls back
  EXPECT_FALSE(db_->IsTransactionOpen());

  db_->BeginTransaction();
  TSQLiteFaults faults;
  faults.Fail(TSQLiteFaults::kStep, "ROLLBACK", 1, 1, SQLITE_IOERR);
  EXPECT_FALSE(db_->EndTransaction());  // still inside the engine's transaction: kept open
  EXPECT_TRUE(db_->IsTransactionOpen());
  EXPECT_TRUE(db_->EndTransaction());
}

TEST_F(SQLiteLayerTest, AFileThatIsNotADatabaseOpensAndFailsAtTheFirstStatement) {
  std::string junk = tmp_.path() + "/junk.db";
  std::ofstream(junk) << std::string(4096, 'j');
  TSQLiteDatabase db(junk);
  EXPECT_TRUE(db.Connected());
  const std::string sql = "CREATE TABLE IF NOT EXISTS x (a)";
  EXPECT_EQ(MessageOf([&] { db.ExecSQL(sql); }),
            Report("Error executing SQL", 26, sql, "file is not a database"));
}

}  // namespace
}  // namespace dct
