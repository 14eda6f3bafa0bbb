#include "storage/place_limit.h"

#include <charconv>
#include <map>

#include "storage/write_transaction.h"

namespace qb::placing {
namespace {

std::int64_t AllowedFrom(Database& db, std::string_view address, std::int64_t now) {
  const SqlValue values[] = {address, now};
  return db.RunStatement(Statement::kPlaceAllowedFrom, values);
}

}  // namespace

std::int64_t Admit(Database& db, std::string_view address, std::int64_t now) {
  const std::int64_t allowedFrom = AllowedFrom(db, address, now);
  if (allowedFrom < 0) return 0;  // exempt
  if (allowedFrom > now) return allowedFrom;
  const SqlValue values[] = {address, now};
  db.RunStatement(Statement::kPlaceCount, values);
  const SqlValue time[] = {now};
  db.RunStatement(Statement::kPlaceCleanup, time);
  return 0;
}

std::vector<AddressCount> ListCounts(Database& db, std::int64_t now) {
  std::map<std::string, AddressCount> byAddress;
  const SqlValue time[] = {now};
  db.ForEachRow(Statement::kPlaceCounts, time, [&](SqlRow row) {
    AddressCount& entry = byAddress[std::string(row[0].value_or(""))];
    const std::string_view ads = row[1].value_or("0");
    std::from_chars(ads.data(), ads.data() + ads.size(), entry.ads);
  });
  db.ForEachRow(Statement::kPlaceExempts, {},
                [&](SqlRow row) { byAddress[std::string(row[0].value_or(""))].exempt = true; });
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
    cleared = db.RunStatement(Statement::kPlaceCountOf, values);
    db.RunStatement(Statement::kPlaceClearOf, values);
  } else {
    cleared = db.RunStatement(Statement::kPlaceCountAll, {});
    db.RunStatement(Statement::kPlaceClearAll, {});
  }
  transaction.Commit();
  return cleared;
}

bool SetExempt(Database& db, std::string_view address, bool exempt) {
  const SqlValue values[] = {address};
  return db.RunStatement(exempt ? Statement::kPlaceExempt : Statement::kPlaceUnexempt, values) != 0;
}

}  // namespace qb::placing
