#include "storage/place_limit.h"

#include <charconv>
#include <map>

#include "storage/write_transaction.h"

namespace qb::placing {
namespace {

// When `?1` may place again, as a time (0 when it may now, counting its ads
// since `?2` minus the window); -1 for an exempt address. The limit is
// reached when its kAdsPerAddress-th newest ad still counts, and lasts until
// that ad stops counting.
std::string AllowedFromSql(char p) {
  const std::string window = std::to_string(kWindow);
  return std::string("SELECT CASE WHEN EXISTS (SELECT 1 FROM QbPlaceExempt WHERE Addr = ") + p +
         "1) THEN -1 ELSE coalesce((SELECT At FROM QbPlace WHERE Addr = " + p + "1 AND At > " + p + "2 - " + window +
         " ORDER BY At DESC LIMIT 1 OFFSET " + std::to_string(kAdsPerAddress - 1) + ") + " + window + ", 0) END";
}
std::string CleanupSql(char p) {  // parameter 1: the time
  return std::string("DELETE FROM QbPlace WHERE At <= ") + p + "1 - " + std::to_string(kWindow);
}
std::string CountsSql(char p) {  // parameter 1: the time
  return std::string("SELECT Addr, count(*) FROM QbPlace WHERE At > ") + p + "1 - " + std::to_string(kWindow) +
         " GROUP BY Addr";
}
const std::string kAllowedFromSqlite = AllowedFromSql('?'), kAllowedFromPostgres = AllowedFromSql('$');
const std::string kCleanupSqlite = CleanupSql('?'), kCleanupPostgres = CleanupSql('$');
const std::string kCountsSqlite = CountsSql('?'), kCountsPostgres = CountsSql('$');
const StoreSql kAllowedFrom{kAllowedFromSqlite, kAllowedFromPostgres};
const StoreSql kCleanup{kCleanupSqlite, kCleanupPostgres};
const StoreSql kCounts{kCountsSqlite, kCountsPostgres};
const StoreSql kCount{"INSERT INTO QbPlace (Addr, At) VALUES (?1, ?2)",
                      "INSERT INTO QbPlace (Addr, At) VALUES ($1, $2)"};
const StoreSql kExempts{"SELECT Addr FROM QbPlaceExempt", "SELECT Addr FROM QbPlaceExempt"};
const StoreSql kCountOf{"SELECT count(*) FROM QbPlace WHERE Addr = ?1", "SELECT count(*) FROM QbPlace WHERE Addr = $1"};
const StoreSql kCountAll{"SELECT count(*) FROM QbPlace", "SELECT count(*) FROM QbPlace"};
const StoreSql kClearOf{"DELETE FROM QbPlace WHERE Addr = ?1", "DELETE FROM QbPlace WHERE Addr = $1"};
const StoreSql kClearAll{"DELETE FROM QbPlace", "DELETE FROM QbPlace"};
const StoreSql kExempt{"INSERT INTO QbPlaceExempt (Addr) VALUES (?1) ON CONFLICT DO NOTHING RETURNING 1",
                       "INSERT INTO QbPlaceExempt (Addr) VALUES ($1) ON CONFLICT DO NOTHING RETURNING 1::bigint"};
const StoreSql kUnexempt{"DELETE FROM QbPlaceExempt WHERE Addr = ?1 RETURNING 1",
                         "DELETE FROM QbPlaceExempt WHERE Addr = $1 RETURNING 1::bigint"};

std::int64_t AllowedFrom(Database& db, std::string_view address, std::int64_t now) {
  const SqlValue values[] = {address, now};
  return db.RunStatement(kAllowedFrom, values);
}

}  // namespace

std::int64_t Admit(Database& db, std::string_view address, std::int64_t now) {
  const std::int64_t allowedFrom = AllowedFrom(db, address, now);
  if (allowedFrom < 0) return 0;  // exempt
  if (allowedFrom > now) return allowedFrom;
  const SqlValue values[] = {address, now};
  db.RunStatement(kCount, values);
  const SqlValue time[] = {now};
  db.RunStatement(kCleanup, time);
  return 0;
}

std::vector<AddressCount> ListCounts(Database& db, std::int64_t now) {
  std::map<std::string, AddressCount> byAddress;
  const SqlValue time[] = {now};
  db.ForEachRow(kCounts, time, [&](SqlRow row) {
    AddressCount& entry = byAddress[std::string(row[0].value_or(""))];
    const std::string_view ads = row[1].value_or("0");
    std::from_chars(ads.data(), ads.data() + ads.size(), entry.ads);
  });
  db.ForEachRow(kExempts, {}, [&](SqlRow row) { byAddress[std::string(row[0].value_or(""))].exempt = true; });
  std::vector<AddressCount> counts;
  for (auto& [address, entry] : byAddress) {
    entry.address = address;
    if (!entry.exempt && entry.ads >= kAdsPerAddress) entry.allowedFrom = AllowedFrom(db, address, now);
    counts.push_back(std::move(entry));
  }
  return counts;
}

std::int64_t ClearCounts(Database& db, std::optional<std::string_view> address) {
  WriteTransaction transaction(db);
  std::int64_t cleared = 0;
  if (address) {
    const SqlValue values[] = {*address};
    cleared = db.RunStatement(kCountOf, values);
    db.RunStatement(kClearOf, values);
  } else {
    cleared = db.RunStatement(kCountAll, {});
    db.RunStatement(kClearAll, {});
  }
  transaction.Commit();
  return cleared;
}

bool SetExempt(Database& db, std::string_view address, bool exempt) {
  const SqlValue values[] = {address};
  return db.RunStatement(exempt ? kExempt : kUnexempt, values) != 0;
}

}  // namespace qb::placing
