#include "support/ad_store.h"

#include <sqlite3.h>

#include <ctime>
#include <stdexcept>

namespace qbtest {

namespace {

struct Db {
  explicit Db(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open " + path);
    sqlite3_busy_timeout(db, 10000);
  }
  ~Db() { sqlite3_close(db); }
  sqlite3* db = nullptr;
};

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) throw std::runtime_error(sqlite3_errmsg(db));
}

std::tm LocalDay(int offsetDays) {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  t.tm_mday += offsetDays;
  t.tm_hour = 12;  // away from any daylight-saving edge
  std::mktime(&t);
  return t;
}

}  // namespace

void ExecSql(const std::string& dbPath, const std::string& sql) {
  Db d(dbPath);
  Check(sqlite3_exec(d.db, sql.c_str(), nullptr, nullptr, nullptr), d.db);
}

long long InsertAd(const std::string& dbPath, const SeedAd& ad) {
  Db d(dbPath);
  Check(sqlite3_exec(d.db,
                     "CREATE TABLE IF NOT EXISTS QB (ID INTEGER PRIMARY KEY AUTOINCREMENT, Item TEXT, Name TEXT, "
                     "Email TEXT, Price TEXT, \"Desc\" TEXT, Phone TEXT, Category TEXT, Expire TEXT, Date TEXT, "
                     "Password TEXT, RemoteHost TEXT, RemoteAddr TEXT, RemoteUser TEXT)",
                     nullptr, nullptr, nullptr),
        d.db);
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(d.db,
                           "INSERT INTO QB (Item, Name, Email, Price, \"Desc\", Phone, Category, Expire, Date, "
                           "Password, RemoteHost, RemoteAddr, RemoteUser) VALUES (?,?,?,?,?,?,?,?,?,?,'','','')",
                           -1, &st, nullptr),
        d.db);
  const std::string* values[] = {&ad.Item,     &ad.Name,   &ad.Email, &ad.Price, &ad.Desc,
                                 &ad.Phone,    &ad.Category, &ad.Expire, &ad.Date, &ad.Password};
  for (int i = 0; i < 10; ++i) sqlite3_bind_text(st, i + 1, values[i]->c_str(), -1, SQLITE_TRANSIENT);
  int rc = sqlite3_step(st);
  sqlite3_finalize(st);
  Check(rc, d.db);
  return sqlite3_last_insert_rowid(d.db);
}

std::vector<Row> ReadAds(const std::string& dbPath, const std::string& where) {
  Db d(dbPath);
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(d.db, ("SELECT * FROM QB WHERE " + where + " ORDER BY ID").c_str(), -1, &st, nullptr),
        d.db);
  std::vector<Row> rows;
  while (sqlite3_step(st) == SQLITE_ROW) {
    Row row;
    for (int c = 0; c < sqlite3_column_count(st); ++c) {
      const unsigned char* text = sqlite3_column_text(st, c);
      row[sqlite3_column_name(st, c)] =
          text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(st, c)))
               : "<null>";
    }
    rows.push_back(row);
  }
  sqlite3_finalize(st);
  return rows;
}

long long CountAds(const std::string& dbPath) { return static_cast<long long>(ReadAds(dbPath).size()); }

std::string LocalDateUs(int offsetDays) {
  std::tm t = LocalDay(offsetDays);
  return std::to_string(t.tm_mon + 1) + "/" + std::to_string(t.tm_mday) + "/" + std::to_string(t.tm_year + 1900);
}

std::string LocalDateIso(int offsetDays) {
  std::tm t = LocalDay(offsetDays);
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d", &t);
  return buffer;
}

}  // namespace qbtest
