// Opening the store file, its schema, and the closing rules of the objects.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "storage/ad_queries.h"
#include "storage/ad_record.h"
#include "storage/database_slots.h"
#include "support/store_support.h"

namespace qb {
namespace {

using namespace testsupport;

std::string Schema(sqlite3* db) {
  return Scalar(db, "SELECT (SELECT user_version FROM pragma_user_version) || ' ' || group_concat(name, ' ') "
                    "FROM (SELECT name FROM sqlite_master WHERE type = 'index' ORDER BY name)");
}

void Exec(sqlite3* db, const char* sql) { ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql; }

TEST(StoreOpen, NewOrEmptyFileGetsTheTableIndexesAndVersionOnce) {
  TempDir dir;
  WriteFile(dir.Path("empty.db"), "");
  for (const char* name : {"qb.db", "empty.db"}) {
    auto db = Database::Open(dir.Path(name));
    EXPECT_EQ(Schema(db->Handle()), "1 QB_Category QB_Expire QB_Name");
    EXPECT_EQ(Scalar(db->Handle(), "SELECT sql FROM sqlite_master WHERE name = 'QB'"), kCreateTableSql);
    Exec(db->Handle(), "DROP INDEX QB_Expire");
  }
  // A current store is only read: the dropped index stays dropped.
  EXPECT_EQ(Schema(Database::Open(dir.Path("qb.db"))->Handle()), "1 QB_Category QB_Name");
}

TEST(StoreOpen, StoreMadeByAnOutsideToolIsBroughtUpToDate) {
  TempDir dir;
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(dir.Path("qb.db").c_str(), &raw), SQLITE_OK);
  Exec(raw, kCreateTableSql);
  Exec(raw, "INSERT INTO QB (Name) VALUES ('Ann Lee')");
  sqlite3_close(raw);
  auto db = Database::Open(dir.Path("qb.db"));
  EXPECT_EQ(Schema(db->Handle()), "1 QB_Category QB_Expire QB_Name");
  EXPECT_EQ(Rows(*db, queries::kSellerAds, "pName", "ann lee"), std::vector<std::string>{"1"});
}

TEST(StoreOpen, UnreadableFilesRaiseWithoutThePathAndStayUntouched) {
  TempDir dir;
  for (int i = 0; i < 40; ++i) AddAd(*Database::Open(dir.Path("full.db")), {{"Desc", std::string(400, 'x')}});
  const std::string store = ReadFile(dir.Path("full.db"));
  ASSERT_GT(store.size(), 8192u);
  const std::tuple<std::string, int, const char*> cases[] = {
      {std::string(4096, 't'), SQLITE_NOTADB, "file is not a database"},
      {store.substr(0, store.size() / 2), SQLITE_CORRUPT, "malformed"}};
  for (const auto& [bytes, rc, message] : cases) {
    WriteFile(dir.Path("qb.db"), bytes);
    const std::string text = ErrorOf([&] { Database::Open(dir.Path("qb.db")); }, kErrStoreBase + rc);
    EXPECT_EQ(text.rfind("The ad store qb.db could not be opened: ", 0), 0u) << text;
    EXPECT_NE(text.find(message), std::string::npos) << text;
    EXPECT_TRUE(ReadFile(dir.Path("qb.db")) == bytes);
  }
  const std::string text = ErrorOf([&] { Database::Open(dir.Path("no/qb.db")); }, kErrStoreBase + SQLITE_CANTOPEN);
  EXPECT_EQ(text.find(dir.Dir()), std::string::npos) << text;
}

TEST(StoreClose, EachObjectClosesOnceAndMayOutliveTheDatabase) {
  TempDir dir;
  auto db = Database::Open(dir.Path("qb.db"));
  AddAd(*db, {{"Item", "Lamp"}});
  auto query = db->CreateQueryDef(queries::kShowAll);
  auto rs = query->OpenRecordset();  // mid-read: holds the read lock
  auto table = db->OpenTable("QB");
  db->Close();
  ErrorOf([&] { db->Close(); }, kErrObjectClosed);
  ErrorOf([&] { db->CreateQueryDef(queries::kShowAll); }, kErrObjectClosed);
  ErrorOf([&] { rs->Field("Item"); }, kErrObjectClosed);
  ErrorOf([&] { query->OpenRecordset(); }, kErrObjectClosed);
  ErrorOf([&] { table->AddNew(); }, kErrObjectClosed);

  sqlite3* other = nullptr;  // no busy timeout: any lock left would fail this
  ASSERT_EQ(sqlite3_open(dir.Path("qb.db").c_str(), &other), SQLITE_OK);
  Exec(other, "DELETE FROM QB");
  sqlite3_close(other);

  query->Close();
  rs->Close();
  ErrorOf([&] { query->Close(); }, kErrObjectClosed);
  ErrorOf([&] { rs->Close(); }, kErrObjectClosed);
}

TEST(StoreClose, AConnectionKeptAtCloseServesTheReopenedDatabase) {
  TempDir dir;
  auto db = Database::Open(dir.Path("qb.db"));
  AddAd(*db, {{"Item", "Lamp"}});
  ErrorOf([&] { db->Reopen(); }, kErrInvalidArgument);  // still open
  auto query = db->CreateQueryDef(queries::kShowAll);
  auto rs = query->OpenRecordset();  // mid-read: holds the read lock
  sqlite3* const handle = db->Handle();
  db->CloseKeepingConnection();
  // Closed like any closed database, and no lock is left.
  EXPECT_FALSE(db->IsOpen());
  ErrorOf([&] { db->Close(); }, kErrObjectClosed);
  ErrorOf([&] { db->CreateQueryDef(queries::kShowAll); }, kErrObjectClosed);
  ErrorOf([&] { rs->Field("Item"); }, kErrObjectClosed);
  ErrorOf([&] { query->OpenRecordset(); }, kErrObjectClosed);
  sqlite3* other = nullptr;  // no busy timeout: any lock left would fail this
  ASSERT_EQ(sqlite3_open(dir.Path("qb.db").c_str(), &other), SQLITE_OK);
  Exec(other, "INSERT INTO QB (Item) VALUES ('Chair')");

  // The reopened database runs on the kept connection and sees the change.
  auto again = db->Reopen();
  EXPECT_EQ(again->Handle(), handle);
  EXPECT_EQ(Rows(*again, queries::kShowAll).size(), 2u);
  ErrorOf([&] { query->OpenRecordset(); }, kErrObjectClosed);  // old objects stay closed
  // Reopened once more without a kept connection, it opens the file anew.
  again->Close();
  auto fresh = again->Reopen();
  EXPECT_EQ(Rows(*fresh, queries::kShowAll).size(), 2u);
  fresh->Close();
  Exec(other, "DELETE FROM QB");
  sqlite3_close(other);
  query->Close();
  rs->Close();
}

TEST(DatabaseSlots, EmptySlotsRaiseAndFilledOnesCloseOnceInAnyOrder) {
  DatabaseSlots empty;
  EXPECT_EQ(ErrorOf([&] { empty.CloseRecordset(); }, kErrObjectNotSet), "Object variable not set (no open recordset)");
  ErrorOf([&] { empty.CloseDatabase(); }, kErrObjectNotSet);
  ErrorOf([&] { empty.CloseQueryDef(); }, kErrObjectNotSet);

  TempDir dir;
  DatabaseSlots slots;
  slots.database = Database::Open(dir.Path("qb.db"));
  AddAd(*slots.database, {{"Item", "Lamp"}});
  slots.queryDef = slots.database->CreateQueryDef(queries::kShowAll);
  slots.recordset = slots.queryDef->OpenRecordset();
  slots.CloseRecordset();  // the order of the application error routine
  slots.CloseDatabase();
  slots.CloseQueryDef();
  ErrorOf([&] { slots.CloseRecordset(); }, kErrObjectClosed);
  ErrorOf([&] { slots.CloseDatabase(); }, kErrObjectClosed);
  ErrorOf([&] { slots.CloseQueryDef(); }, kErrObjectClosed);

  // Open objects destroyed in the slots' own order: the database first.
  DatabaseSlots open;
  open.database = Database::Open(dir.Path("qb.db"));
  open.recordset = open.database->CreateQueryDef(queries::kShowAll)->OpenRecordset();
  open.database.reset();
  ErrorOf([&] { open.recordset->Field("Item"); }, kErrObjectClosed);
}

}  // namespace
}  // namespace qb
