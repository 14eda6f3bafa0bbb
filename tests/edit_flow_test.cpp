// Whole requests through the seller's edit flow: lookup by name, the
// password check with its edit page, and the update and delete that only the
// password's holder can make.
#include <gtest/gtest.h>

#include "support/ad_store.h"
#include "support/cgi_process.h"
#include "support/expected_pages.h"
#include "support/site_request.h"

namespace qbtest {
namespace {

std::string UpdateBody(long long id, const std::string& pw, const SeedAd& ad) {
  return FormBody({{"Category", ad.Category}, {"Item", ad.Item}, {"Email", ad.Email}, {"Phone", ad.Phone},
                   {"Price", ad.Price}, {"Desc", ad.Desc}, {"ID", std::to_string(id)}, {"pw", pw}});
}

TEST(SellerLookup, FindsTheSellersAdsIgnoringBlanksAndCase) {
  TempSite site;
  const std::string db = site.Path("qb.db");
  SeedAd a, b, other, noCategory;
  b.Item = "Blue car";
  b.Name = "ANN LEE";
  other.Name = "Bob";
  noCategory.Category = "";
  long long ida = InsertAd(db, a), idb = InsertAd(db, b);
  InsertAd(db, other);
  long long idn = InsertAd(db, noCategory);
  const std::string rows = SellerRow(ida, "Red bike", "Cars") + SellerRow(idb, "Blue car", "Cars") +
                           SellerRow(idn, "Red bike", "");
  EXPECT_EQ(Request(site, Post("Action=Getedit", "Name=++ann+lee+&Submit=Get+Ads")).output,
            SellerPage("ann lee", rows));
  EXPECT_EQ(Request(site, Post("Action=Getedit", "Name=Nobody")).output, SellerPage("Nobody", ""));
  EXPECT_EQ(Request(site, Post("Action=Getedit", "")).output, SellerPage("", ""));
  EXPECT_EQ(Request(site, Post("Action=Getedit", "Name=%3Cb%3E%22x")).output, SellerPage("&lt;b&gt;&quot;x", ""));
}

TEST(PasswordCheck, AcceptsThePasswordInAnyCaseWithBlanksAround) {
  TempSite site;
  SeedAd ad;
  ad.Password = "SECRET";
  ad.Category = "Houses";
  long long id = InsertAd(site.Path("qb.db"), ad);
  for (const char* typed : {"secret", "SECRET", "SeCrEt", "++secret++"}) {
    EXPECT_EQ(Request(site, Post("Action=Edit", "ID=+" + std::to_string(id) + "+&pw=" + typed + "&submit=Get+Item"),
                      Output::kFile)
                  .output,
              EditPage(id, ad, "SECRET"))
        << typed;
  }
  for (const char* typed : {"secre", "secret2", "", "s+ecret"}) {
    EXPECT_EQ(Request(site, Post("Action=Edit", "ID=" + std::to_string(id) + "&pw=" + typed)).output,
              kInvalidPassword)
        << typed;
  }
  EXPECT_EQ(Request(site, Post("Action=Edit", "ID=" + std::to_string(id))).output, kInvalidPassword);
}

TEST(PasswordCheck, APasswordPlacedWithABlankNeverMatchesAndNullMatchesNothing) {
  TempSite site;
  // Placed through the form, so stored upper-cased and with its blank.
  Request(site, Post("Action=ADD", "Item=x&Name=n&Password=+pw&Category=Cars"));
  for (const char* typed : {"pw", "+pw", "PW"}) {
    EXPECT_EQ(Request(site, Post("Action=Edit", std::string("ID=1&pw=") + typed)).output, kInvalidPassword);
  }
  ExecSql(site.Path("qb.db"), "UPDATE QB SET Password = NULL");
  EXPECT_EQ(Request(site, Post("Action=Edit", "ID=1&pw=")).output, kInvalidPassword);
}

TEST(PasswordCheck, KeepsACategoryThatIsNotListed) {
  TempSite site;
  SeedAd ad;
  ad.Category = "Antiques";
  ad.Price = "";
  long long id = InsertAd(site.Path("qb.db"), ad);
  EXPECT_EQ(Request(site, Post("Action=Edit", "ID=" + std::to_string(id) + "&pw=secret")).output,
            EditPage(id, ad, "SECRET"));
}

TEST(PasswordCheck, AMissingAdGivesTheApplicationErrorPageAlone) {
  TempSite site;
  InsertAd(site.Path("qb.db"), SeedAd());
  for (const char* id : {"ID=99&", "ID=abc&", ""}) {
    for (Output output : {Output::kFile, Output::kPipe}) {
      // The description alone, no number, with the navigation bar; nothing
      // of the edit page comes before it.
      EXPECT_EQ(Request(site, Post("Action=Edit", std::string(id) + "pw=secret"), output).output,
                ApplicationErrorPage("No current record"))
          << id;
    }
  }
}

TEST(Update, ChangesTheAdOnlyWithItsPassword) {
  TempSite site;
  const std::string db = site.Path("qb.db");
  SeedAd ad;
  ad.Date = "1/1/2020";
  ad.Expire = "2020-01-31";
  long long id = InsertAd(db, ad);
  const Row before = ReadAds(db)[0];

  SeedAd changed = ad;
  changed.Price = "45";
  changed.Category = "Boats";
  changed.Phone = "";
  for (const char* pw : {"wrong", ""}) {
    EXPECT_EQ(Request(site, Post("Action=Update", UpdateBody(id, pw, changed))).output, kInvalidPassword);
    EXPECT_EQ(ReadAds(db)[0], before);
  }
  std::string noPw = UpdateBody(id, "", changed);
  noPw = noPw.substr(0, noPw.find("&pw="));
  EXPECT_EQ(Request(site, Post("Action=Update", noPw)).output, kInvalidPassword);
  EXPECT_EQ(ReadAds(db)[0], before);

  CgiRequest update = Post("Action=Update", UpdateBody(id, "secret ", changed));
  update.env["REMOTE_ADDR"] = "10.1.2.3";
  EXPECT_EQ(Request(site, update, Output::kFile).output, UpdatedPage("Red bike"));
  Row after = ReadAds(db)[0];
  EXPECT_EQ(after["Price"], "45");
  EXPECT_EQ(after["Category"], "Boats");
  EXPECT_EQ(after["Phone"], "");
  EXPECT_EQ(after["Date"], LocalDateUs());
  EXPECT_EQ(after["Expire"], LocalDateIso(30));
  EXPECT_EQ(after["RemoteAddr"], "10.1.2.3");
  EXPECT_EQ(after["Name"], before.at("Name"));
  EXPECT_EQ(after["Password"], before.at("Password"));
  // It moved to its new category.
  EXPECT_NE(Request(site, Get("Action=List&Cat=2")).output.find("Red bike"), std::string::npos);
  EXPECT_EQ(Request(site, Get("Action=List&Cat=1")).output.find("Red bike"), std::string::npos);
}

TEST(Update, AnAdThatIsGoneGivesTheErrorPageAndChangesNothing) {
  TempSite site;
  const std::string db = site.Path("qb.db");
  long long id = InsertAd(db, SeedAd());
  ExecSql(db, "DELETE FROM QB");
  InsertAd(db, SeedAd());  // a newer ad never takes the old ID
  const Row before = ReadAds(db)[0];
  std::string page = Request(site, Post("Action=Update", UpdateBody(id, "secret", SeedAd())), Output::kFile).output;
  EXPECT_EQ(page.rfind("Status: 200 OK\r\n", 0), 0u);
  EXPECT_NE(page.find("<H1>Error in"), std::string::npos);
  EXPECT_EQ(ReadAds(db)[0], before);
}

TEST(Delete, OnlyWithThePasswordAndConfirmedAgainWhenGone) {
  TempSite site;
  const std::string db = site.Path("qb.db");
  SeedAd ad, sibling;
  sibling.Item = "Second bike";
  long long id = InsertAd(db, ad);
  InsertAd(db, sibling);
  const std::string body = "ID=" + std::to_string(id) + "&Item=Red+bike";
  EXPECT_EQ(Request(site, Post("Action=Delete", body)).output, kInvalidPassword);
  EXPECT_EQ(Request(site, Post("Action=Delete", body + "&pw=nope")).output, kInvalidPassword);
  EXPECT_EQ(CountAds(db), 2);

  EXPECT_EQ(Request(site, Post("Action=Delete", body + "&pw=Secret"), Output::kFile).output, DeletedPage("Red bike"));
  std::vector<Row> left = ReadAds(db);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0]["Item"], "Second bike");
  // Deleting it again deletes nothing and confirms all the same.
  EXPECT_EQ(Request(site, Post("Action=Delete", body + "&pw=Secret")).output, DeletedPage("Red bike"));
  EXPECT_EQ(Request(site, Post("Action=Delete", "ID=abc&Item=%3Cb%3E")).output, DeletedPage("&lt;b&gt;"));
  EXPECT_EQ(CountAds(db), 1);
}

TEST(EditFlow, QuotesAndMarkupSurviveAnEditUnchanged) {
  TempSite site;
  SeedAd ad;
  const std::string evil = "\"quoted\" <b>bold</b> <script>x()</script> & 'single'";
  ad.Item = ad.Email = ad.Phone = ad.Price = ad.Desc = evil;
  ad.Category = "Cars\"<i>";
  long long id = InsertAd(site.Path("qb.db"), ad);
  const Row before = ReadAds(site.Path("qb.db"))[0];
  // The browser sends back what the edit page shows, decoded from its markup.
  EXPECT_EQ(Request(site, Post("Action=Edit", "ID=" + std::to_string(id) + "&pw=secret")).output,
            EditPage(id, ad, "SECRET"));
  EXPECT_EQ(Request(site, Post("Action=Update", UpdateBody(id, "SECRET", ad))).output, UpdatedPage(Esc(evil)));
  Row after = ReadAds(site.Path("qb.db"))[0];
  for (const char* field : {"Item", "Email", "Phone", "Price", "Desc", "Category", "Name", "Password"}) {
    EXPECT_EQ(after[field], before.at(field)) << field;
  }
}

}  // namespace
}  // namespace qbtest
