// The comparison rules of the handlers' queries and the indexes they use.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>

#include "storage/ad_queries.h"
#include "support/store_support.h"

namespace qb {
namespace {

using namespace testsupport;
using namespace queries;
using Ids = std::vector<std::string>;

class AdQueries : public ::testing::Test {
 protected:
  void AddAds(const char* field, std::initializer_list<const char*> values) {
    for (const char* value : values) AddAd(*db, {{field, value}});
  }
  Ids Select(const char* sql, std::string_view param, std::string_view value) {
    Ids ids = Rows(*db, sql, param, value);
    std::ranges::sort(ids);
    return ids;
  }
  long long Execute(const char* sql, std::string_view value) {
    auto query = db->CreateQueryDef(sql);
    query->SetParameter("pName", value);
    query->Execute();
    return query->RowsAffected();
  }

  TempDir dir;
  std::unique_ptr<Database> db = Database::Open(dir.Path("qb.db"));
};

TEST_F(AdQueries, NameIgnoresAsciiCaseAndCategoryIsALikePattern) {
  AddAds("Name", {"Ann Lee", "ANN LEE", "Ann Leef"});
  EXPECT_EQ(Select(kSellerAds, "pName", "ann lee"), (Ids{"1", "2"}));
  AddAds("Category", {"Cars", "cars & trucks", "100% Wool", "100 kg Wool", "A_B", "AxB"});
  EXPECT_EQ(Select(kListCategory, "pCat", "CARS"), (Ids{"4"}));
  EXPECT_EQ(Select(kListCategory, "pCat", "cars%"), (Ids{"4", "5"}));
  EXPECT_EQ(Select(kListCategory, "pCat", "100% wool"), (Ids{"6", "7"}));
  EXPECT_EQ(Select(kListCategory, "pCat", "a_b"), (Ids{"8", "9"}));
}

TEST_F(AdQueries, IdIsTakenOnlyFromPlainDigitsAndNeverReused) {
  for (int i = 0; i < 12; ++i) AddAd(*db, {{"Item", "Lamp"}});
  EXPECT_EQ(Select(kAdById, "pName", "12"), (Ids{"12"}));
  EXPECT_EQ(Select(kAdByIdForEdit, "pItem", "007"), (Ids{"7"}));
  for (const char* bad : {"", "abc", "12abc", "-1", " 12", "12 ", "12.0", "+12", "99999999999999999999"}) {
    EXPECT_EQ(Select(kAdById, "pName", bad), Ids{}) << '"' << bad << '"';
  }
  EXPECT_EQ(Execute(kDeleteAd, "twelve"), 0);
  EXPECT_EQ(Execute(kDeleteAd, "12"), 1);
  EXPECT_EQ(AddAd(*db, {{"Item", "Desk"}}), 13);
}

TEST_F(AdQueries, ExpireComparesAsDates) {
  AddAds("Expire", {"2025-12-31", "2026-01-01", "2026-09-30", "2026-10-01", "2026-12-05", "2026-12-06"});
  EXPECT_EQ(Select(kAnyExpired, "pName", "12/31/2025"), Ids{});
  EXPECT_EQ(Select(kAnyExpired, "pName", "1/1/2026"), (Ids{"1"}));
  EXPECT_EQ(Execute(kPurgeExpired, "13/1/2026"), 0);
  EXPECT_EQ(Execute(kPurgeExpired, "10/1/2026"), 3);
  EXPECT_EQ(Execute(kPurgeExpired, "12/6/2026"), 2);
  EXPECT_EQ(Select(kShowAll, "", ""), (Ids{"6"}));
}

// The plan SQLite picks for `sql` with every parameter bound to `value`
// (a LIKE can use its index only for some values).
std::string QueryPlan(sqlite3* db, const std::string& sql, const char* value) {
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &stmt, nullptr), SQLITE_OK);
  for (int i = 1; i <= sqlite3_bind_parameter_count(stmt); ++i) sqlite3_bind_text(stmt, i, value, -1, SQLITE_STATIC);
  std::string plan;
  while (sqlite3_step(stmt) == SQLITE_ROW) plan += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3));
  sqlite3_finalize(stmt);
  return plan;
}

TEST_F(AdQueries, EveryQueryButShowAllUsesAnIndexOrTheRowid) {
  const std::pair<const char*, const char*> cases[] = {
      {kListCategory, "Cars"}, {kAnyExpired, "12/6/2026"}, {kPurgeExpired, "12/6/2026"}, {kSellerAds, "Ann Lee"},
      {kAdByIdForEdit, "12"},  {kAdById, "12"},            {kDeleteAd, "12"}};
  for (const auto& [sql, value] : cases) {
    const std::string plan = QueryPlan(db->Handle(), sql, value);
    EXPECT_TRUE(plan.starts_with("SEARCH QB USING") && plan.find("SCAN") == std::string::npos) << sql << ": " << plan;
  }
  EXPECT_EQ(QueryPlan(db->Handle(), kShowAll, ""), "SCAN QB");
}

}  // namespace
}  // namespace qb
