#pragma once
// Direct access to a site's qb.db for tests: seeding ads with precise dates
// and reading back what requests stored.
#include <map>
#include <string>
#include <vector>

namespace qbtest {

struct SeedAd {
  std::string Item = "Red bike";
  std::string Name = "Ann Lee";
  std::string Email = "ann@example.com";
  std::string Price = "50";
  std::string Desc = "A red bike, hardly used.";
  std::string Phone = "555-1234";
  std::string Category = "Cars";
  std::string Expire = "2999-01-01";
  std::string Date = "1/2/2026";
  std::string Password = "SECRET";
};

using Row = std::map<std::string, std::string>;  // column name -> text ("<null>" for NULL)

// Inserts one ad (creating the bare table when the file is new); returns its ID.
long long InsertAd(const std::string& dbPath, const SeedAd& ad);
std::vector<Row> ReadAds(const std::string& dbPath, const std::string& where = "1");
long long CountAds(const std::string& dbPath);
void ExecSql(const std::string& dbPath, const std::string& sql);

// The local date `offsetDays` from today, as "m/d/yyyy" and as "YYYY-MM-DD".
std::string LocalDateUs(int offsetDays = 0);
std::string LocalDateIso(int offsetDays = 0);

}  // namespace qbtest
