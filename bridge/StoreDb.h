// The store's SQLite connection: owning handles, kept statements, and
// errors worded with the file's path. Internal to Store.cpp and its tests.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>

namespace qxsym::bridge {

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct SqliteFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using SqliteStmt = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

/// Resets a kept statement on every way out of one use, so that the next use
/// starts clean and no read lock outlives the use.
class StmtUse {
 public:
  explicit StmtUse(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~StmtUse() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  StmtUse(const StmtUse&) = delete;
  StmtUse& operator=(const StmtUse&) = delete;
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_;
};

/// One connection to the store file, opened read-write (created when
/// missing). Every failure throws StoreError as "PATH: WHAT: REASON".
class StoreDb {
 public:
  /// Checks the folder, opens the file and refuses one that SQLite would
  /// only open read-only. Throws StoreError.
  explicit StoreDb(std::string path);

  const std::string& path() const { return path_; }
  sqlite3* get() const { return db_.get(); }

  /// Throws StoreError for @p what with SQLite's last error as the reason.
  [[noreturn]] void Fail(const std::string& what) const;
  /// Throws StoreError for @p what with @p reason, SQLite not involved.
  [[noreturn]] void Refuse(const std::string& reason) const;
  /// Fails unless @p rc is SQLITE_OK.
  void Check(int rc, const std::string& what) const;

  /// Runs statements that return no rows we need.
  void Exec(const char* sql, const std::string& what) const;
  SqliteStmt Prepare(const std::string& sql) const;
  /// Steps @p use once: true on a row, false when done; fails otherwise.
  bool Step(const StmtUse& use, const std::string& what) const;
  /// The one integer a query yields, or @p none when it yields no row.
  std::int64_t QueryInt(const char* sql, std::int64_t none, const std::string& what) const;

 private:
  std::string path_;
  std::unique_ptr<sqlite3, SqliteCloser> db_;
};

}  // namespace qxsym::bridge
