// The thin object layer through which the data buffer reaches SQLite: a connection, a
// prepared statement with named parameters, a forward-only cursor and its fields. Text is
// UTF-8 throughout (the engine's UTF-8 entry points store what its UTF-16 ones would).
//
// Every failure raises ESQLiteException. Engine errors are reported by RaiseSQLiteError as
//   <base>.\rError [<code>]: <code text>.\r"<SQL>": <engine message>
// ("\r" is a carriage return), or as <base> alone when the connection's code is 0.
//
// Behaviour that callers rely on or work around:
//   - no busy timeout, no PRAGMA, no collation: a file locked by another connection fails at
//     once with code 5; foreign keys are not enforced; the rollback journal stays in force.
//   - ExecSQL prepares only the first statement of its text; one that yields a row fails.
//   - a parameter list whose length differs from the statement's parameter count is not
//     bound at all (every parameter stays NULL); a name missing from the statement is skipped.
//   - a cursor takes its first step when it is opened; a step that fails ends the cursor
//     without an error. StepFailed() / RaiseIfStepFailed() tell a caller that this happened.
//   - a failed COMMIT leaves the transaction open (IsTransactionOpen stays true).
//
// Ownership: the creator of a connection frees it; whoever receives a cursor frees it, which
// finalizes its statement; a statement object finalizes only a statement it still owns.
// REQUIRES: statements and cursors are freed before their connection. One thread at a time.
//
// In one call: called by TDataBuffer; calls the engine through the entry points that
// SQLite3.h binds at run time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "buffer/SQLite3.h"

namespace dct {

class TSQLiteUniTable;
class TSQLitePreparedStatement;

// How the file name is passed at open: sqlite3_open (UTF-8) or sqlite3_open16.
enum TSQLiteDBEncoding { seUTF8 = 0, seUTF16 = 1 };

// The code's text of the error table ("Unknown SQLite Error Code "N"" for others).
std::string SQLiteResultText(int code);
// The message RaiseSQLiteError raises, from its parts.
std::string FormatSQLiteError(const std::string& base, int code, const char* engineMessage,
                              const std::string& sql);

class TSQLiteDatabase {
 public:
  // Opens the file at once unless AFileName is empty. Raises on failure.
  explicit TSQLiteDatabase(const std::string& AFileName, TSQLiteDBEncoding DefaultEncoding = seUTF8,
                           const std::string& Password = "");
  ~TSQLiteDatabase();  // closes a connected connection
  TSQLiteDatabase(const TSQLiteDatabase&) = delete;
  TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

  // Opens Filename(); the file is created when missing. A non-empty password is applied
  // with sqlite3_key, which needs an engine that has it.
  void Open(const std::string& Password = "");
  // Rolls back an open transaction, closes (ignoring the engine's result). Never raises.
  void Close();

  // One statement that yields no rows.
  void ExecSQL(const std::string& SQL);
  // One statement whose positional parameters take Bindings as text, position 1 first.
  void ExecSQL(const std::string& SQL, const std::vector<std::string>& Bindings);
  // First column of the first row, or 0 without a row (or when a step fails).
  int64_t GetTableValue(const std::string& SQL);
  std::unique_ptr<TSQLiteUniTable> GetUniTable(const std::string& SQL);
  std::unique_ptr<TSQLitePreparedStatement> GetPreparedStatement(const std::string& SQL);

  // BeginTransaction raises "Transaction already open" while one is open.
  void BeginTransaction();
  void Commit();
  void Rollback();
  // Leaves any transaction, never raising: ROLLBACK, and when that fails because the engine
  // has already ended the transaction itself (a full disk or an I/O error rolls back on its
  // own), forgets it. Returns whether the connection is outside a transaction afterwards.
  bool EndTransaction() noexcept;

  bool IsTransactionOpen() const { return fInTrans; }
  bool Connected() const { return FConnected; }
  const std::string& Filename() const { return FFilename; }
  TSQLiteDBEncoding Encoding() const { return FEncoding; }
  sqlite3* DB() const { return fDB; }

  // Raises ESQLiteException built from the connection's current code and message.
  [[noreturn]] void RaiseSQLiteError(const std::string& base, const std::string& sql) const;
  // The message RaiseSQLiteError would raise now.
  std::string SQLiteErrorMessage(const std::string& base, const std::string& sql) const;

 private:
  sqlite3* fDB = nullptr;
  bool fInTrans = false;
  std::string FFilename;
  TSQLiteDBEncoding FEncoding;
  bool FConnected = false;
};

// One collected parameter: a named one (name with its colon, index 0) or a positional one
// (index from 1, empty name).
struct TSQliteParam {
  enum : int { kInteger = 1, kText = 3 };
  std::string name;
  int index = 0;
  int valuetype = kText;
  int64_t valueinteger = 0;
  std::string valuedata;
  // The name's position in the statement of generation `positionOf`, looked up once per
  // prepared statement rather than once per execution.
  int position = 0;
  uint64_t positionOf = 0;
};

class TSQLitePreparedStatement {
 public:
  explicit TSQLitePreparedStatement(TSQLiteDatabase& DB);
  ~TSQLitePreparedStatement();
  TSQLitePreparedStatement(const TSQLitePreparedStatement&) = delete;
  TSQLitePreparedStatement& operator=(const TSQLitePreparedStatement&) = delete;

  const std::string& SQL() const { return FSQL; }
  // Same text: nothing. Empty text over a non-empty one: nothing. Otherwise stores the text,
  // clears the parameters when the current statement has any, and drops an owned statement.
  void SetSQL(const std::string& SQL);
  TSQLiteDatabase& DB() const { return FDB; }

  // Forgets the collected parameters and the engine's bindings of an owned statement.
  void ClearParams();
  // Collect a parameter; nothing reaches the engine before execution.
  void SetParamText(const std::string& name, const std::string& value);
  void SetParamInt(const std::string& name, int64_t value);
  void SetParamText(int index, const std::string& value);  // positional, from 1

  // Prepares SQL (assigned first when given and different) or the current text.
  void PrepareStatement(const std::string& SQL = "");
  // Binds (once) and hands the statement to a new cursor, preparing first when needed.
  std::unique_ptr<TSQLiteUniTable> ExecQuery();
  std::unique_ptr<TSQLiteUniTable> ExecQuery(const std::string& SQL);
  // Like ExecQuery, but the statement stays this object's: the cursor resets it when freed,
  // so a query run over and over is prepared once.
  // REQUIRES: the cursor is freed before this object and before the next execution.
  std::unique_ptr<TSQLiteUniTable> ExecQueryKeeping();
  // Runs the statement once for its effect and keeps it for the next run: prepares when
  // needed, binds, steps, resets. Raises "Error executing SQL statement" unless the step
  // reports SQLITE_DONE; the next ClearParams and SetParam* calls rebind it.
  void Execute();

  int BindParameterCount() const;
  bool ParamsBound() const { return FParamsBound; }
  bool Prepared() const { return FStmt != nullptr; }

 private:
  void Prepare();
  void BindParams();
  TSQliteParam& NextParam();

  std::string FSQL;
  TSQLiteDatabase& FDB;
  // The collected parameters are fParams[0, FParamCount). Entries beyond stay allocated, so
  // a statement executed row after row reuses their strings instead of allocating anew.
  std::vector<TSQliteParam> fParams;
  size_t FParamCount = 0;
  uint64_t FGeneration = 0;  // counts the statements prepared by this object
  sqlite3_stmt* FStmt = nullptr;
  bool FParamsBound = false;
  bool FOwnedStmt = true;
};

class TSQLiteField {
 public:
  TSQLiteField(TSQLiteUniTable& table, int index, std::string name)
      : Table(table), Index(index), Name(std::move(name)) {}
  // The cursor's current row: NULL gives 0 / empty text; no current row gives the same.
  int64_t AsInteger() const;
  std::string AsString() const;

  TSQLiteUniTable& Table;
  const int Index;
  const std::string Name;  // upper-cased column name
};

class TSQLiteUniTable {
 public:
  // Takes over `stmt` (finalized at destruction; only reset when `ownsStmt` is false, the
  // statement then staying its creator's) and takes the first step.
  TSQLiteUniTable(TSQLiteDatabase& DB, sqlite3_stmt* stmt, std::string sql, bool ownsStmt = true);
  ~TSQLiteUniTable();
  TSQLiteUniTable(const TSQLiteUniTable&) = delete;
  TSQLiteUniTable& operator=(const TSQLiteUniTable&) = delete;

  // No current row.
  bool Eof() const { return fEOF; }
  // Steps to the next row; false at the end and after a failed step.
  bool Next();
  // Case-insensitive. Raises "Field <name> Not found. Empty dataset" when the result has no
  // columns, "Field not found in dataset: <name>" when none has this name.
  TSQLiteField& GetFieldByName(const std::string& FieldName);
  TSQLiteField& Field(int index) { return *FFields.at(static_cast<size_t>(index)); }
  unsigned ColCount() const { return fColCount; }
  uint64_t Row() const { return fRow; }

  // A step ended the cursor with an error rather than at the last row.
  bool StepFailed() const { return FStepCode != 0; }
  // Raises "Error executing SQL statement" with the failed step's code and message.
  void RaiseIfStepFailed() const;

  sqlite3_stmt* Stmt() const { return fStmt; }

 private:
  sqlite3_stmt* fStmt;
  bool FOwnsStmt;
  TSQLiteDatabase& fDB;
  std::string FSQL;
  unsigned fColCount = 0;
  std::map<std::string, int> fCols;
  std::vector<std::unique_ptr<TSQLiteField>> FFields;
  uint64_t fRow = 0;
  bool fEOF = true;
  bool FEnded = false;       // the last step gave no row
  int FStepCode = 0;         // the code of a failed step, 0 while none failed
  std::string FStepMessage;  // the message that the failed step left
};

}  // namespace dct
