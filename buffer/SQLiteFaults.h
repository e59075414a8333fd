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
  enum Entry { kOpen, kPrepare, kStep };
  static constexpr int kForever = -1;

  TSQLiteFaults() {
    assert(active_ == nullptr && SQLite.sqlite3_step != nullptr);
    saved_ = SQLite;
    active_ = this;
    SQLite.sqlite3_open = &Open;
    SQLite.sqlite3_prepare_v2 = &Prepare;
    SQLite.sqlite3_step = &Step;
    SQLite.sqlite3_finalize = &Finalize;
    SQLite.sqlite3_errcode = &ErrCode;
    SQLite.sqlite3_errmsg = &ErrMsg;
  }
  ~TSQLiteFaults() {
    SQLite = saved_;
    active_ = nullptr;
  }
  TSQLiteFaults(const TSQLiteFaults&) = delete;
  TSQLiteFaults& operator=(const TSQLiteFaults&) = delete;

  // With engineRollsBack, a step fault first rolls the connection's transaction back, as the
  // engine itself does on a full disk or an I/O error.
  void Fail(Entry entry, const std::string& sqlPrefix, int first, int count, int code,
            bool engineRollsBack = false) {
    rules_.push_back(Rule{entry, sqlPrefix, first, count, code, engineRollsBack, 0});
  }
  // Faults injected so far.
  int Fired() const { return fired_; }
  // Starts counting the calls of `entry` on SQL text that starts with `sqlPrefix`.
  void Watch(Entry entry, const std::string& sqlPrefix) { watches_.push_back({entry, sqlPrefix, 0}); }
  // The calls counted by the Watch with these arguments, faulted or not.
  int Calls(Entry entry, const std::string& sqlPrefix) const {
    for (const Watched& w : watches_)
      if (w.entry == entry && w.prefix == sqlPrefix) return w.calls;
    return -1;
  }

 private:
  struct Rule {
    Entry entry;
    std::string prefix;
    int first;
    int count;
    int code;
    bool rollsBack;
    int seen;
  };
  struct Watched {
    Entry entry;
    std::string prefix;
    int calls;
  };
  struct Stmt {
    sqlite3* db;
    std::string sql;
  };

  // The rule that makes this call fail, or null.
  const Rule* Match(Entry entry, const std::string& sql) {
    for (Watched& w : watches_)
      if (w.entry == entry && sql.rfind(w.prefix, 0) == 0) ++w.calls;
    for (Rule& r : rules_) {
      if (r.entry != entry || sql.rfind(r.prefix, 0) != 0) continue;
      ++r.seen;
      if (r.seen >= r.first && (r.count == kForever || r.seen < r.first + r.count)) {
        ++fired_;
        return &r;
      }
    }
    return nullptr;
  }

  static int Open(const char* filename, sqlite3** db) {
    if (const Rule* r = active_->Match(kOpen, filename ? filename : "")) {
      *db = nullptr;
      return r->code;
    }
    return active_->saved_.sqlite3_open(filename, db);
  }
  static int Prepare(sqlite3* db, const char* sql, int n, sqlite3_stmt** stmt, const char** tail) {
    std::string text = sql ? std::string(sql) : std::string();
    if (const Rule* r = active_->Match(kPrepare, text)) {
      *stmt = nullptr;
      active_->pending_[db] = r->code;
      return r->code;
    }
    int rc = active_->saved_.sqlite3_prepare_v2(db, sql, n, stmt, tail);
    if (rc == SQLITE_OK) active_->pending_.erase(db);
    if (rc == SQLITE_OK && *stmt != nullptr) active_->stmts_[*stmt] = Stmt{db, text};
    return rc;
  }
  static int Step(sqlite3_stmt* stmt) {
    auto it = active_->stmts_.find(stmt);
    if (it != active_->stmts_.end()) {
      if (const Rule* r = active_->Match(kStep, it->second.sql)) {
        sqlite3* db = it->second.db;
        if (r->rollsBack) active_->saved_.sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        active_->pending_[db] = r->code;
        return r->code;
      }
    }
    int rc = active_->saved_.sqlite3_step(stmt);
    if ((rc == SQLITE_ROW || rc == SQLITE_DONE) && it != active_->stmts_.end())
      active_->pending_.erase(it->second.db);
    return rc;
  }
  static int Finalize(sqlite3_stmt* stmt) {
    active_->stmts_.erase(stmt);
    return active_->saved_.sqlite3_finalize(stmt);
  }
  static int ErrCode(sqlite3* db) {
    auto it = active_->pending_.find(db);
    return it != active_->pending_.end() ? it->second : active_->saved_.sqlite3_errcode(db);
  }
  static const char* ErrMsg(sqlite3* db) {
    return active_->pending_.count(db) ? "injected fault" : active_->saved_.sqlite3_errmsg(db);
  }

  static inline TSQLiteFaults* active_ = nullptr;
  TSQLiteAPI saved_;
  std::vector<Rule> rules_;
  std::map<sqlite3_stmt*, Stmt> stmts_;
  std::map<sqlite3*, int> pending_;
  std::vector<Watched> watches_;
  int fired_ = 0;
};

}  // namespace dct
