#include "storage/sqlite/sqlite_schema.h"

#include <cstdint>
#include <limits>
#include <new>
#include <string_view>

#include "storage/ad_dates.h"
#include "storage/ad_record.h"
#include "storage/database.h"
#include "storage/sqlite/sqlite_helpers.h"

namespace qb::schema {
namespace {

constexpr std::string_view kCreateTablePrefix = "CREATE TABLE ";
static_assert(std::string_view(kCreateTableSql).starts_with(kCreateTablePrefix));

// Name and Category are matched without regard to case, so their indexes use
// NOCASE; a seller's name is matched trimmed, so its index is on trim(Name)
// (the plain-name index of earlier stores is no longer used); the expiry
// purge walks Expire.
constexpr char kCreateIndexesSql[] =
    "CREATE INDEX IF NOT EXISTS QB_SellerName ON QB(trim(Name) COLLATE NOCASE);"
    "DROP INDEX IF EXISTS QB_Name;"
    "CREATE INDEX IF NOT EXISTS QB_Category ON QB(Category COLLATE NOCASE);"
    "CREATE INDEX IF NOT EXISTS QB_Expire ON QB(Expire);";

// The wrong passwords tried lately (storage/guess_limit.h): one row per try,
// looked up by ad and time, and dropped by time once too old to count.
constexpr char kCreateGuessTableSql[] =
    "CREATE TABLE IF NOT EXISTS QbGuess (AdID INTEGER NOT NULL, Addr TEXT NOT NULL, At INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS QbGuess_Ad ON QbGuess(AdID, At);"
    "CREATE INDEX IF NOT EXISTS QbGuess_At ON QbGuess(At);";

// The ads placed lately, per address, and the addresses exempt from the
// limit (storage/place_limit.h).
constexpr char kCreatePlaceTablesSql[] =
    "CREATE TABLE IF NOT EXISTS QbPlace (Addr TEXT NOT NULL, At INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS QbPlace_Addr ON QbPlace(Addr, At);"
    "CREATE INDEX IF NOT EXISTS QbPlace_At ON QbPlace(At);"
    "CREATE TABLE IF NOT EXISTS QbPlaceExempt (Addr TEXT PRIMARY KEY) WITHOUT ROWID;";

std::string_view ArgText(sqlite3_value* arg) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(arg));
  if (text == nullptr) return {};
  return {text, static_cast<std::size_t>(sqlite3_value_bytes(arg))};
}

// QbId(text): one or more ASCII digits that fit in 64 bits, else NULL.
void QbIdFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const std::string_view text = ArgText(argv[0]);
  if (text.empty()) return;  // a function that sets no result returns NULL
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return;
    const int digit = c - '0';
    if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return;
    value = value * 10 + digit;
  }
  sqlite3_result_int64(ctx, value);
}

// QbDate(text): "m/d/yyyy" of a real day as 'YYYY-MM-DD', else NULL.
void QbDateFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto date = ParseUsDate(ArgText(argv[0]));
  if (!date) return;
  try {
    const std::string iso = IsoDateText(*date);
    sqlite3_result_text(ctx, iso.data(), static_cast<int>(iso.size()), SQLITE_TRANSIENT);
  } catch (const std::bad_alloc&) {  // nothing may unwind into SQLite
    sqlite3_result_error_nomem(ctx);
  }
}

int ReadUserVersion(sqlite3* db, const std::string& context) {
  StmtHandle stmt = PrepareStatement(db, "PRAGMA user_version", context);
  const int rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW) throw StoreError(db, rc, context);
  return sqlite3_column_int(stmt.get(), 0);
}

bool HasAdTable(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'QB' COLLATE NOCASE", -1,
                         &stmt, nullptr) != SQLITE_OK) {
    return false;
  }
  const bool found = sqlite3_step(stmt) == SQLITE_ROW;
  sqlite3_finalize(stmt);
  return found;
}

void Exec(sqlite3* db, const std::string& sql, const std::string& context) {
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) throw StoreError(db, rc, context);
}

}  // namespace

void RegisterFunctions(sqlite3* db, const std::string& context) {
  constexpr int kFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  for (const auto& [name, function] : {std::pair{"QbId", &QbIdFunction}, std::pair{"QbDate", &QbDateFunction}}) {
    const int rc = sqlite3_create_function_v2(db, name, 1, kFlags, nullptr, function, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) throw StoreError(db, rc, context);
  }
}

void EnsureCurrent(sqlite3* db, const std::string& context) {
  // Every request opens the store, so a current file costs one read. A file
  // made by a newer build is left as it is.
  if (ReadUserVersion(db, context) >= kVersion) return;

  // BEGIN IMMEDIATE takes the write lock (waiting out the busy timeout), so of
  // several processes opening a new store one builds the schema and the others
  // find it done when they read the version again.
  try {
    Exec(db, "BEGIN IMMEDIATE", context);
    try {
      if (ReadUserVersion(db, context) < kVersion) {
        Exec(db,
             "CREATE TABLE IF NOT EXISTS " +
                 std::string(std::string_view(kCreateTableSql).substr(kCreateTablePrefix.size())),
             context);
        Exec(db, kCreateIndexesSql, context);
        Exec(db, kCreateGuessTableSql, context);
        Exec(db, kCreatePlaceTablesSql, context);
        Exec(db, "PRAGMA user_version = " + std::to_string(kVersion), context);
      }
      Exec(db, "COMMIT", context);
    } catch (...) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  } catch (const QbError& e) {
    // A store that cannot be written here (a read-only site, or a file an
    // outside tool made read-only) can still be read: the indexes only make
    // it faster. Writes then fail with their own clear error.
    if (!CannotWriteStore(e) || !HasAdTable(db)) throw;
  }
}

}  // namespace qb::schema
