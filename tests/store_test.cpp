// The store layer: opening and upgrading files, the comparison
// rules and plans of the handlers' queries, the record-set rules, and many
// processes writing one new store at once, in their turns.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "gateway/qb_error.h"
#include "postdata/database_slots.h"
#include "storage/ad_record.h"
#include "storage/database.h"
#include "storage/postgres/pg_database.h"
#include "storage/postgres/pg_statements.h"
#include "storage/sqlite/sqlite_database.h"
#include "storage/sqlite/sqlite_statements.h"
#include "storage/sqlite/write_turn.h"
#include "storage/write_transaction.h"
#include "support/harness.h"

namespace qb {
namespace {

using qbtest::Raised;
using qbtest::Site;
using qbtest::Store;
using Texts = std::vector<std::string>;
using enum Statement;

std::int64_t AddAd(const Site& site, Database& db, const std::vector<std::pair<std::string, std::string>>& fields) {
  auto table = db.OpenTable("QB");
  table->AddNew();
  for (const auto& [name, value] : fields) table->SetField(name, value);
  table->Update();
  return std::stoll(site.Query("SELECT max(ID) FROM QB"));
}

// A query in the store's own SQL: `sqlite` or `postgres`.
std::unique_ptr<QueryDef> OwnQuery(Database& db, std::string_view sqlite, std::string_view postgres) {
  if (auto* lite = dynamic_cast<SqliteDatabase*>(&db)) return lite->CreateQueryDef(sqlite);
  return dynamic_cast<PgDatabase&>(db).CreateQueryDef(postgres);
}

// `field` of every row `query` gives with its one parameter (if any) bound.
Texts Rows(std::unique_ptr<QueryDef> query, std::string_view param = {}, std::string_view value = {},
           std::string_view field = "ID") {
  if (!param.empty()) query->SetParameter(param, value);
  Texts rows;
  for (auto rs = query->OpenRecordset(); !rs->Eof(); rs->MoveNext()) rows.emplace_back(rs->Field(field));
  std::ranges::sort(rows);
  return rows;
}

std::string Schema(const Site& site) {
  return site.Query(
      "SELECT (SELECT user_version FROM pragma_user_version) || ' ' || group_concat(name, ' ') "
      "FROM (SELECT name FROM sqlite_master WHERE type = 'index' ORDER BY name)");
}

TEST(Store, OpensNewEmptyAndOutsideStoresAndUpgradesOnlyOldOnes) {
  for (const char* start : {"none", "empty", "outside"}) {
    Site site;
    if (start == std::string("empty")) site.Write("qb.db", "");
    if (start == std::string("outside")) site.Seed(qbtest::Ad{});
    const auto missing = Raised([&] { Database::Open({.file = site.Path("qb.db"), .mayCreate = false}); });
    EXPECT_EQ(missing.first, start[0] == 'n' ? kErrFileNotFound : 0) << missing.second;  // and none is made
    auto db = Database::Open({site.Path("qb.db")});
    const std::string current = "3 QB_Category QB_Expire QB_SellerName QbGuess_Ad QbGuess_At QbPlace_Addr QbPlace_At\n";
    EXPECT_EQ(Schema(site), current) << start;
    EXPECT_EQ(Rows(db->CreateQueryDef(kSellerAds), "pName", "ann lee").size(), start[0] == 'o' ? 1u : 0u);
    db->Close();
    site.Query("DROP INDEX QB_Expire");
    Database::Open({site.Path("qb.db")});  // a current store is only read
    EXPECT_EQ(Schema(site), "3 QB_Category QB_SellerName QbGuess_Ad QbGuess_At QbPlace_Addr QbPlace_At\n");
    // A store of the first version: the plain-name index gives way.
    site.Query(
        "PRAGMA user_version = 1; DROP TABLE QbGuess; DROP TABLE QbPlace; DROP INDEX QB_SellerName; "
        "CREATE INDEX QB_Name ON QB(Name)");
    EXPECT_EQ(Schema(site), "1 QB_Category QB_Name\n");
    Database::Open({site.Path("qb.db")});
    EXPECT_EQ(Schema(site), current);
  }
}

// The tests below run on either store; without the tests' PostgreSQL cluster
// its runs are skipped (and fail in CI).
class OnEachStore : public testing::TestWithParam<Store> {
 protected:
  void SetUp() override {
    if (GetParam() != Store::kPostgres || !qbtest::TestPostgres().empty()) return;
    if (std::getenv("CI") != nullptr) FAIL() << "the tests' PostgreSQL cluster does not run";
    GTEST_SKIP() << "no PostgreSQL cluster (tests/support/test_postgres.sh)";
  }
  std::unique_ptr<Site> NewSite() const {
    return std::make_unique<Site>(qbtest::kConfig, qbtest::kCategories, "", GetParam());
  }
  static std::unique_ptr<Database> Open(const Site& site) {
    return Database::Open(StoreLocation{site.Path("qb.db"), site.Server()});
  }
};
INSTANTIATE_TEST_SUITE_P(Stores, OnEachStore, testing::Values(Store::kSqlite, Store::kPostgres),
                         [](const auto& info) { return info.param == Store::kSqlite ? "Sqlite" : "Postgres"; });

// The plan of `sql` with every parameter bound to `value`: whether it reads
// through an index only. A LIKE uses its index only for some values; a
// PostgreSQL plan is asked for with table scans ruled out where an index
// serves, as its planner scans tables this small anyway.
std::string PlanProblem(const Site& site, Database& db, Statement statement, const char* value) {
  std::string plan;
  auto* lite = dynamic_cast<SqliteDatabase*>(&db);
  if (lite == nullptr) {
    std::string text(PgText(statement));
    for (std::size_t at; (at = text.find(":p")) != std::string::npos;) {
      const std::size_t end = text.find_first_of(" ,)", at);
      text.replace(at, end - at, "'" + std::string(value) + "'::bytea");
    }
    plan = site.Query("SET enable_seqscan = off; EXPLAIN " + text);
    return plan.find("Seq Scan") == std::string::npos && plan.find("Index") != std::string::npos ? "" : plan;
  }
  sqlite3_stmt* stmt = nullptr;
  const std::string explain = "EXPLAIN QUERY PLAN " + std::string(SqliteText(statement, "pCat", value));
  if (sqlite3_prepare_v2(lite->Handle(), explain.c_str(), -1, &stmt, nullptr) != 0) return "not prepared";
  for (int i = 1; i <= sqlite3_bind_parameter_count(stmt); ++i) sqlite3_bind_text(stmt, i, value, -1, SQLITE_STATIC);
  while (sqlite3_step(stmt) == SQLITE_ROW) plan += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3));
  sqlite3_finalize(stmt);
  return plan.starts_with("SEARCH QB USING") && plan.find("SCAN") == std::string::npos ? "" : plan;
}

TEST_P(OnEachStore, QueriesCompareAsTheBoardDoesAndUseAnIndex) {
  const auto site = NewSite();
  auto db = Open(*site);
  for (const char* name : {"Ann Lee", "ANN LEE", "Ann Leef"}) AddAd(*site, *db, {{"Name", name}});
  for (const char* c : {"Cars", "cars & trucks", "100% Wool", "100 kg Wool", "A_B", "AxB"})
    AddAd(*site, *db, {{"Category", c}});
  for (const char* e : {"2025-12-31", "2026-01-01", "2026-09-30", "2026-10-01"}) AddAd(*site, *db, {{"Expire", e}});
  const std::tuple<Statement, const char*, const char*, Texts> selects[] = {
      {kSellerAds, "pName", "ann lee", {"1", "2"}}, {kListCategory, "pCat", "CARS", {"4"}},
      {kListCategory, "pCat", "cars%", {"4", "5"}}, {kListCategory, "pCat", "100% wool", {"6", "7"}},
      {kListCategory, "pCat", "a_b", {"8", "9"}},   {kAdById, "pName", "12", {"12"}},
      {kAdByIdForEdit, "pItem", "007", {"7"}},      {kAnyExpired, "pName", "12/31/2025", {}},
      {kAnyExpired, "pName", "1/1/2026", {"10"}},   {kAnyExpired, "pName", "13/1/2026", {}}};
  for (const auto& [sql, param, value, ids] : selects)
    EXPECT_EQ(Rows(db->CreateQueryDef(sql), param, value), ids) << int(sql) << value;
  auto listing = db->CreateQueryDef(kListCategory);  // the start stays while names change the plan
  listing->SetParameter("pStart", "4");
  for (const auto& [name, ids] : {std::pair{"cars%", Texts{"5"}}, {"CARS", Texts{}}, {"a_b", Texts{"8", "9"}}}) {
    listing->SetParameter("pCat", name);
    Texts rows;
    for (auto rs = listing->OpenRecordset(); !rs->Eof(); rs->MoveNext()) rows.emplace_back(rs->Field("ID"));
    EXPECT_EQ(rows, ids) << name;
  }
  auto hidden = OwnQuery(*db, "SELECT ':a' AS \"x:b\" FROM QB WHERE ID = QbId(:pName) -- :c",
                         "SELECT ':a' AS \"x:b\" FROM qb WHERE id = qb_id(:pName) -- :c");
  EXPECT_EQ(Rows(std::move(hidden), "pName", "12", "x:b"), Texts{":a"});  // no parameter in quotes or comments
  for (const char* bad : {"", "abc", "12abc", "-1", " 12", "12 ", "12.0", "+12", "99999999999999999999"})
    EXPECT_EQ(Rows(db->CreateQueryDef(kAdById), "pName", bad), Texts{}) << bad;
  for (const auto& [sql, value, count] :
       {std::tuple{kDeleteAd, "twelve", 0}, {kDeleteAd, "12", 1}, {kPurgeExpired, "10/1/2026", 2}}) {
    auto query = db->CreateQueryDef(sql);
    query->SetParameter("pName", value);
    query->Execute();
    EXPECT_EQ(query->RowsAffected(), count) << value;
  }
  EXPECT_EQ(AddAd(*site, *db, {{"Item", "Desk"}}), 14);  // IDs are never reused
  for (const auto& [sql, value] : {std::pair{kListCategory, "Cars"},
                                   {kListCategory, "Cars%"},
                                   {kAnyExpired, "1/1/2026"},
                                   {kPurgeExpired, "1/1/2026"},
                                   {kSellerAds, "Ann"},
                                   {kAdByIdForEdit, "12"},
                                   {kAdById, "12"},
                                   {kDeleteAd, "12"}})
    EXPECT_EQ(PlanProblem(*site, *db, sql, value), "") << int(sql);
}

TEST_P(OnEachStore, RecordsetsAndTheirClosingRules) {
  const auto owned = NewSite();
  const Site& site = *owned;
  auto db = Open(site);
  auto table = db->OpenTable("qb");
  auto sellers = db->CreateQueryDef(kSellerAds);
  const std::pair<std::function<void()>, int> refused[] = {
      {[&] { db->OpenTable("Ads"); }, kErrItemNotFound},
      {[&] { table->Update(); }, kErrInvalidArgument},
      {[&] { table->FieldColumn("Item"); }, kErrItemNotFound},
      {[&] { table->SetField("Item", "x"); }, kErrInvalidArgument},
      {[&] { sellers->Execute(); }, kErrInvalidArgument},
      {[&] { sellers->SetParameter("pItem", "x"); }, kErrItemNotFound},
      {[&] { OwnQuery(*db, "SELECT * FROM Ads", "SELECT * FROM Ads")->OpenRecordset(); }, 3001},
      {[&] { db->Reopen(); }, kErrInvalidArgument}};
  for (const auto& [f, number] : refused) EXPECT_EQ(Raised(f).first, number);
  table->AddNew();
  EXPECT_EQ(Raised([&] { table->SetField("ID", "5"); }).first, kErrInvalidArgument);
  EXPECT_EQ(Raised([&] { table->SetField("Colour", "red"); }).second, "Field Colour not found");
  table->SetField("Name", "Ann");
  table->SetField("desc", "Brass");
  table->Update();
  AddAd(site, *db, {{"Name", "Ann"}, {"Price", "7"}, {"Expire", "1999-12-31"}});  // a day before 2000: stored negative
  sellers->SetParameter("pName", "ANN");
  auto ads = sellers->OpenRecordset();
  std::string name = "Desc";  // one buffer holding one name after another
  EXPECT_EQ(ads->Field(name), "Brass");
  const int desc = ads->FieldColumn("DESC"), price = ads->FieldColumn("Price");
  EXPECT_EQ(ads->FieldAt(desc), "Brass");
  name = "Price";
  EXPECT_TRUE(ads->FieldIsNull(name));
  EXPECT_FALSE(ads->FieldIsNull("ID"));
  ads->MoveNext();
  EXPECT_EQ(ads->Field(name), "7");
  EXPECT_EQ(ads->FieldAt(price), "7");
  EXPECT_EQ(Raised([&] { ads->FieldColumn("Colour"); }).first, kErrItemNotFound);
  for (const int column : {-1, 99}) EXPECT_EQ(Raised([&] { ads->FieldAt(column); }).first, kErrItemNotFound);
  EXPECT_EQ(ads->Field("Expire"), "1999-12-31");
  EXPECT_TRUE(ads->FieldIsNull("DESC"));
  EXPECT_EQ(Raised([&] { ads->Field("Colour"); }).first, kErrItemNotFound);
  EXPECT_EQ(Raised([&] { OwnQuery(*db, "SELECT Item FROM QB", "SELECT Item FROM QB")->OpenRecordset()->Edit(); }).first,
            kErrItemNotFound);  // an edit must know its ad
  ads->Edit();
  ads->SetField("Item", "dropped");  // an edit begun again starts afresh
  ads->Edit();
  ads->SetField("Price", "8");
  ads->Update();  // the read ends before the write
  EXPECT_EQ(ads->Field("price"), "8");
  EXPECT_EQ(ads->FieldAt(price), "8");
  EXPECT_EQ(ads->Field("ID"), "2");
  EXPECT_EQ(Raised([&] { ads->MoveNext(); }).first, kErrInvalidArgument);
  EXPECT_EQ(Rows(db->CreateQueryDef(kShowAll), {}, {}, "Price"), (Texts{"", "8"}));
  EXPECT_EQ(Rows(db->CreateQueryDef(kShowAll), {}, {}, "Item"), (Texts{"", ""}));
  auto rs = sellers->OpenRecordset();
  sellers->SetParameter("pName", "Bob");
  EXPECT_EQ(Raised([&] { rs->Field("ID"); }).first, kErrObjectClosed);
  EXPECT_EQ(Raised([&] { rs->FieldAt(0); }).first, kErrObjectClosed);
  EXPECT_TRUE(sellers->OpenRecordset()->Eof());
  auto reading = db->CreateQueryDef(kShowAll)->OpenRecordset();  // holds the read lock
  db->CloseKeepingConnection();
  EXPECT_EQ(Raised([&] { reading->Field("ID"); }).first, kErrObjectClosed);
  EXPECT_EQ(Raised([&] { db->Close(); }).first, kErrObjectClosed);
  site.Query("DELETE FROM QB WHERE ID = 1");  // no lock is left behind
  auto again = db->Reopen();
  auto closedTable = again->OpenTable("QB");  // an ad begun, then the recordset closed: nothing is added
  closedTable->AddNew();
  closedTable->Close();
  EXPECT_TRUE(closedTable->Eof());  // a loop over a closed recordset ends
  EXPECT_EQ(Raised([&] { closedTable->SetField("Item", "x"); }).first, kErrObjectClosed);
  EXPECT_EQ(Raised([&] { closedTable->Update(); }).first, kErrObjectClosed);
  EXPECT_EQ(Raised([&] { closedTable->FieldColumn("Item"); }).first, kErrObjectClosed);
  {
    auto dropped = Open(site);  // a store dropped while a read is held leaves no lock behind
    reading = dropped->CreateQueryDef(kShowAll)->OpenRecordset();
  }
  site.Query("DELETE FROM QB WHERE ID = 2");
  EXPECT_EQ(Rows(again->CreateQueryDef(kShowAll)), Texts{});
  DatabaseSlots slots;
  slots.database = std::move(again);
  slots.queryDef = slots.database->CreateQueryDef(kShowAll);
  slots.recordset = slots.queryDef->OpenRecordset();
  slots.CloseFilled();  // the query closes after its database
  EXPECT_EQ(Raised([&] { slots.CloseFilled(); }).first, kErrObjectClosed);
}

// Half of them without an address (as by hand), half from one address,
// which has its 20 ads an hour and not one more.
TEST_P(OnEachStore, SixteenProcessesPlacingAdsOnANewStoreLoseNoneAndPassNoLimit) {
  const auto owned = NewSite();
  const Site& site = *owned;
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int c = 0; c < 16; ++c) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(gate[1]);
      char byte;
      while (::read(gate[0], &byte, 1) > 0) {
      }
      int placed = 0;
      for (int i = 0; i < 50; ++i) {
        qbtest::Call call = qbtest::Post(
            "Action=ADD", "Item=Lamp+" + std::to_string(i) + "&Name=s" + std::to_string(c) + "&Password=p");
        call.env["REMOTE_ADDR"] = c < 8 ? "" : "192.0.2.1";
        const std::string page = qbtest::RunRequest(site, call);
        placed += page.rfind("Content-type", 0) == 0;
      }
      ::_exit(placed == 50 ? 0 : 1);
    }
    children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  for (const pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(site.Query("SELECT count(*), count(DISTINCT ID), (SELECT count(DISTINCT Name) FROM QB WHERE "
                       "RemoteAddr = ''), (SELECT count(*) FROM QB WHERE RemoteAddr = '192.0.2.1') FROM QB"),
            "420|420|8|20\n");
  if (GetParam() == Store::kSqlite) {
    EXPECT_EQ(site.Query("PRAGMA integrity_check"), "ok\n");
  }
}

// kAtOnce writers go past the queue at once; the next, a write transaction
// as a seller's unlock, update or delete opens, sleeps until the first is
// done, here by dying with its turn held.
TEST(Store, WritersQueueAndADeadOneHoldsUpNoOne) {
  Site site;
  const auto db = Database::Open({site.Path("qb.db")});  // the store is made before the queue fills
  const std::string lock = site.Path("qb.db.lock");
  const auto purge = db->CreateQueryDef(kPurgeExpired);  // a write put off when others write gives its turn back
  purge->SetParameter("pName", "2000-01-01");
  EXPECT_EQ(purge->ExecuteWhenFree(), QueryDef::Deferred::kDone);
  const auto later = [] { return std::chrono::steady_clock::now() + std::chrono::seconds(10); };
  int taken[2], die[2];
  ASSERT_TRUE(::pipe(taken) == 0 && ::pipe(die) == 0);
  const pid_t first = ::fork();
  if (first == 0) {
    ::close(die[1]);
    WriteTurn turn(lock);
    char byte = turn.Take(later()) ? 'y' : 'n';
    if (::write(taken[1], &byte, 1) != 1 || ::read(die[0], &byte, 1) < 0) ::_exit(1);
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(taken[0], &byte, 1), 1);
  EXPECT_EQ(byte, 'y');
  std::vector<std::unique_ptr<WriteTurn>> turns;
  for (auto i = 1u; i < WriteTurn::kAtOnce; ++i)
    EXPECT_TRUE(turns.emplace_back(std::make_unique<WriteTurn>(lock))->Take(later()));
  std::atomic<int> last = -1;
  std::thread next([&] {
    WriteTransaction transaction(*db);
    last = 1;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(last, -1);
  ::close(die[1]);
  next.join();
  EXPECT_EQ(last, 1);
  ::waitpid(first, nullptr, 0);
}

}  // namespace
}  // namespace qb
