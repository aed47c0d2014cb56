// Opening the store file and turning SQLite's result codes into StoreError
// messages that say which file and what went wrong.
#include "StoreDb.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <system_error>

#include "Store.h"

namespace qxsym::bridge {

namespace fs = std::filesystem;

namespace {

// Longest string or blob SQLite may hand us: an MQTT packet is never larger,
// and a damaged file then cannot make a read allocate more.
constexpr int kMaxValueBytes = 256 * 1024 * 1024;
constexpr int kBusyTimeoutMs = 5000;

// SQLite's words for the codes a user can do something about.
std::string Reason(sqlite3* db) {
  if (db == nullptr) return "out of memory";
  const int rc = sqlite3_errcode(db);
  std::string reason = sqlite3_errmsg(db);
  switch (rc & 0xFF) {
    case SQLITE_NOTADB:
      return "not an SQLite database (" + reason + ")";
    case SQLITE_CORRUPT:
      return "the database is damaged (" + reason + ")";
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_PERM: {
      const int err = sqlite3_system_errno(db);
      if (err != 0) reason += " (" + std::string(std::strerror(err)) + ")";
      return reason;
    }
    default:
      return reason;
  }
}

void CheckFolder(const std::string& path) {
  const fs::path file(path);
  fs::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  const fs::file_status folder_status = fs::status(folder, ec);
  if (!fs::exists(folder_status)) {
    throw StoreError(path + ": folder " + folder.string() + " does not exist");
  }
  if (!fs::is_directory(folder_status)) {
    throw StoreError(path + ": " + folder.string() + " is not a folder");
  }
  const fs::file_status file_status = fs::status(file, ec);
  if (fs::is_directory(file_status)) throw StoreError(path + ": is a folder, not a file");
  // SQLite would only say it cannot open the file.
  if (!fs::exists(file_status) && ::access(folder.c_str(), W_OK | X_OK) != 0) {
    throw StoreError(path + ": folder " + folder.string() + " is not writable");
  }
}

}  // namespace

StoreDb::StoreDb(std::string path) : path_(std::move(path)) {
  if (path_.empty()) throw StoreError("store: no path given");
  CheckFolder(path_);
  sqlite3* db = nullptr;
  const int rc =
      sqlite3_open_v2(path_.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  db_.reset(db);  // SQLite hands out a handle even when opening fails
  Check(rc, "cannot open");
  sqlite3_extended_result_codes(db, 1);
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, kMaxValueBytes);
  Check(sqlite3_busy_timeout(db, kBusyTimeoutMs), "cannot set the busy timeout");
  // Without write access SQLite falls back to reading; we would fail later.
  if (sqlite3_db_readonly(db, "main") == 1) Refuse("cannot open: the file is not writable");
}

void StoreDb::Fail(const std::string& what) const {
  throw StoreError(path_ + ": " + what + ": " + Reason(db_.get()));
}

void StoreDb::Refuse(const std::string& reason) const { throw StoreError(path_ + ": " + reason); }

void StoreDb::Check(int rc, const std::string& what) const {
  if (rc != SQLITE_OK) Fail(what);
}

void StoreDb::Exec(const char* sql, const std::string& what) const {
  Check(sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr), what);
}

SqliteStmt StoreDb::Prepare(const std::string& sql) const {
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v3(db_.get(), sql.c_str(), static_cast<int>(sql.size() + 1),
                                    SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  SqliteStmt owned(stmt);
  Check(rc, "cannot read");
  return owned;
}

bool StoreDb::Step(const StmtUse& use, const std::string& what) const {
  const int rc = sqlite3_step(use.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(what);
}

std::int64_t StoreDb::QueryInt(const char* sql, std::int64_t none, const std::string& what) const {
  const SqliteStmt stmt = Prepare(sql);
  const StmtUse use(stmt.get());
  if (!Step(use, what)) return none;
  return sqlite3_column_int64(stmt.get(), 0);
}

}  // namespace qxsym::bridge
