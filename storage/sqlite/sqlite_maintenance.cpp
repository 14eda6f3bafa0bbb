#include "storage/sqlite/sqlite_maintenance.h"

#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "storage/ad_record.h"
#include "storage/sqlite/sqlite_helpers.h"

namespace qb {

std::unique_ptr<StoreMaintenance> SqliteDatabase::Maintenance() { return std::make_unique<SqliteMaintenance>(*this); }

std::int64_t SqliteMaintenance::Run(std::string_view sql, std::span<const SqlValue> values) {
  return db_.RunSql(sql, values);
}

void SqliteMaintenance::ForEachRow(std::string_view sql, std::span<const SqlValue> values,
                                   const std::function<void(SqlRow)>& row) {
  db_.ForEachRowOfSql(sql, values, row);
}

// SQLite's plain "?", numbered in the order they appear: an import's
// statement has 1,400, too many for ?n, which SQLite looks up one by one.
std::string SqliteMaintenance::Marker(std::size_t) const { return "?"; }

// Quoted, as Desc and Date are SQL words.
std::string SqliteMaintenance::Column(std::size_t column) const { return '"' + std::string(kAdColumns[column]) + '"'; }

std::string SqliteMaintenance::ValueFor(std::size_t, const std::string& marker) const { return marker; }

std::string SqliteMaintenance::Condition(AdCondition condition, const std::string& p) const {
  switch (condition) {
    case AdCondition::kCategoryLike: return "Category LIKE " + p;
    case AdCondition::kListedUnder: return "coalesce(Category, '') LIKE " + p;
    case AdCondition::kSellerIs: return "trim(Name) = trim(" + p + ") COLLATE NOCASE";
    case AdCondition::kEmailContains: return "instr(lower(Email), lower(" + p + ")) > 0";
    case AdCondition::kPlacedSince: return "QbDate(Date) >= " + p;
    case AdCondition::kExpiresBefore: return "Expire < " + p;
  }
  return "FALSE";
}

// The whole import stays in this connection's memory until it commits, so
// the board's requests keep reading the store meanwhile (spilling pages to
// the file would need the exclusive lock).
void SqliteMaintenance::BeforeImport() { db_.RunSql("PRAGMA cache_spill = OFF", {}); }

std::vector<std::string> SqliteMaintenance::IntegrityProblems() {
  std::vector<std::string> problems;
  db_.ForEachRowOfSql("PRAGMA integrity_check", {}, [&](SqlRow row) {
    const std::string text(row[0].value_or(""));
    if (text != "ok") problems.push_back("integrity: " + text);
  });
  return problems;
}

// SQLite's online backup. The copy is written beside `file` and renamed
// over it only once it is complete and checked. (Plain unlink and rename:
// this file is linked into the CGI program, which std::filesystem would
// make larger and slower to start.)
void SqliteMaintenance::Backup(const std::string& file) {
  const std::string part = file + ".part";
  ::unlink(part.c_str());
  sqlite3* copy = nullptr;
  const int openRc = sqlite3_open_v2(part.c_str(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  const auto fail = [&](const std::string& what, int rc) {
    const QbError error = StoreError(copy, rc, "The backup " + file + " could not be written: " + what);
    sqlite3_close_v2(copy);
    ::unlink(part.c_str());
    return error;
  };
  if (openRc != SQLITE_OK) throw fail("creating it", openRc);

  // A read transaction on the store makes the copy one consistent state:
  // writers wait for it to end, as they wait for any request's read.
  sqlite3* store = db_.Handle();
  const std::string starting = "The ad store: starting the backup";
  try {
    int rc = sqlite3_exec(store, "BEGIN", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) throw StoreError(store, rc, starting);
    const StmtHandle start = PrepareStatement(store, "SELECT count(*) FROM sqlite_master", starting);
    if ((rc = sqlite3_step(start.get())) != SQLITE_ROW) throw StoreError(store, rc, starting);
  } catch (...) {
    sqlite3_exec(store, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(copy);
    ::unlink(part.c_str());
    throw;
  }
  sqlite3_backup* backup = sqlite3_backup_init(copy, "main", store, "main");
  int rc = backup != nullptr ? sqlite3_backup_step(backup, -1) : sqlite3_errcode(copy);
  if (backup != nullptr) sqlite3_backup_finish(backup);
  sqlite3_exec(store, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_DONE) throw fail("copying", rc == SQLITE_OK ? SQLITE_ERROR : rc);

  sqlite3_stmt* check = nullptr;
  rc = sqlite3_prepare_v2(copy, "PRAGMA quick_check", -1, &check, nullptr);
  const bool ok = rc == SQLITE_OK && sqlite3_step(check) == SQLITE_ROW &&
                  std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(check, 0))) == "ok";
  sqlite3_finalize(check);
  if (!ok) throw fail("the copy does not pass SQLite's check", SQLITE_CORRUPT);
  if (sqlite3_close(copy) != SQLITE_OK) throw fail("closing it", SQLITE_IOERR);
  copy = nullptr;
  if (::rename(part.c_str(), file.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    ::unlink(part.c_str());
    throw QbError(kErrFileNotFound, "The backup " + file + " could not be written: " + reason);
  }
}

}  // namespace qb
