// Reading, adding and changing ads through queries and recordsets.
#include <gtest/gtest.h>

#include "storage/ad_queries.h"
#include "support/store_support.h"

namespace qb {
namespace {

using namespace testsupport;
using Texts = std::vector<std::string>;

class AdRecordsets : public ::testing::Test {
 protected:
  TempDir dir;
  std::unique_ptr<Database> db = Database::Open(dir.Path("qb.db"));
};

TEST_F(AdRecordsets, TableRecordsetAddsOnlyTheFieldsSet) {
  ErrorOf([&] { db->OpenTable("Ads"); }, kErrItemNotFound);
  auto table = db->OpenTable("qb");
  ErrorOf([&] { table->Update(); }, kErrInvalidArgument);
  ErrorOf([&] { table->SetField("Item", "Lamp"); }, kErrInvalidArgument);
  table->AddNew();
  ErrorOf([&] { table->SetField("ID", "5"); }, kErrInvalidArgument);
  EXPECT_EQ(ErrorOf([&] { table->SetField("Colour", "red"); }, kErrItemNotFound), "Field Colour not found");
  table->SetField("Item", "Lamp");
  table->SetField("desc", "Brass, \"old\"");
  table->SetField("ITEM", "Desk");
  table->Update();
  table->AddNew();
  table->Update();
  EXPECT_EQ(Rows(*db, queries::kShowAll, {}, {}, "Item"), (Texts{"Desk", ""}));
  EXPECT_EQ(Rows(*db, queries::kShowAll, {}, {}, "DESC"), (Texts{"Brass, \"old\"", ""}));
  EXPECT_EQ(Scalar(db->Handle(), "SELECT count(*) FROM QB WHERE Price IS NULL AND Expire IS NULL"), "2");
}

TEST_F(AdRecordsets, QueryResultReadsForwardAndEditsTheCurrentAd) {
  AddAd(*db, {{"Item", "Lamp"}, {"Price", "5"}});
  AddAd(*db, {{"Item", "Desk"}, {"Price", "7"}});
  auto all = db->CreateQueryDef(queries::kShowAll)->OpenRecordset();
  EXPECT_EQ(ErrorOf([&] { all->Field("Colour"); }, kErrItemNotFound), "Field Colour not found");
  all->MoveNext();
  all->Edit();
  all->SetField("Price", "6");
  all->SetField("Desc", "dented");
  all->Update();
  EXPECT_EQ(all->Field("Item"), "Desk");
  EXPECT_EQ(all->Field("price"), "6");
  ErrorOf([&] { all->Update(); }, kErrInvalidArgument);
  ErrorOf([&] { all->MoveNext(); }, kErrInvalidArgument);  // the query was reset to write
  all->Edit();  // the same ad again
  all->SetField("Price", "8");
  all->Update();
  EXPECT_EQ(Rows(*db, queries::kShowAll, {}, {}, "Price"), (Texts{"5", "8"}));
  EXPECT_EQ(Rows(*db, queries::kShowAll, {}, {}, "Desc"), (Texts{"", "dented"}));

  auto one = db->CreateQueryDef("SELECT Item FROM QB WHERE ID = 2")->OpenRecordset();
  ErrorOf([&] { one->Edit(); }, kErrItemNotFound);
  one->MoveNext();
  EXPECT_TRUE(one->Eof());
  ErrorOf([&] { one->MoveNext(); }, kErrNoCurrentRecord);
  ErrorOf([&] { one->Field("Item"); }, kErrNoCurrentRecord);
  EXPECT_EQ(ErrorOf([&] { one->Edit(); }, kErrNoCurrentRecord), "No current record");
}

TEST_F(AdRecordsets, FieldsAreFoundByNameRowAfterRowWhateverTheNamesText) {
  AddAd(*db, {{"Item", "Lamp"}, {"Price", "5"}, {"Name", "Ann"}});
  AddAd(*db, {{"Item", "Desk"}, {"Price", "7"}, {"Name", "Bo"}});
  auto all = db->CreateQueryDef(queries::kShowAll)->OpenRecordset();
  // One buffer holding one name after another, as a caller's string may.
  std::string name = "Item";
  EXPECT_EQ(all->Field(name), "Lamp");
  name = "Name";
  EXPECT_EQ(all->Field(name), "Ann");
  name = "PRICE";
  EXPECT_EQ(all->Field(name), "5");
  name = "Item";
  EXPECT_EQ(all->Field(name), "Lamp");
  all->MoveNext();
  EXPECT_EQ(all->Field("Item"), "Desk");
  EXPECT_EQ(all->Field("Item"), "Desk");
  EXPECT_EQ(all->Field("iTEM"), "Desk");
  EXPECT_EQ(all->Field("Price"), "7");
  name = "Name";
  EXPECT_EQ(all->Field(name), "Bo");
  name = "Colour";
  ErrorOf([&] { all->Field(name); }, kErrItemNotFound);
}

TEST_F(AdRecordsets, QueryDefsBindByNameAndRunAgain) {
  EXPECT_EQ(ErrorOf([&] { db->CreateQueryDef("SELECT * FROM Ads"); }, kErrStoreBase + 1),
            "Preparing a query in qb.db: no such table: Ads");
  auto sellers = db->CreateQueryDef(queries::kSellerAds);
  EXPECT_EQ(ErrorOf([&] { sellers->SetParameter("pItem", "x"); }, kErrItemNotFound),
            "Parameter pItem not found in query");
  ErrorOf([&] { sellers->Execute(); }, kErrInvalidArgument);
  AddAd(*db, {{"Name", "Ann"}});
  AddAd(*db, {{"Name", "Bob"}});
  sellers->SetParameter("pName", "Ann");
  auto first = sellers->OpenRecordset();
  EXPECT_EQ(first->Field("ID"), "1");
  sellers->SetParameter("pName", "Bob");
  ErrorOf([&] { first->Field("ID"); }, kErrObjectClosed);
  EXPECT_EQ(sellers->OpenRecordset()->Field("ID"), "2");
}

}  // namespace
}  // namespace qb
