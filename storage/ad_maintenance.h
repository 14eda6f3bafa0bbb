#pragma once
// Store operations for the operator's tool (qbadmin): finding, deleting and
// re-keying ads in bulk, importing rows, statistics, integrity and backup.
// They run on a connection opened by Database::Open, so they wait for other
// processes' locks as requests do. Reads go in short batches and every change
// is one short transaction, so the board keeps serving while they run. All
// but BackupStore work on every store, with the comparison rules of the
// board's own queries (storage/statement.h); each store does its own part
// (storage/store_maintenance.h).
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "storage/ad_dates.h"
#include "storage/database.h"

namespace qb::maintenance {

// One row of table QB, every column in table order (kAdColumns) as stored;
// a column that holds no value at all (NULL) is nullopt.
struct AdRow {
  std::array<std::optional<std::string>, 14> values;
  friend bool operator==(const AdRow&, const AdRow&) = default;
};

// Which ads an operation covers; every given condition must hold.
struct AdFilter {
  std::optional<std::string> category;  // Category LIKE this, as its category page lists it
  std::optional<std::string> seller;    // Name equal, trimmed, case ignored, as the seller lookup finds it
  std::optional<std::string> email;     // Email contains this, ASCII case ignored
  std::optional<std::string> address;   // RemoteAddr equal
  std::optional<CivilDate> since;       // placed or last updated on this day or later
  bool expired = false;                 // Expire before today: what the next purge deletes
  bool Empty() const { return !category && !seller && !email && !address && !since && !expired; }
};

// Calls `sink` for each matching ad in ID order. Rows are read in batches,
// each in its own short read, so a slow sink holds no lock on the store.
void ForEachAd(Database& db, const AdFilter& filter, const CivilDate& today,
               const std::function<void(const AdRow&)>& sink);
std::vector<std::int64_t> MatchingIds(Database& db, const AdFilter& filter, const CivilDate& today);
long long CountMatching(Database& db, const AdFilter& filter, const CivilDate& today);
std::optional<AdRow> FindAd(Database& db, std::int64_t id);

// Deletes the ads in one transaction and returns the IDs that were not there.
std::vector<std::int64_t> DeleteAds(Database& db, const std::vector<std::int64_t>& ids);
// The expiry purge of the category listing: every ad whose Expire lies
// before today. Returns how many were deleted.
long long PurgeExpired(Database& db, const CivilDate& today);
// Stores `password` as the ad's Password, exactly as given. False when there
// is no such ad.
bool SetPassword(Database& db, std::int64_t id, std::string_view password);

// Adds the rows in one transaction: all of them or, on any failure, none.
// With `renumber` the store gives every row a new ID; otherwise each keeps
// its own, and an ID already in the store fails naming it (on PostgreSQL the
// IDs of ads placed later then follow the largest one stored).
void ImportAds(Database& db, const std::vector<AdRow>& rows, bool renumber);

struct StoreStats {
  long long total = 0;
  long long expired = 0;                                // waiting for the purge
  std::vector<std::pair<CivilDate, long long>> perDay;  // by Date, the last `days` days
};
StoreStats CollectStats(Database& db, const CivilDate& today, int days);

// What is wrong with the store: SQLite's integrity check (SQLite only; a
// PostgreSQL server's files are checked with its own tools), the table's
// columns and key (on PostgreSQL their types too), and rows the board would mishandle (an Expire that is
// not a date is never purged). Empty when all is well.
std::vector<std::string> CheckStore(Database& db);
// What CheckStore looks at on this store ("schema and expiry dates"...).
std::string CheckCovers(Database& db);
// Ads whose Category none of `names` matches as a category page matches it:
// no category page lists them.
long long CountUnlisted(Database& db, const std::vector<std::string>& names);

// A consistent copy of the store in `file`, taken with SQLite's online
// backup while other processes keep using the store. The copy is written
// beside `file` and renamed over it only once it is complete and checked.
// A PostgreSQL store is refused: pg_dump backs it up.
void BackupStore(Database& db, const std::string& file);

}  // namespace qb::maintenance
