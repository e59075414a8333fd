// Test-only: injects engine faults through the table of entry points.
//
// TSQLiteFaults swaps a few slots of `SQLite` (open, prepare, step, finalize, errcode,
// errmsg) for wrappers and restores the table when it goes out of scope. A rule names an
// entry point, the start of the SQL text it applies to (empty: any), the first matching call
// that fails (1-based), how many calls fail from there (kForever: all) and the code returned.
// After a fault fired on a connection, errcode and errmsg report that code and "injected
// fault" until the connection's next successful prepare or step, as the engine would.
//
//   TSQLiteFaults faults;
//   faults.Fail(TSQLiteFaults::kStep, "COMMIT", 1, 1, SQLITE_BUSY);
//
// REQUIRES: a library is bound; one TSQLiteFaults at a time; one thread.
#pragma once

#include <cassert>
#include <map>
#include <string>
#include <vector>

#include "buffer/SQLite3.h"

namespace dct {

class TSQLiteFaults {
 public:
  enum TEntry { kOpen, kPrepare, kStep };
  static constexpr int kForever = -1;

  TSQLiteFaults() {
    assert(FActive == nullptr && SQLite.sqlite3_step != nullptr);
    FSaved = SQLite;
    FActive = this;
    SQLite.sqlite3_open = &Open;
    SQLite.sqlite3_prepare_v2 = &Prepare;
    SQLite.sqlite3_step = &Step;
    SQLite.sqlite3_finalize = &Finalize;
    SQLite.sqlite3_errcode = &ErrCode;
    SQLite.sqlite3_errmsg = &ErrMsg;
  }
  ~TSQLiteFaults() {
    SQLite = FSaved;
    FActive = nullptr;
  }
  TSQLiteFaults(const TSQLiteFaults&) = delete;
  TSQLiteFaults& operator=(const TSQLiteFaults&) = delete;

  // With engineRollsBack, a step fault first rolls the connection's transaction back, as the
  // engine itself does on a full disk or an I/O error.
  void Fail(TEntry entry, const std::string& sqlPrefix, int first, int count, int code,
            bool engineRollsBack = false) {
    FRules.push_back(TRule{entry, sqlPrefix, first, count, code, engineRollsBack, 0});
  }
  // Faults injected so far.
  int Fired() const { return FFired; }
  // Starts counting the calls of `entry` on SQL text that starts with `sqlPrefix`.
  void Watch(TEntry entry, const std::string& sqlPrefix) { FWatches.push_back({entry, sqlPrefix, 0}); }
  // The calls counted by the Watch with these arguments, faulted or not.
  int Calls(TEntry entry, const std::string& sqlPrefix) const {
    for (const TWatched& w : FWatches)
      if (w.entry == entry && w.prefix == sqlPrefix) return w.calls;
    return -1;
  }

 private:
  struct TRule {
    TEntry entry;
    std::string prefix;
    int first;
    int count;
    int code;
    bool rollsBack;
    int seen;
  };
  struct TWatched {
    TEntry entry;
    std::string prefix;
    int calls;
  };
  struct TStmt {
    sqlite3* db;
    std::string sql;
  };

  // The rule that makes this call fail, or null.
  const TRule* Match(TEntry entry, const std::string& sql) {
    for (TWatched& w : FWatches)
      if (w.entry == entry && sql.rfind(w.prefix, 0) == 0) ++w.calls;
    for (TRule& r : FRules) {
      if (r.entry != entry || sql.rfind(r.prefix, 0) != 0) continue;
      ++r.seen;
      if (r.seen >= r.first && (r.count == kForever || r.seen < r.first + r.count)) {
        ++FFired;
        return &r;
      }
    }
    return nullptr;
  }

  static int Open(const char* filename, sqlite3** db) {
    if (const TRule* r = FActive->Match(kOpen, filename ? filename : "")) {
      *db = nullptr;
      return r->code;
    }
    return FActive->FSaved.sqlite3_open(filename, db);
  }
  static int Prepare(sqlite3* db, const char* sql, int n, sqlite3_stmt** stmt, const char** tail) {
    std::string text = sql ? std::string(sql) : std::string();
    if (const TRule* r = FActive->Match(kPrepare, text)) {
      *stmt = nullptr;
      FActive->FPending[db] = r->code;
      return r->code;
    }
    int rc = FActive->FSaved.sqlite3_prepare_v2(db, sql, n, stmt, tail);
    if (rc == SQLITE_OK) FActive->FPending.erase(db);
    if (rc == SQLITE_OK && *stmt != nullptr) FActive->FStmts[*stmt] = TStmt{db, text};
    return rc;
  }
  static int Step(sqlite3_stmt* stmt) {
    auto it = FActive->FStmts.find(stmt);
    if (it != FActive->FStmts.end()) {
      if (const TRule* r = FActive->Match(kStep, it->second.sql)) {
        sqlite3* db = it->second.db;
        if (r->rollsBack) FActive->FSaved.sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        FActive->FPending[db] = r->code;
        return r->code;
      }
    }
    int rc = FActive->FSaved.sqlite3_step(stmt);
    if ((rc == SQLITE_ROW || rc == SQLITE_DONE) && it != FActive->FStmts.end())
      FActive->FPending.erase(it->second.db);
    return rc;
  }
  static int Finalize(sqlite3_stmt* stmt) {
    FActive->FStmts.erase(stmt);
    return FActive->FSaved.sqlite3_finalize(stmt);
  }
  static int ErrCode(sqlite3* db) {
    auto it = FActive->FPending.find(db);
    return it != FActive->FPending.end() ? it->second : FActive->FSaved.sqlite3_errcode(db);
  }
  static const char* ErrMsg(sqlite3* db) {
    return FActive->FPending.count(db) ? "injected fault" : FActive->FSaved.sqlite3_errmsg(db);
  }

  static inline TSQLiteFaults* FActive = nullptr;
  TSQLiteAPI FSaved;
  std::vector<TRule> FRules;
  std::map<sqlite3_stmt*, TStmt> FStmts;
  std::map<sqlite3*, int> FPending;
  std::vector<TWatched> FWatches;
  int FFired = 0;
};

}  // namespace dct
