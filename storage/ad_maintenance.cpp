#include "storage/ad_maintenance.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <set>
#include <span>

#include "gateway/ascii_text.h"
#include "storage/ad_queries.h"
#include "storage/ad_record.h"
#include "storage/sqlite/sqlite_database.h"
#include "storage/sqlite/sqlite_helpers.h"
#include "storage/store_failure.h"
#include "storage/write_transaction.h"

namespace qb::maintenance {
namespace {

// Rows read per batch: small enough that each read holds the store's shared
// lock for a moment only. Changes by ID go in batches of as many.
constexpr std::size_t kBatchRows = 500;
// Rows per INSERT of an import (14 values each, well within both stores'
// limits on a statement's parameters).
constexpr std::size_t kImportRows = 100;
const std::string kContext = "The ad store";

// A statement written at run time in the SQL of the store at hand, with the
// values of its parameters. Each marker goes into the text as it is bound,
// so SQLite's plain "?" (numbered in the order they appear; an import's
// statement has 1,400, too many for ?n, which SQLite looks up one by one)
// has the number of PostgreSQL's $n.
class Statement {
 public:
  explicit Statement(const Database& db) : pg_(db.Kind() == StoreKind::kPostgres) {}
  // The store's own text of the two.
  Statement& Sql(std::string_view sqlite, std::string_view postgres) {
    sql_.append(pg_ ? postgres : sqlite);
    return *this;
  }
  Statement& Sql(std::string_view both) { return Sql(both, both); }
  // Adds a parameter holding `value`; returns its marker.
  std::string Bind(SqlValue value) {
    values_.push_back(value);
    return pg_ ? std::string("$").append(std::to_string(values_.size())) : std::string("?");
  }
  std::string Bind(std::string text) {
    texts_.push_back(std::move(text));
    return Bind(std::string_view(texts_.back()));
  }
  // Column `i` of table QB, quoted (Desc and Date are SQL words); PostgreSQL
  // names its columns in lower case.
  std::string Column(std::size_t i) const {
    return '"' + (pg_ ? AsciiLower(kAdColumns[i]) : std::string(kAdColumns[i])) + '"';
  }
  std::string Columns(std::size_t first = 0) const {
    std::string list;
    for (std::size_t i = first; i < kAdColumns.size(); ++i) list += (i > first ? ", " : "") + Column(i);
    return list;
  }
  std::vector<SqlValue>& Values() { return values_; }

  std::int64_t Run(Database& db) const { return db.RunStatement({sql_, sql_}, values_); }
  void ForEachRow(Database& db, const std::function<void(SqlRow)>& row) const {
    db.ForEachRow({sql_, sql_}, values_, row);
  }

 private:
  bool pg_;
  std::string sql_;
  std::deque<std::string> texts_;  // the texts values_ views; a deque keeps them in place
  std::vector<SqlValue> values_;
};

// Appends the filter's conditions, each after AND. Texts compare as the
// board's queries compare them (storage/ad_queries.h); a day is bound as
// "YYYY-MM-DD", which PostgreSQL reads as a date in every DateStyle.
void AddConditions(Statement& s, const AdFilter& f, const CivilDate& today) {
  if (f.category) {
    const std::string p = s.Bind(*f.category);
    s.Sql(" AND Category LIKE " + p, " AND qb_fold(category) ~ qb_like(" + p + ")");
  }
  if (f.seller) {
    const std::string p = s.Bind(*f.seller);
    s.Sql(" AND trim(Name) = trim(" + p + ") COLLATE NOCASE",
          " AND qb_fold(btrim(name, ' '::bytea)) = qb_fold(btrim(" + p + ", ' '::bytea))");
  }
  if (f.email) {
    // On PostgreSQL as bytes (qb_fold's text decoded back, ASCII letters
    // folded), so that the text cannot match inside an escape such as \201.
    const std::string p = s.Bind(*f.email);
    s.Sql(" AND instr(lower(Email), lower(" + p + ")) > 0",
          " AND position(decode(qb_fold(" + p + "), 'escape') in decode(qb_fold(email), 'escape')) > 0");
  }
  if (f.address) s.Sql(" AND " + s.Column(12) + " = " + s.Bind(*f.address));
  if (f.since) {
    const std::string p = s.Bind(IsoDateText(*f.since));
    s.Sql(" AND QbDate(Date) >= " + p, " AND qb_date(\"date\") >= " + p + "::text::date");
  }
  if (f.expired) {
    const std::string p = s.Bind(IsoDateText(today));
    s.Sql(" AND Expire < " + p, " AND expire < " + p + "::text::date");
  }
}

AdRow ReadRow(SqlRow row) {
  AdRow ad;
  for (std::size_t i = 0; i < ad.values.size() && i < row.size(); ++i) {
    if (row[i]) ad.values[i].emplace(*row[i]);
  }
  return ad;
}

std::int64_t Number(const std::optional<std::string_view>& text) { return text ? std::stoll(std::string(*text)) : 0; }

// Adds `ids` to `s` as a parenthesized list of parameters.
void AddIdList(Statement& s, std::span<const std::int64_t> ids) {
  s.Sql(" (");
  for (std::size_t i = 0; i < ids.size(); ++i) s.Sql((i > 0 ? ", " : "") + s.Bind(ids[i]));
  s.Sql(")");
}

// The board's table of a store made by the board or an outside tool, column
// by column: name, type, and whether it is the ID key the board needs
// (SQLite's INTEGER PRIMARY KEY; on PostgreSQL an identity primary key).
constexpr StoreSql kTableColumns{
    "SELECT name, type, pk = 1 AND type = 'INTEGER' COLLATE NOCASE FROM pragma_table_info('QB')",
    "SELECT a.attname, format_type(a.atttypid, a.atttypmod), a.attidentity <> '' AND EXISTS (SELECT FROM pg_index i "
    "WHERE i.indrelid = a.attrelid AND i.indisprimary AND i.indnkeyatts = 1 AND i.indkey[0] = a.attnum) "
    "FROM pg_attribute a WHERE a.attrelid = to_regclass('qb') AND a.attnum > 0 AND NOT a.attisdropped "
    "ORDER BY a.attnum"};
constexpr StoreSql kAdsPerDay{
    "SELECT QbDate(Date) AS Day, count(*) FROM QB WHERE Day BETWEEN ?1 AND ?2 GROUP BY Day ORDER BY Day",
    "SELECT qb_date(\"date\"), count(*) FROM qb WHERE qb_date(\"date\") BETWEEN $1::text::date AND $2::text::date "
    "GROUP BY 1 ORDER BY 1"};
constexpr StoreSql kAllExpiryDays{"SELECT ID, Expire FROM QB", "SELECT id, expire FROM qb"};

// The first of the rows' IDs that the store holds already.
std::optional<std::int64_t> FirstTaken(Database& db, std::span<const AdRow> rows) {
  std::vector<std::int64_t> ids;
  for (const AdRow& row : rows) ids.push_back(Number(row.values[0]));
  Statement s(db);
  s.Sql("SELECT ID FROM QB WHERE ID IN");
  AddIdList(s, ids);
  std::set<std::int64_t> present;
  s.ForEachRow(db, [&](SqlRow row) { present.insert(Number(row[0])); });
  for (const std::int64_t id : ids) {
    if (present.contains(id)) return id;
  }
  return std::nullopt;
}

// Adds the rows in one statement, with their IDs or (`renumber`) new ones.
// A text is bound as its bytes; PostgreSQL's Expire takes it as a date.
void Insert(Database& db, std::span<const AdRow> rows, bool renumber) {
  const std::size_t first = renumber ? 1 : 0;
  Statement s(db);
  s.Sql("INSERT INTO QB (" + s.Columns(first) + ") VALUES ");
  for (const AdRow& row : rows) {
    s.Sql(&row == rows.data() ? "(" : ", (");
    for (std::size_t i = first; i < row.values.size(); ++i) {
      const std::optional<std::string>& value = row.values[i];
      const std::string p = !value ? s.Bind(SqlValue(nullptr))
                            : i == 0 ? s.Bind(Number(*value))
                                     : s.Bind(std::string_view(*value));
      s.Sql(i > first ? ", " : "").Sql(p, i == 8 ? p + "::text::date" : p);
    }
    s.Sql(")");
  }
  s.Run(db);
}

}  // namespace

void ForEachAd(Database& db, const AdFilter& filter, const CivilDate& today,
               const std::function<void(const AdRow&)>& sink) {
  Statement s(db);
  const std::string after = s.Bind(std::int64_t{-1});
  s.Sql("SELECT " + s.Columns() + " FROM QB WHERE ID > " + after);
  AddConditions(s, filter, today);
  s.Sql(" ORDER BY ID LIMIT " + std::to_string(kBatchRows));
  for (std::size_t read = kBatchRows; read == kBatchRows;) {
    read = 0;
    // Each batch's read has ended before the sink sees its first row.
    s.ForEachRow(db, [&](SqlRow row) {
      s.Values()[0] = Number(row[0]);
      ++read;
      sink(ReadRow(row));
    });
  }
}

std::vector<std::int64_t> MatchingIds(Database& db, const AdFilter& filter, const CivilDate& today) {
  Statement s(db);
  s.Sql("SELECT ID FROM QB WHERE TRUE");
  AddConditions(s, filter, today);
  s.Sql(" ORDER BY ID");
  std::vector<std::int64_t> ids;
  s.ForEachRow(db, [&](SqlRow row) { ids.push_back(Number(row[0])); });
  return ids;
}

long long CountMatching(Database& db, const AdFilter& filter, const CivilDate& today) {
  Statement s(db);
  s.Sql("SELECT count(*) FROM QB WHERE TRUE");
  AddConditions(s, filter, today);
  return s.Run(db);
}

std::optional<AdRow> FindAd(Database& db, std::int64_t id) {
  Statement s(db);
  s.Sql("SELECT " + s.Columns() + " FROM QB WHERE ID = " + s.Bind(id));
  std::optional<AdRow> ad;
  s.ForEachRow(db, [&](SqlRow row) { ad = ReadRow(row); });
  return ad;
}

std::vector<std::int64_t> DeleteAds(Database& db, const std::vector<std::int64_t>& ids) {
  std::multiset<std::int64_t> deleted;
  WriteTransaction transaction(db);
  for (std::size_t at = 0; at < ids.size(); at += kBatchRows) {
    Statement s(db);
    s.Sql("DELETE FROM QB WHERE ID IN");
    AddIdList(s, std::span(ids).subspan(at, std::min(kBatchRows, ids.size() - at)));
    s.Sql(" RETURNING ID");
    s.ForEachRow(db, [&](SqlRow row) { deleted.insert(Number(row[0])); });
  }
  transaction.Commit();
  // An ID given twice is deleted once; the second is missing, as it would
  // be deleted one by one.
  std::vector<std::int64_t> missing;
  for (const std::int64_t id : ids) {
    if (const auto found = deleted.find(id); found != deleted.end()) {
      deleted.erase(found);
    } else {
      missing.push_back(id);
    }
  }
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
  Statement s(db);
  const std::string p = s.Bind(password);
  s.Sql("UPDATE QB SET Password = " + p + " WHERE ID = " + s.Bind(id) + " RETURNING 1");
  WriteTransaction transaction(db);
  const bool found = s.Run(db) == 1;
  transaction.Commit();
  return found;
}

void ImportAds(Database& db, const std::vector<AdRow>& rows, bool renumber) {
  // The whole import stays in this connection's memory until it commits, so
  // the board's requests keep reading the store meanwhile (spilling pages to
  // the file would need the exclusive lock).
  if (db.Kind() == StoreKind::kSqlite) db.RunStatement({"PRAGMA cache_spill = OFF", ""}, {});
  std::optional<std::int64_t> taken;
  try {
    WriteTransaction transaction(db);
    // On PostgreSQL the board's requests add ads without the write lock: the
    // table lock keeps them (not readers) waiting until the IDs are settled.
    if (db.Kind() == StoreKind::kPostgres) db.RunStatement({"", "LOCK TABLE qb IN SHARE ROW EXCLUSIVE MODE"}, {});
    for (std::size_t at = 0; at < rows.size(); at += kImportRows) {
      const std::span batch = std::span(rows).subspan(at, std::min(kImportRows, rows.size() - at));
      if (!renumber && (taken = FirstTaken(db, batch))) break;
      Insert(db, batch, renumber);
    }
    // Ads placed later take IDs after the largest one now stored (SQLite's
    // AUTOINCREMENT does this itself); the sequence never goes back.
    if (db.Kind() == StoreKind::kPostgres && !renumber && !rows.empty() && !taken) {
      db.RunStatement({"", "SELECT setval(s, greatest((SELECT max(id) FROM qb), nextval(s) - 1, 1)) "
                           "FROM pg_get_serial_sequence('qb', 'id') AS s"},
                      {});
    }
    if (!taken) transaction.Commit();
  } catch (const QbError& e) {
    throw QbError(e.Number(), kContext + ": importing ads, nothing was imported: " + e.Description());
  }
  if (taken) {
    throw StoreError(StoreFailure::kConstraint,
                     "Ad " + std::to_string(*taken) + " is already in the store; nothing was imported");
  }
}

StoreStats CollectStats(Database& db, const CivilDate& today, int days) {
  StoreStats stats;
  stats.total = CountMatching(db, {}, today);
  AdFilter expired;
  expired.expired = true;
  stats.expired = CountMatching(db, expired, today);
  const std::string from = IsoDateText(AddDays(today, 1 - days)), to = IsoDateText(today);
  const SqlValue period[] = {from, to};
  db.ForEachRow(kAdsPerDay, period, [&](SqlRow row) {
    if (const auto date = row[0] ? ParseIsoDate(std::string(*row[0])) : std::nullopt) {
      stats.perDay.emplace_back(*date, Number(row[1]));
    }
  });
  return stats;
}

std::vector<std::string> CheckStore(Database& db) {
  std::vector<std::string> problems;
  const bool pg = db.Kind() == StoreKind::kPostgres;
  // SQLite's file is checked whole; a PostgreSQL server's files are left to
  // its own tools.
  if (!pg) {
    db.ForEachRow({"PRAGMA integrity_check", ""}, {}, [&](SqlRow row) {
      const std::string text(row[0].value_or(""));
      if (text != "ok") problems.push_back("integrity: " + text);
    });
  }

  const std::string table = pg ? "qb" : "QB";
  std::vector<std::string> columns;
  bool idIsKey = false;
  db.ForEachRow(kTableColumns, {}, [&](SqlRow row) {
    const std::string name(row[0].value_or("")), type(row[1].value_or(""));
    const std::size_t i = columns.size();
    if (EqualsIgnoreCase(name, "ID")) idIsKey = row[2] == "1" && (!pg || type == "bigint");
    // PostgreSQL's texts must be bytea to hold any byte, its Expire a date.
    const char* wanted = i == 8 ? "date" : "bytea";
    if (pg && i > 0 && i < kAdColumns.size() && type != wanted) {
      problems.push_back("schema: column " + name + " of table qb should be " + wanted + ", is " + type);
    }
    columns.push_back(name);
  });
  for (std::size_t i = 0; i < kAdColumns.size(); ++i) {
    if (i >= columns.size() || !EqualsIgnoreCase(columns[i], kAdColumns[i])) {
      problems.push_back("schema: column " + std::to_string(i + 1) + " of table " + table + " should be " +
                         std::string(kAdColumns[i]) + ", is " + (i < columns.size() ? columns[i] : "missing"));
    }
  }
  if (columns.size() > kAdColumns.size()) problems.push_back("schema: table " + table + " has columns the board does not know");
  if (!columns.empty() && !idIsKey) {
    problems.push_back(pg ? "schema: id is not the table's bigint identity primary key"
                          : "schema: ID is not the table's INTEGER PRIMARY KEY");
  }

  if (problems.empty()) {
    long long badExpire = 0;
    std::string example;
    db.ForEachRow(kAllExpiryDays, {}, [&](SqlRow row) {
      if (!row[1] || !ParseIsoDate(std::string(*row[1]))) {
        if (badExpire++ == 0) example = std::string(row[0].value_or(""));
      }
    });
    if (badExpire > 0) {
      const bool one = badExpire == 1;
      problems.push_back("data: " + std::to_string(badExpire) + (one ? " ad (ad " : " ads (ad ") + example +
                         (one ? ") has" : " among them) have") + " an Expire that is not a YYYY-MM-DD date and " +
                         (one ? "is" : "are") + " never purged");
    }
  }
  return problems;
}

long long CountUnlisted(Database& db, const std::vector<std::string>& names) {
  Statement s(db);
  s.Sql("SELECT count(*) FROM QB WHERE NOT (FALSE");
  for (const std::string& name : names) {
    const std::string p = s.Bind(std::string_view(name));
    s.Sql(" OR coalesce(Category, '') LIKE " + p, " OR qb_fold(coalesce(category, ''::bytea)) ~ qb_like(" + p + ")");
  }
  return s.Sql(")").Run(db);
}

void BackupStore(Database& db, const std::string& file) {
  if (db.Kind() != StoreKind::kSqlite) {
    throw QbError(kErrInvalidArgument, "backup copies the SQLite file qb.db; this site keeps its ads in PostgreSQL, "
                                       "so back them up with PostgreSQL's pg_dump (qbadmin export gives a CSV copy)");
  }
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
  sqlite3* store = SqliteHandle(db);
  const std::string starting = kContext + ": starting the backup";
  try {
    int rc = sqlite3_exec(store, "BEGIN", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) throw StoreError(store, rc, starting);
    const StmtHandle start = PrepareStatement(store, "SELECT count(*) FROM sqlite_master", starting);
    if ((rc = sqlite3_step(start.get())) != SQLITE_ROW) throw StoreError(store, rc, starting);
  } catch (...) {
    sqlite3_exec(store, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(copy);
    std::filesystem::remove(part);
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
  std::error_code renamed;
  std::filesystem::rename(part, file, renamed);
  if (renamed) {
    std::filesystem::remove(part);
    throw QbError(kErrFileNotFound, "The backup " + file + " could not be written: " + renamed.message());
  }
}

}  // namespace qb::maintenance
