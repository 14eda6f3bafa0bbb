#include "storage/ad_maintenance.h"

#include <cstdio>
#include <filesystem>

#include "storage/ad_queries.h"
#include "storage/ad_record.h"
#include "storage/sqlite/sqlite_database.h"
#include "storage/sqlite/sqlite_helpers.h"

namespace qb::maintenance {
namespace {

// Rows read per batch: small enough that each read holds the store's shared
// lock for a moment only.
constexpr int kBatchRows = 500;
const std::string kContext = "The ad store";

// Every column, in table order and quoted (Desc is an SQL keyword).
std::string ColumnList() {
  std::string list;
  for (const std::string_view column : kAdColumns) {
    if (!list.empty()) list += ", ";
    list.append("\"").append(column).append("\"");
  }
  return list;
}

// A statement whose parameters are bound as text, in order, after `first`
// numbered ones the caller binds itself.
struct Query {
  StmtHandle stmt;
  void Bind(int index, std::string_view text) const {
    sqlite3_bind_text64(stmt.get(), index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  }
};

// The filter as SQL conditions joined by AND ("1" when empty), with the texts
// to bind to its parameters in order.
std::string Conditions(const AdFilter& f, const CivilDate& today, std::vector<std::string>& params) {
  std::string sql = "1";
  const auto add = [&](const char* condition, std::string value) {
    sql.append(" AND ").append(condition);
    params.push_back(std::move(value));
  };
  if (f.category) add("Category LIKE ?", *f.category);
  if (f.seller) add("Name = ? COLLATE NOCASE", *f.seller);
  if (f.email) add("instr(lower(Email), lower(?)) > 0", *f.email);
  if (f.address) add("RemoteAddr = ?", *f.address);
  if (f.since) add("QbDate(Date) >= ?", IsoDateText(*f.since));
  if (f.expired) add("Expire < ?", IsoDateText(today));
  return sql;
}

Query Prepare(Database& db, const std::string& sql, const std::vector<std::string>& params, int first = 0) {
  Query q{PrepareStatement(SqliteHandle(db), sql, kContext)};
  for (std::size_t i = 0; i < params.size(); ++i) q.Bind(first + static_cast<int>(i) + 1, params[i]);
  return q;
}

// Steps a statement; true on a row, false when done, raises otherwise.
bool Step(Database& db, const Query& q, const std::string& what) {
  const int rc = sqlite3_step(q.stmt.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throw StoreError(SqliteHandle(db), rc, kContext + ": " + what);
}

long long CountOf(Database& db, const std::string& sql, const std::vector<std::string>& params) {
  const Query q = Prepare(db, sql, params);
  Step(db, q, "counting ads");
  return sqlite3_column_int64(q.stmt.get(), 0);
}

void Exec(Database& db, const char* sql, const std::string& what) {
  const int rc = sqlite3_exec(SqliteHandle(db), sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) throw StoreError(SqliteHandle(db), rc, kContext + ": " + what);
}

// One write transaction. BEGIN IMMEDIATE takes the write lock at once,
// waiting for it as requests do; leaving without Commit rolls back.
class WriteTransaction {
 public:
  explicit WriteTransaction(Database& db) : db_(db) { Exec(db_, "BEGIN IMMEDIATE", "starting a change"); }
  ~WriteTransaction() {
    if (!done_) sqlite3_exec(SqliteHandle(db_), "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void Commit() {
    Exec(db_, "COMMIT", "storing the change");
    done_ = true;
  }

 private:
  Database& db_;
  bool done_ = false;
};

AdRow ReadRow(sqlite3_stmt* stmt) {
  AdRow row;
  for (int i = 0; i < static_cast<int>(row.values.size()); ++i) {
    if (sqlite3_column_type(stmt, i) == SQLITE_NULL) continue;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
    row.values[i].emplace(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, i)));
  }
  return row;
}

}  // namespace

void ForEachAd(Database& db, const AdFilter& filter, const CivilDate& today,
               const std::function<void(const AdRow&)>& sink) {
  std::vector<std::string> params;
  const std::string sql = "SELECT " + ColumnList() + " FROM QB WHERE ID > ?1 AND " +
                          Conditions(filter, today, params) + " ORDER BY ID LIMIT " +
                          std::to_string(kBatchRows);
  const Query q = Prepare(db, sql, params, 1);
  std::int64_t last = -1;
  for (;;) {
    std::vector<AdRow> batch;
    sqlite3_bind_int64(q.stmt.get(), 1, last);
    while (Step(db, q, "reading ads")) {
      batch.push_back(ReadRow(q.stmt.get()));
      last = sqlite3_column_int64(q.stmt.get(), 0);
    }
    sqlite3_reset(q.stmt.get());  // the read ends here, before the sink runs
    for (const AdRow& row : batch) sink(row);
    if (batch.size() < static_cast<std::size_t>(kBatchRows)) return;
  }
}

std::vector<std::int64_t> MatchingIds(Database& db, const AdFilter& filter, const CivilDate& today) {
  std::vector<std::string> params;
  const Query q = Prepare(db, "SELECT ID FROM QB WHERE " + Conditions(filter, today, params) + " ORDER BY ID",
                          params);
  std::vector<std::int64_t> ids;
  while (Step(db, q, "reading ads")) ids.push_back(sqlite3_column_int64(q.stmt.get(), 0));
  return ids;
}

long long CountMatching(Database& db, const AdFilter& filter, const CivilDate& today) {
  std::vector<std::string> params;
  return CountOf(db, "SELECT count(*) FROM QB WHERE " + Conditions(filter, today, params), params);
}

std::optional<AdRow> FindAd(Database& db, std::int64_t id) {
  const Query q = Prepare(db, "SELECT " + ColumnList() + " FROM QB WHERE ID = ?", {});
  sqlite3_bind_int64(q.stmt.get(), 1, id);
  if (!Step(db, q, "reading ad " + std::to_string(id))) return std::nullopt;
  return ReadRow(q.stmt.get());
}

std::vector<std::int64_t> DeleteAds(Database& db, const std::vector<std::int64_t>& ids) {
  std::vector<std::int64_t> missing;
  const Query q = Prepare(db, "DELETE FROM QB WHERE ID = ?", {});
  WriteTransaction transaction(db);
  for (const std::int64_t id : ids) {
    sqlite3_bind_int64(q.stmt.get(), 1, id);
    Step(db, q, "deleting ad " + std::to_string(id));
    sqlite3_reset(q.stmt.get());
    if (sqlite3_changes64(SqliteHandle(db)) == 0) missing.push_back(id);
  }
  transaction.Commit();
  return missing;
}

long long PurgeExpired(Database& db, const CivilDate& today) {
  // The very query the category listing runs after its page.
  const std::unique_ptr<QueryDef> purge = db.CreateQueryDef(queries::kPurgeExpired);
  purge->SetParameter("pName", UsDateText(today));
  purge->Execute();
  return purge->RowsAffected();
}

bool SetPassword(Database& db, std::int64_t id, std::string_view password) {
  const Query q = Prepare(db, "UPDATE QB SET Password = ?1 WHERE ID = ?2", {std::string(password)});
  sqlite3_bind_int64(q.stmt.get(), 2, id);
  Step(db, q, "setting the password of ad " + std::to_string(id));
  return sqlite3_changes64(SqliteHandle(db)) > 0;
}

void ImportAds(Database& db, const std::vector<AdRow>& rows, bool renumber) {
  std::string marks = "?";
  for (std::size_t i = 1; i < kAdColumns.size(); ++i) marks += ", ?";
  const Query q = Prepare(db, "INSERT INTO QB (" + ColumnList() + ") VALUES (" + marks + ")", {});
  // The whole import stays in this connection's memory until it commits, so
  // the board's requests keep reading the store meanwhile (spilling pages to
  // the file would need the exclusive lock).
  Exec(db, "PRAGMA cache_spill = OFF", "preparing the import");
  WriteTransaction transaction(db);
  for (const AdRow& row : rows) {
    sqlite3_stmt* stmt = q.stmt.get();
    for (std::size_t i = 0; i < row.values.size(); ++i) {
      const int index = static_cast<int>(i) + 1;
      if (!row.values[i] || (i == 0 && renumber)) {
        sqlite3_bind_null(stmt, index);
      } else if (i == 0) {
        sqlite3_bind_int64(stmt, index, std::stoll(*row.values[0]));
      } else {
        q.Bind(index, *row.values[i]);
      }
    }
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_DONE) {
      if (sqlite3_extended_errcode(SqliteHandle(db)) == SQLITE_CONSTRAINT_PRIMARYKEY) {
        throw QbError(kErrStoreBase + SQLITE_CONSTRAINT,
                      "Ad " + *row.values[0] + " is already in the store; nothing was imported");
      }
      throw StoreError(SqliteHandle(db), rc, kContext + ": importing ads, nothing was imported");
    }
    sqlite3_reset(stmt);
  }
  transaction.Commit();
}

StoreStats CollectStats(Database& db, const CivilDate& today, int days) {
  StoreStats stats;
  stats.total = CountOf(db, "SELECT count(*) FROM QB", {});
  stats.expired = CountOf(db, "SELECT count(*) FROM QB WHERE Expire < ?", {IsoDateText(today)});
  const Query q = Prepare(db,
                          "SELECT QbDate(Date) AS Day, count(*) FROM QB WHERE Day BETWEEN ? AND ? "
                          "GROUP BY Day ORDER BY Day",
                          {IsoDateText(AddDays(today, 1 - days)), IsoDateText(today)});
  while (Step(db, q, "counting ads per day")) {
    const auto* day = reinterpret_cast<const char*>(sqlite3_column_text(q.stmt.get(), 0));
    if (const auto date = ParseIsoDate(day)) stats.perDay.emplace_back(*date, sqlite3_column_int64(q.stmt.get(), 1));
  }
  return stats;
}

std::vector<std::string> CheckStore(Database& db) {
  std::vector<std::string> problems;
  const Query integrity = Prepare(db, "PRAGMA integrity_check", {});
  while (Step(db, integrity, "checking integrity")) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(integrity.stmt.get(), 0));
    if (std::string_view(text) != "ok") problems.push_back(std::string("integrity: ") + text);
  }

  std::vector<std::string> columns;
  bool idIsKey = false;
  const Query info = Prepare(db, "PRAGMA table_info(QB)", {});
  while (Step(db, info, "reading the table's columns")) {
    const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(info.stmt.get(), 1));
    const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(info.stmt.get(), 2));
    if (sqlite3_stricmp(name.c_str(), "ID") == 0) {
      idIsKey = sqlite3_column_int(info.stmt.get(), 5) == 1 && type != nullptr && sqlite3_stricmp(type, "INTEGER") == 0;
    }
    columns.push_back(name);
  }
  for (std::size_t i = 0; i < kAdColumns.size(); ++i) {
    if (i >= columns.size() || sqlite3_stricmp(columns[i].c_str(), std::string(kAdColumns[i]).c_str()) != 0) {
      problems.push_back("schema: column " + std::to_string(i + 1) + " of table QB should be " +
                         std::string(kAdColumns[i]) + ", is " + (i < columns.size() ? columns[i] : "missing"));
    }
  }
  if (columns.size() > kAdColumns.size()) problems.push_back("schema: table QB has columns the board does not know");
  if (!columns.empty() && !idIsKey) problems.push_back("schema: ID is not the table's INTEGER PRIMARY KEY");

  if (problems.empty()) {
    long long badExpire = 0;
    std::string example;
    const Query expire = Prepare(db, "SELECT ID, Expire FROM QB", {});
    while (Step(db, expire, "reading expiry dates")) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(expire.stmt.get(), 1));
      if (text == nullptr || !ParseIsoDate(text)) {
        if (badExpire++ == 0) example = std::to_string(sqlite3_column_int64(expire.stmt.get(), 0));
      }
    }
    if (badExpire > 0) {
      problems.push_back("data: " + std::to_string(badExpire) + " ads (ad " + example +
                         " among them) have an Expire that is not a YYYY-MM-DD date and are never purged");
    }
  }
  return problems;
}

long long CountUnlisted(Database& db, const std::vector<std::string>& names) {
  std::string sql = "SELECT count(*) FROM QB WHERE NOT (0";
  for (std::size_t i = 0; i < names.size(); ++i) sql += " OR coalesce(Category, '') LIKE ?";
  return CountOf(db, sql + ")", names);
}

void BackupStore(Database& db, const std::string& file) {
  const std::string part = file + ".part";
  std::filesystem::remove(part);
  sqlite3* copy = nullptr;
  const int openRc = sqlite3_open_v2(part.c_str(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  const auto fail = [&](const std::string& what, int rc) {
    const QbError error = StoreError(copy, rc, "The backup " + file + " could not be written: " + what);
    sqlite3_close_v2(copy);
    std::filesystem::remove(part);
    return error;
  };
  if (openRc != SQLITE_OK) throw fail("creating it", openRc);

  // A read transaction on the store makes the copy one consistent state:
  // writers wait for it to end, as they wait for any request's read.
  try {
    Exec(db, "BEGIN", "starting the backup");
    const Query start = Prepare(db, "SELECT count(*) FROM sqlite_master", {});
    Step(db, start, "starting the backup");
  } catch (...) {
    sqlite3_exec(SqliteHandle(db), "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(copy);
    std::filesystem::remove(part);
    throw;
  }
  sqlite3_backup* backup = sqlite3_backup_init(copy, "main", SqliteHandle(db), "main");
  int rc = backup != nullptr ? sqlite3_backup_step(backup, -1) : sqlite3_errcode(copy);
  if (backup != nullptr) sqlite3_backup_finish(backup);
  sqlite3_exec(SqliteHandle(db), "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_DONE) throw fail("copying", rc == SQLITE_OK ? SQLITE_ERROR : rc);

  sqlite3_stmt* check = nullptr;
  rc = sqlite3_prepare_v2(copy, "PRAGMA quick_check", -1, &check, nullptr);
  const bool ok = rc == SQLITE_OK && sqlite3_step(check) == SQLITE_ROW &&
                  std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(check, 0))) == "ok";
  sqlite3_finalize(check);
  if (!ok) throw fail("the copy does not pass SQLite's check", SQLITE_CORRUPT);
  if (sqlite3_close(copy) != SQLITE_OK) throw fail("closing it", SQLITE_IOERR);
  copy = nullptr;
  std::error_code renamed;
  std::filesystem::rename(part, file, renamed);
  if (renamed) {
    std::filesystem::remove(part);
    throw QbError(kErrFileNotFound, "The backup " + file + " could not be written: " + renamed.message());
  }
}

}  // namespace qb::maintenance
