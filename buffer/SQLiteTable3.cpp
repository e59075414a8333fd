#include "buffer/SQLiteTable3.h"

#include <utility>

namespace dct {

namespace {

constexpr const char kErrExecSQL[] = "Error executing SQL";
constexpr const char kErrPrepare[] = "Could not prepare SQL statement";
constexpr const char kErrExecStatement[] = "Error executing SQL statement";
constexpr const char kErrBind[] = "Error binding SQL parameter";

std::string UpperAscii(std::string text) {
  for (char& ch : text) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return text;
}

// UTF-8 to UTF-16 for sqlite3_open16; a malformed byte becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t cp = 0xFFFD;
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 1) {
      cp = c;
    } else if (len > 1 && i + len <= text.size()) {
      cp = c & (0x7F >> len);
      for (size_t k = 1; k < len; ++k) {
        unsigned char cc = static_cast<unsigned char>(text[i + k]);
        if ((cc >> 6) != 2) {
          cp = 0xFFFD;
          len = k;
          break;
        }
        cp = (cp << 6) | (cc & 0x3F);
      }
    } else {
      len = 1;
    }
    i += len;
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(cp > 0x10FFFF ? u'\uFFFD' : static_cast<char16_t>(cp));
    }
  }
  return out;
}

// Finalizes a statement on every path out of a one-shot execution.
struct TStmtGuard {
  sqlite3_stmt* Stmt = nullptr;
  ~TStmtGuard() {
    if (Stmt != nullptr) SQLite.sqlite3_finalize(Stmt);
  }
};

}  // namespace

std::string SQLiteResultText(int code) {
  switch (code) {
    case 0: return "Successful result";
    case 1: return "SQL error or missing database";
    case 2: return "An internal logic error in SQLite";
    case 3: return "Access permission denied";
    case 4: return "Callback routine requested an abort";
    case 5: return "The database file is locked";
    case 6: return "A table in the database is locked";
    case 7: return "A malloc() failed";
    case 8: return "Attempt to write a readonly database";
    case 9: return "Operation terminated by sqlite3_interrupt()";
    case 10: return "Some kind of disk I/O error occurred";
    case 11: return "The database disk image is malformed";
    case 12: return "(Internal Only) Table or record not found";
    case 13: return "Insertion failed because database is full";
    case 14: return "Unable to open the database file";
    case 15: return "Database lock protocol error";
    case 16: return "Database is empty";
    case 17: return "The database schema changed";
    case 18: return "Too much data for one row of a table";
    case 19: return "Abort due to contraint violation";
    case 20: return "Data type mismatch";
    case 21: return "Library used incorrectly";
    case 22: return "Uses OS features not supported on host";
    case 23: return "Authorization denied";
    case 24: return "Auxiliary database format error";
    case 25: return "2nd parameter to sqlite3_bind out of range";
    case 26: return "File opened that is not a database file";
    case 100: return "sqlite3_step() has another row ready";
    case 101: return "sqlite3_step() has finished executing";
    default: return "Unknown SQLite Error Code \"" + std::to_string(code) + "\"";
  }
}

std::string FormatSQLiteError(const std::string& base, int code, const char* engineMessage,
                              const std::string& sql) {
  if (code == 0 || engineMessage == nullptr) return base;
  std::string msg = base;
  msg += ".\rError [";
  msg += std::to_string(code);
  msg += "]: ";
  msg += SQLiteResultText(code);
  msg += ".\r\"";
  msg += sql;
  msg += "\": ";
  msg += engineMessage;
  return msg;
}

// ---- TSQLiteDatabase ----

TSQLiteDatabase::TSQLiteDatabase(const std::string& AFileName, TSQLiteDBEncoding DefaultEncoding,
                                 const std::string& Password)
    : FFilename(AFileName), FEncoding(DefaultEncoding) {
  if (!AFileName.empty()) Open(Password);
}

TSQLiteDatabase::~TSQLiteDatabase() { Close(); }

void TSQLiteDatabase::Open(const std::string& Password) {
  FConnected = false;
  const std::string prefix = "Failed to open database \"" + FFilename + "\" : ";
  if (SQLite.sqlite3_open == nullptr) throw ESQLiteException(prefix + "SQLite library is not loaded");
  sqlite3* db = nullptr;
  int rc = FEncoding == seUTF16 ? SQLite.sqlite3_open16(Utf8ToUtf16(FFilename).c_str(), &db)
                                : SQLite.sqlite3_open(FFilename.c_str(), &db);
  if (rc != SQLITE_OK) {
    if (db == nullptr) throw ESQLiteException(prefix + "unknown error");
    const char* engine = SQLite.sqlite3_errmsg(db);
    std::string msg = prefix + (engine ? engine : "");
    SQLite.sqlite3_close(db);
    throw ESQLiteException(msg);
  }
  if (!Password.empty()) {
    if (SQLite.sqlite3_key == nullptr) {
      SQLite.sqlite3_close(db);
      throw ESQLiteException(prefix + "the engine cannot apply a key");
    }
    SQLite.sqlite3_key(db, Password.data(), static_cast<int>(Password.size()));
  }
  fDB = db;
  FConnected = true;
}

void TSQLiteDatabase::Close() {
  if (fInTrans) {
    try {
      Rollback();
    } catch (const ESQLiteException&) {
      // Closing ends the transaction in any case: the engine rolls it back.
    }
    fInTrans = false;
  }
  if (fDB != nullptr && SQLite.sqlite3_close != nullptr) SQLite.sqlite3_close(fDB);
  fDB = nullptr;
  FConnected = false;
}

std::string TSQLiteDatabase::SQLiteErrorMessage(const std::string& base, const std::string& sql) const {
  if (fDB == nullptr) return base;
  int code = SQLite.sqlite3_errcode(fDB);
  return FormatSQLiteError(base, code, code != 0 ? SQLite.sqlite3_errmsg(fDB) : nullptr, sql);
}

void TSQLiteDatabase::RaiseSQLiteError(const std::string& base, const std::string& sql) const {
  throw ESQLiteException(SQLiteErrorMessage(base, sql));
}

void TSQLiteDatabase::ExecSQL(const std::string& SQL) {
  if (fDB == nullptr) throw ESQLiteException("Database is not open");
  TStmtGuard guard;
  if (SQLite.sqlite3_prepare_v2(fDB, SQL.c_str(), -1, &guard.Stmt, nullptr) != SQLITE_OK)
    RaiseSQLiteError(kErrExecSQL, SQL);
  if (guard.Stmt == nullptr) RaiseSQLiteError(kErrPrepare, SQL);
  if (SQLite.sqlite3_step(guard.Stmt) != SQLITE_DONE) {
    SQLite.sqlite3_reset(guard.Stmt);
    RaiseSQLiteError(kErrExecStatement, SQL);
  }
}

void TSQLiteDatabase::ExecSQL(const std::string& SQL, const std::vector<std::string>& Bindings) {
  TSQLitePreparedStatement stmt(*this);
  stmt.SetSQL(SQL);
  stmt.PrepareStatement();
  for (size_t i = 0; i < Bindings.size(); ++i) stmt.SetParamText(static_cast<int>(i + 1), Bindings[i]);
  stmt.Execute();
  SQLite.sqlite3_changes(fDB);  // the count of changed rows is read and not used
}

int64_t TSQLiteDatabase::GetTableValue(const std::string& SQL) {
  TSQLitePreparedStatement stmt(*this);
  std::unique_ptr<TSQLiteUniTable> table = stmt.ExecQuery(SQL);
  return table->Eof() ? 0 : table->Field(0).AsInteger();
}

std::unique_ptr<TSQLiteUniTable> TSQLiteDatabase::GetUniTable(const std::string& SQL) {
  return GetPreparedStatement(SQL)->ExecQuery();
}

std::unique_ptr<TSQLitePreparedStatement> TSQLiteDatabase::GetPreparedStatement(const std::string& SQL) {
  auto stmt = std::make_unique<TSQLitePreparedStatement>(*this);
  stmt->SetSQL(SQL);
  stmt->PrepareStatement();
  return stmt;
}

void TSQLiteDatabase::BeginTransaction() {
  if (fInTrans) throw ESQLiteException("Transaction already open");
  ExecSQL("BEGIN TRANSACTION");
  fInTrans = true;
}

void TSQLiteDatabase::Commit() {
  ExecSQL("COMMIT");
  fInTrans = false;
}

void TSQLiteDatabase::Rollback() {
  ExecSQL("ROLLBACK");
  fInTrans = false;
}

bool TSQLiteDatabase::EndTransaction() noexcept {
  if (!fInTrans) return true;
  try {
    Rollback();
    return true;
  } catch (const ESQLiteException&) {
  }
  // The engine takes no BEGIN inside a transaction: one that succeeds shows that the
  // engine's transaction has already ended, and only our own probe is left to undo.
  try {
    ExecSQL("BEGIN TRANSACTION");
  } catch (const ESQLiteException&) {
    return false;
  }
  try {
    ExecSQL("ROLLBACK");
  } catch (const ESQLiteException&) {
    return false;
  }
  fInTrans = false;
  return true;
}

// ---- TSQLitePreparedStatement ----

TSQLitePreparedStatement::TSQLitePreparedStatement(TSQLiteDatabase& DB) : FDB(DB) {}

TSQLitePreparedStatement::~TSQLitePreparedStatement() {
  if (FStmt != nullptr && FOwnedStmt) SQLite.sqlite3_finalize(FStmt);
}

void TSQLitePreparedStatement::SetSQL(const std::string& SQL) {
  if (SQL == FSQL) return;
  if (!FSQL.empty() && SQL.empty()) return;
  FSQL = SQL;
  if (BindParameterCount() > 0) ClearParams();
  if (FStmt != nullptr && FOwnedStmt) {
    SQLite.sqlite3_finalize(FStmt);
    FStmt = nullptr;
  }
}

void TSQLitePreparedStatement::ClearParams() {
  FParamsBound = false;
  if (FStmt != nullptr && FOwnedStmt) SQLite.sqlite3_clear_bindings(FStmt);
  FParamCount = 0;
}

TSQliteParam& TSQLitePreparedStatement::NextParam() {
  if (FParamCount == fParams.size()) fParams.emplace_back();
  return fParams[FParamCount++];
}

void TSQLitePreparedStatement::SetParamText(const std::string& name, const std::string& value) {
  TSQliteParam& p = NextParam();
  if (p.name != name) {
    p.name = name;
    p.positionOf = 0;
  }
  p.index = 0;
  p.valuetype = TSQliteParam::kText;
  p.valuedata = value;
}

void TSQLitePreparedStatement::SetParamInt(const std::string& name, int64_t value) {
  TSQliteParam& p = NextParam();
  if (p.name != name) {
    p.name = name;
    p.positionOf = 0;
  }
  p.index = 0;
  p.valuetype = TSQliteParam::kInteger;
  p.valueinteger = value;
}

void TSQLitePreparedStatement::SetParamText(int index, const std::string& value) {
  TSQliteParam& p = NextParam();
  p.name.clear();
  p.positionOf = 0;
  p.index = index;
  p.valuetype = TSQliteParam::kText;
  p.valuedata = value;
}

int TSQLitePreparedStatement::BindParameterCount() const {
  return FStmt != nullptr ? SQLite.sqlite3_bind_parameter_count(FStmt) : 0;
}

void TSQLitePreparedStatement::Prepare() {
  if (FStmt != nullptr && FOwnedStmt) SQLite.sqlite3_finalize(FStmt);
  FStmt = nullptr;
  FOwnedStmt = true;
  FParamsBound = false;  // a fresh statement has no bindings yet
  ++FGeneration;         // and its own parameter positions
  sqlite3* db = FDB.DB();
  if (db == nullptr) throw ESQLiteException("Database is not open");
  sqlite3_stmt* stmt = nullptr;
  if (SQLite.sqlite3_prepare_v2(db, FSQL.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    if (stmt != nullptr) SQLite.sqlite3_finalize(stmt);
    FDB.RaiseSQLiteError(kErrExecSQL, FSQL);
  }
  if (stmt == nullptr) FDB.RaiseSQLiteError(kErrPrepare, FSQL);
  FStmt = stmt;
}

void TSQLitePreparedStatement::PrepareStatement(const std::string& SQL) {
  if (!SQL.empty() && SQL != FSQL) SetSQL(SQL);
  Prepare();
}

void TSQLitePreparedStatement::BindParams() {
  if (FParamsBound || FStmt == nullptr) return;
  if (static_cast<int>(FParamCount) != SQLite.sqlite3_bind_parameter_count(FStmt)) return;
  for (size_t i = 0; i < FParamCount; ++i) {
    TSQliteParam& p = fParams[i];
    int pos = p.index;
    if (pos <= 0) {
      if (p.positionOf != FGeneration) {
        p.position = SQLite.sqlite3_bind_parameter_index(FStmt, p.name.c_str());
        p.positionOf = FGeneration;
      }
      pos = p.position;
    }
    if (pos == 0) continue;
    int rc = p.valuetype == TSQliteParam::kInteger
                 ? SQLite.sqlite3_bind_int64(FStmt, pos, p.valueinteger)
                 : SQLite.sqlite3_bind_text(FStmt, pos, p.valuedata.c_str(), -1, SQLITE_TRANSIENT);
    // A parameter left NULL by a failed bind would store or match the wrong value.
    if (rc != SQLITE_OK) FDB.RaiseSQLiteError(kErrBind, FSQL);
  }
  FParamsBound = true;
}

std::unique_ptr<TSQLiteUniTable> TSQLitePreparedStatement::ExecQuery() {
  if (FStmt == nullptr) Prepare();
  BindParams();
  sqlite3_stmt* stmt = FStmt;
  // The cursor finalizes the handle from here on; forgetting it keeps this object from
  // touching a statement it no longer owns.
  FStmt = nullptr;
  FOwnedStmt = false;
  return std::make_unique<TSQLiteUniTable>(FDB, stmt, FSQL);
}

std::unique_ptr<TSQLiteUniTable> TSQLitePreparedStatement::ExecQueryKeeping() {
  if (FStmt == nullptr) Prepare();
  BindParams();
  return std::make_unique<TSQLiteUniTable>(FDB, FStmt, FSQL, /*ownsStmt=*/false);
}

std::unique_ptr<TSQLiteUniTable> TSQLitePreparedStatement::ExecQuery(const std::string& SQL) {
  if (FStmt == nullptr) PrepareStatement(SQL);
  return ExecQuery();
}

void TSQLitePreparedStatement::Execute() {
  if (FStmt == nullptr) Prepare();
  BindParams();
  if (SQLite.sqlite3_step(FStmt) != SQLITE_DONE) {
    SQLite.sqlite3_reset(FStmt);
    FDB.RaiseSQLiteError(kErrExecStatement, FSQL);
  }
  SQLite.sqlite3_reset(FStmt);
}

// ---- TSQLiteUniTable / TSQLiteField ----

TSQLiteUniTable::TSQLiteUniTable(TSQLiteDatabase& DB, sqlite3_stmt* stmt, std::string sql, bool ownsStmt)
    : fStmt(stmt), FOwnsStmt(ownsStmt), fDB(DB), FSQL(std::move(sql)) {
  fColCount = static_cast<unsigned>(SQLite.sqlite3_column_count(fStmt));
  Next();
  FFields.reserve(fColCount);
  for (unsigned i = 0; i < fColCount; ++i) {
    const char* name = SQLite.sqlite3_column_name(fStmt, static_cast<int>(i));
    std::string upper = UpperAscii(name ? name : "");
    fCols[upper] = static_cast<int>(i);
    FFields.push_back(std::make_unique<TSQLiteField>(*this, static_cast<int>(i), std::move(upper)));
  }
}

TSQLiteUniTable::~TSQLiteUniTable() {
  if (fStmt == nullptr) return;
  // A kept statement is reset so that it holds no read lock between runs.
  if (FOwnsStmt)
    SQLite.sqlite3_finalize(fStmt);
  else
    SQLite.sqlite3_reset(fStmt);
}

bool TSQLiteUniTable::Next() {
  fEOF = true;
  // Once ended, the cursor stays ended: stepping again would restart the statement.
  if (FEnded) return false;
  int rc = SQLite.sqlite3_step(fStmt);
  if (rc == SQLITE_ROW) {
    fEOF = false;
    ++fRow;
    return true;
  }
  FEnded = true;
  if (rc != SQLITE_DONE) {
    SQLite.sqlite3_reset(fStmt);
    sqlite3* db = fDB.DB();
    int code = db != nullptr ? SQLite.sqlite3_errcode(db) : 0;
    FStepCode = code != 0 ? code : rc;
    const char* msg = db != nullptr ? SQLite.sqlite3_errmsg(db) : nullptr;
    FStepMessage = msg ? msg : "";
  }
  return !fEOF;
}

TSQLiteField& TSQLiteUniTable::GetFieldByName(const std::string& FieldName) {
  if (fCols.empty()) throw ESQLiteException("Field " + FieldName + " Not found. Empty dataset");
  auto it = fCols.find(UpperAscii(FieldName));
  if (it == fCols.end()) throw ESQLiteException("Field not found in dataset: " + FieldName);
  return *FFields[static_cast<size_t>(it->second)];
}

void TSQLiteUniTable::RaiseIfStepFailed() const {
  if (FStepCode == 0) return;
  throw ESQLiteException(FormatSQLiteError(kErrExecStatement, FStepCode, FStepMessage.c_str(), FSQL));
}

int64_t TSQLiteField::AsInteger() const {
  if (Table.Eof()) return 0;
  return SQLite.sqlite3_column_int64(Table.Stmt(), Index);
}

std::string TSQLiteField::AsString() const {
  if (Table.Eof()) return {};
  const unsigned char* text = SQLite.sqlite3_column_text(Table.Stmt(), Index);
  if (text == nullptr) return {};
  int bytes = SQLite.sqlite3_column_bytes(Table.Stmt(), Index);
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(bytes));
}

}  // namespace dct
