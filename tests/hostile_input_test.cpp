// Whole requests with hostile or broken input: odd body lengths, NUL and
// 8-bit bytes, more fields than a lookup can count, SQL text in every field,
// megabyte values, damaged site files and stores, and a site the program may
// not write to. Each ends in a defined response, given here exactly.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/ad_store.h"
#include "support/cgi_process.h"
#include "support/expected_pages.h"
#include "support/site_request.h"

namespace qbtest {
namespace {

// A form POST of `body` that announces `length` as its CONTENT_LENGTH.
CgiRequest PostAnnouncing(const std::string& body, const std::string& length) {
  CgiRequest r = Post("", body);
  r.env["CONTENT_LENGTH"] = length;
  return r;
}

// `text` with every `from` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

const std::string kTooLarge = "Out of memory: the request body is larger than 16 MiB Error Number =  7";
const std::string kNegative = "Invalid procedure call or argument: CONTENT_LENGTH is negative Error Number =  5";
const std::string kOverflow = "Overflow: CONTENT_LENGTH is too large Error Number =  6";

TEST(HostileContentLength, LimitsAtTheEdgesOfTheirRanges) {
  TempSite site;
  const std::string body = "action=Getpw&ID=4567";
  const std::string whole = Request(site, Get("action=Getpw&ID=4567")).output;
  ASSERT_NE(whole.find("Value=\"4567\""), std::string::npos) << whole;

  // The largest length a POST may announce is allowed, and the body is what
  // arrives; one byte more is refused before anything is read.
  EXPECT_EQ(Request(site, PostAnnouncing(body, "16777216")).output, whole);
  const std::pair<const char*, const std::string*> refused[] = {
      {"16777217", &kTooLarge},  {"2147483647", &kTooLarge}, {"2147483648", &kOverflow},
      {"-1", &kNegative},        {"-2147483648", &kNegative}, {"-2147483649", &kOverflow},
      {"99999999999999999999999999999999", &kOverflow}};
  for (const auto& [length, error] : refused) {
    EXPECT_EQ(Request(site, PostAnnouncing(body, length)).output, GatewayErrorPage(*error)) << length;
    EXPECT_EQ(Request(site, PostAnnouncing(body, length), Output::kFile).output, GatewayErrorPage(*error)) << length;
  }

  // A GET reads no body, so only a length beyond 32 bits matters.
  CgiRequest get = Get("action=Getpw&ID=4567");
  for (const char* length : {"-5", "16777217", "2147483647", "-2147483648", "junk"}) {
    get.env["CONTENT_LENGTH"] = length;
    EXPECT_EQ(Request(site, get).output, whole) << length;
  }
  get.env["CONTENT_LENGTH"] = "2147483648";
  EXPECT_EQ(Request(site, get).output, GatewayErrorPage(kOverflow));
}

TEST(HostileContentLength, OnlyTheLeadingNumberCountsAndTheBodyIsCutThere) {
  TempSite site;
  const std::string body = "action=Getpw&ID=4567";
  auto passwordForm = [&](const std::string& id) { return Request(site, Get("action=Getpw&ID=" + id)).output; };
  // (length as announced, the ID the cut body still holds; "" for a body cut
  // before the action, which gives the empty response)
  const std::pair<std::string, std::string> cases[] = {
      {" +17.4xyz", "4"}, {"17.5", "45"}, {"18.5", "45"}, {"\t20", "4567"},
      {"000000000000000000000000000019", "456"}, {"1e3", ""}, {"0x20", ""}, {"", ""}, {"-0", ""}, {"-0.4", ""}};
  for (const auto& [length, id] : cases) {
    EXPECT_EQ(Request(site, PostAnnouncing(body, length)).output, id.empty() ? "" : passwordForm(id)) << length;
  }
  CgiRequest unset = Post("", body);
  unset.env.erase("CONTENT_LENGTH");
  EXPECT_EQ(Request(site, unset).output, "");

  // A cut inside an escape decodes what is left of it: "%" alone is an error,
  // "%2" the byte 2.
  const std::string escaped = "action=Getpw&ID=%2541";
  EXPECT_EQ(Request(site, PostAnnouncing(escaped, "17")).output,
            GatewayErrorPage("Invalid data passed to UrlDecode() function. Error Number =  65001"));
  EXPECT_EQ(Request(site, PostAnnouncing(escaped, "18")).output, passwordForm("%02"));
  EXPECT_EQ(Request(site, PostAnnouncing(escaped, "19")).output, passwordForm("%25"));
  EXPECT_EQ(Request(site, PostAnnouncing(escaped, "20")).output, passwordForm("%254"));
  EXPECT_EQ(Request(site, PostAnnouncing(escaped, "21")).output, passwordForm("%2541"));
}

TEST(HostileBytes, NulAnd8BitBytesAreStoredExactlyAndOnlyMarkupIsEscaped) {
  TempSite site;
  std::string everyByte;
  for (int c = 0; c < 256; ++c) everyByte += static_cast<char>(c);
  SeedAd ad;
  ad.Item = std::string("raw\0nul\x80\xff<b>", 13);  // sent unescaped in the body
  ad.Name = std::string("N\0\xe9", 3);
  ad.Desc = everyByte;
  ad.Email = "\xff@\x01";
  ad.Phone = "\x7f";
  ad.Price = std::string("\0", 1);
  ad.Category = "Cars";
  ad.Date = LocalDateUs();
  const std::string typedPassword("p\0w\xe9", 4);
  const std::string body =
      "Category=Cars&Item=" + ad.Item + "&" +
      FormBody({{"Name", ad.Name}, {"Desc", ad.Desc}, {"Email", ad.Email}, {"Phone", ad.Phone}, {"Price", ad.Price},
                {"Password", typedPassword}});
  EXPECT_EQ(Request(site, Post("Action=ADD", body)).output, Confirmation(Esc(ad.Name)));

  std::vector<Row> rows = ReadAds(site.Path("qb.db"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["Item"], ad.Item);
  EXPECT_EQ(rows[0]["Name"], ad.Name);
  EXPECT_EQ(rows[0]["Desc"], everyByte);
  EXPECT_EQ(rows[0]["Email"], ad.Email);
  EXPECT_EQ(rows[0]["Phone"], ad.Phone);
  EXPECT_EQ(rows[0]["Price"], ad.Price);
  EXPECT_EQ(rows[0]["Password"], std::string("P\0W\xe9", 4));  // only ASCII letters are upper-cased

  EXPECT_EQ(Request(site, Get("Action=List&Cat=1")).output, ListingTop("Cars") + AdTable(ad) + ListingBottom("<center>"));
  EXPECT_EQ(Request(site, Post("Action=Edit", FormBody({{"ID", "1"}, {"pw", typedPassword}}))).output,
            EditPage(1, ad, std::string("P\0W\xe9", 4)));
  // 8-bit bytes in the query string reach the page as they are.
  EXPECT_EQ(Request(site, Get("Action=Getpw&ID=\xe9\xff<")).output,
            Request(site, Get("Action=Getpw&ID=%E9%FF%3C")).output);
}

TEST(HostileFields, MoreFieldsThanALookupCanCountFailEveryLookup) {
  TempSite site;
  const std::string tooMany =
      GatewayErrorPage("Overflow: the request has more than 32767 form fields Error Number =  6");
  std::string forty;
  for (int i = 0; i < 40000; ++i) forty += "Item=x&";
  EXPECT_EQ(Request(site, Post("Action=ADD", forty + "Category=Cars")).output, tooMany);
  EXPECT_FALSE(Exists(site.Path("qb.db")));  // the store was not even opened

  // Body and query string count together, one entry per "=".
  const std::string form = Request(site, Get("action=Getpw&ID=8")).output;
  std::string fill;
  for (int i = 0; i < 32764; ++i) fill += "f=1&";
  EXPECT_EQ(Request(site, Post("action=Getpw&ID=8", fill + "f=1")).output, form);  // 32767 entries
  EXPECT_EQ(Request(site, Post("action=Getpw&ID=8", fill + "f=1&f=1")).output, tooMany);
  EXPECT_EQ(Request(site, Post("action=Getpw&ID=8", fill + "f=1=2")).output, tooMany);
}

TEST(HostileSql, QuotesAndCommentsInEveryFieldAreJustText) {
  TempSite site;
  const std::string db = site.Path("qb.db");
  SeedAd a;
  a.Item = "x'); DROP TABLE QB; --";
  a.Name = "Robert'); DELETE FROM QB WHERE ('1'='1";
  a.Email = "\"a\"@b.c\" OR \"\"=\"";
  a.Phone = "1; --";
  a.Price = "/* 5 */ 0";
  a.Desc = "%' OR 1=1 -- ; /* */ \\ _ % '' \"\" ;";
  a.Category = "Cars";
  a.Password = "' OR ''='";
  a.Date = LocalDateUs();
  SeedAd b = a;
  b.Item = "%' OR '1'='1";
  b.Name = "*/ SELECT * FROM QB; /*";
  b.Category = "%' OR Category LIKE '%";
  b.Password = "\" OR 1=1 --";
  for (const SeedAd& ad : {a, b}) {
    const std::string body = FormBody({{"Category", ad.Category}, {"Item", ad.Item}, {"Name", ad.Name},
                                       {"Email", ad.Email}, {"Phone", ad.Phone}, {"Price", ad.Price},
                                       {"Password", ad.Password}, {"Desc", ad.Desc}});
    EXPECT_EQ(Request(site, Post("Action=ADD", body)).output, Confirmation(Esc(ad.Name)));
  }
  std::vector<Row> rows = ReadAds(db);
  ASSERT_EQ(rows.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    const SeedAd& ad = i == 0 ? a : b;
    EXPECT_EQ(rows[i]["Item"], ad.Item);
    EXPECT_EQ(rows[i]["Name"], ad.Name);
    EXPECT_EQ(rows[i]["Email"], ad.Email);
    EXPECT_EQ(rows[i]["Phone"], ad.Phone);
    EXPECT_EQ(rows[i]["Price"], ad.Price);
    EXPECT_EQ(rows[i]["Desc"], ad.Desc);
    EXPECT_EQ(rows[i]["Category"], ad.Category);
    EXPECT_EQ(rows[i]["Password"], ad.Password);  // nothing to upper-case
  }

  // The category pattern comes from cat.lst, never from an ad.
  EXPECT_EQ(Request(site, Get("Action=List&Cat=1")).output, ListingTop("Cars") + AdTable(a) + ListingBottom("<center>"));
  EXPECT_EQ(Request(site, Get("Action=ShowAll")).output, ShowAllPage(AdTable(a, true) + AdTable(b, true)));
  EXPECT_EQ(Request(site, Post("Action=Getedit", FormBody({{"Name", a.Name}}))).output,
            SellerPage(Esc(a.Name), SellerRow(1, Esc(a.Item), "Cars")));
  EXPECT_EQ(Request(site, Post("Action=Getedit", FormBody({{"Name", "' OR '1'='1"}}))).output,
            SellerPage(Esc("' OR '1'='1"), ""));

  // An ID is a number or names no ad.
  EXPECT_EQ(Request(site, Post("Action=Edit", FormBody({{"ID", "1"}, {"pw", a.Password}}))).output,
            EditPage(1, a, a.Password));
  EXPECT_EQ(Request(site, Post("Action=Edit", FormBody({{"ID", "1 OR 1=1"}, {"pw", "' OR ''='"}}))).output,
            ApplicationErrorPage("No current record"));
  for (const char* id : {"2 OR 1=1", "1; DELETE FROM QB", "1'--"}) {
    EXPECT_EQ(Request(site, Post("Action=Delete", FormBody({{"ID", id}, {"pw", "x"}, {"Item", "gone?"}}))).output,
              DeletedPage("gone?"))
        << id;
  }
  EXPECT_EQ(CountAds(db), 2);

  SeedAd updated = a;
  updated.Item = "'; UPDATE QB SET Price='0' WHERE 1=1; --";
  updated.Desc = "\"; DROP TABLE QB; /*";
  updated.Category = "Boats' --";
  EXPECT_EQ(Request(site, Post("Action=Update", FormBody({{"ID", "1"}, {"pw", a.Password}, {"Category", updated.Category},
                                                          {"Item", updated.Item}, {"Email", updated.Email},
                                                          {"Phone", updated.Phone}, {"Price", updated.Price},
                                                          {"Desc", updated.Desc}})))
                .output,
            UpdatedPage(Esc(updated.Item)));
  rows = ReadAds(db);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["Item"], updated.Item);
  EXPECT_EQ(rows[0]["Desc"], updated.Desc);
  EXPECT_EQ(rows[0]["Category"], updated.Category);
  EXPECT_EQ(rows[1]["Price"], b.Price);

  EXPECT_EQ(Request(site, Post("Action=Delete", FormBody({{"ID", "2"}, {"pw", b.Password}, {"Item", b.Item}}))).output,
            DeletedPage(Esc(b.Item)));
  rows = ReadAds(db);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["ID"], "1");
}

TEST(HostileSizes, AMegabyteDescriptionIsStoredAndShownWhole) {
  TempSite site;
  SeedAd ad;
  const std::string piece = "Line <b>&amp; \"q\" 'x'\r\n";
  while (ad.Desc.size() < (1u << 20)) ad.Desc += piece;
  ad.Desc.resize(1u << 20);
  ad.Item = "Big";
  ad.Date = LocalDateUs();
  const std::string body = FormBody({{"Category", ad.Category}, {"Item", ad.Item}, {"Name", ad.Name},
                                     {"Email", ad.Email}, {"Phone", ad.Phone}, {"Price", ad.Price},
                                     {"Password", "pw"}, {"Desc", ad.Desc}});
  EXPECT_EQ(Request(site, Post("Action=ADD", body)).output, Confirmation(Esc(ad.Name)));
  std::vector<Row> rows = ReadAds(site.Path("qb.db"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["Desc"], ad.Desc);
  EXPECT_EQ(Request(site, Get("Action=List&Cat=1"), Output::kFile).output,
            ListingTop("Cars") + AdTable(ad) + ListingBottom("<center>"));
  EXPECT_EQ(Request(site, Post("Action=Edit", "ID=1&pw=pw")).output, EditPage(1, ad, "PW"));
}

const std::string kCategories = "Boats\nHouses\nJobs\nPets\nMusic\nComputers\nOther\n";  // all but the first

TEST(HostileSiteFiles, AMegabyteCategoryNameIsShownWhole) {
  TempSite plain;
  SiteFiles files;
  const std::string big(1u << 20, 'C');
  files.categories = big + "\n" + kCategories;
  TempSite site(files);
  EXPECT_EQ(Request(site, Get("Action=Show")).output,
            Replaced(Request(plain, Get("Action=Show")).output, "Cat=1\">Cars<", "Cat=1\">" + big + "<"));
  EXPECT_EQ(Request(site, Get("Action=NewItem")).output,
            Replaced(Request(plain, Get("Action=NewItem")).output, "<option>Cars<", "<option>" + big + "<"));
  EXPECT_EQ(Request(site, Get("Action=List&Cat=1")).output, ListingTop(big) + kNoAds + ListingBottom("<center>"));
}

TEST(HostileSiteFiles, BinaryBytesInCategoryNamesAreWrittenAsTheyAre) {
  TempSite plain;
  SiteFiles files;
  const std::string name("Ca\0rs\xff\x01", 7);
  files.categories = name + "\n" + kCategories;
  TempSite site(files);
  EXPECT_EQ(Request(site, Get("Action=Show")).output,
            Replaced(Request(plain, Get("Action=Show")).output, "Cat=1\">Cars<", "Cat=1\">" + name + "<"));

  // A category name is an SQL LIKE pattern, which ends at a NUL byte: this
  // category lists the ads whose category is "Ca" up to their end or a NUL.
  std::vector<SeedAd> listed;
  for (const std::string& category : {std::string("Ca"), name, std::string("Ca\0zz", 5), std::string("Cab")}) {
    SeedAd ad;
    ad.Category = category;
    ad.Item = "In " + FormEncode(category);
    InsertAd(site.Path("qb.db"), ad);
    if (category != "Cab") listed.push_back(ad);
  }
  EXPECT_EQ(Request(site, Get("Action=List&Cat=1")).output,
            ListingTop(name) + AdTable(listed[0]) + AdTable(listed[1]) + AdTable(listed[2]) + ListingBottom("<center>"));

  // An unclosed quote runs to the end of the file: the first name takes it
  // all, and the second is missing.
  files.categories = "\"Cars\n" + kCategories;
  TempSite unclosed(files);
  EXPECT_EQ(Request(unclosed, Get("Action=Main")).output,
            GatewayErrorPage("Input past end of file: cat.lst Error Number =  62"));
}

TEST(HostileSiteFiles, AMegabyteSettingIsUsedWhole) {
  TempSite plain;
  const std::string rest = "\nhttp://example.com/\nN\n#FFFFCC\n";
  SiteFiles files;
  const std::string url = "http://example.com/" + std::string(1u << 20, 'u') + "/";
  files.config = "admin@example.com\n30\n" + url + rest;
  TempSite longUrl(files);
  EXPECT_EQ(Request(longUrl, Get("action=Getpw&ID=1")).output,
            Replaced(Request(plain, Get("action=Getpw&ID=1")).output, kScript, url + "qbcgi.exe"));

  // ExpireDays: a megabyte of leading zeros is still 30; a megabyte of nines
  // is out of range, and the error names it. Settings fail before the request
  // is read, so the page has no script name.
  files.config = "admin@example.com\n" + std::string(1u << 20, '0') + "30\nhttp://example.com/cgi-bin" + rest;
  TempSite zeros(files);
  EXPECT_EQ(Request(zeros, Get("action=NewItem")).output, Request(plain, Get("action=NewItem")).output);
  const std::string nines(1u << 20, '9');
  files.config = "admin@example.com\n" + nines + "\nhttp://example.com/cgi-bin" + rest;
  TempSite overflow(files);
  EXPECT_EQ(Request(overflow, Get("action=NewItem")).output,
            GatewayErrorPage("Overflow: the number " + nines + " in qbcgi.cfg is too large Error Number =  6", ""));

  // One megabyte line without a line end: the first setting takes it whole
  // (the error page shows it as the address) and the second is missing.
  const std::string line(1u << 20, 'a');
  files.config = line;
  TempSite oneLine(files);
  EXPECT_EQ(Request(oneLine, Get("action=Main")).output,
            GatewayErrorPage("Input past end of file: qbcgi.cfg Error Number =  62", "", line));
}

TEST(HostileSiteFiles, BinaryBytesInTheSettingsAreWrittenAsTheyAre) {
  TempSite plain;
  SiteFiles files;
  const std::string admin("ad\0min\xff@x", 9);
  const std::string color("\x01\xfe#FF", 5);
  // "\0 30" is no number (a NUL is not a blank): ExpireDays is 0.
  files.config = admin + "\n" + std::string("\0 30", 4) + "\nhttp://example.com/cgi-bin\nhttp://example.com/\nN\n" +
                 color + "\n";
  TempSite site(files);
  EXPECT_EQ(Request(site, Get("action=NewItem")).output,
            Replaced(Replaced(Request(plain, Get("action=NewItem")).output, "#FFFFCC", color), "red\">30</font>",
                     "red\">0</font>"));
  EXPECT_EQ(Request(site, Get("action=Main&x=%")).output,
            GatewayErrorPage("Invalid data passed to UrlDecode() function. Error Number =  65001",
                             "/cgi-bin/qbcgi.exe", admin));
}

// Places `count` ads of about 3 kB through the program: a store of many pages.
void PlaceAds(const TempSite& site, int count) {
  for (int i = 0; i < count; ++i) {
    const std::string body =
        FormBody({{"Category", "Cars"}, {"Item", "Item " + std::to_string(i)}, {"Name", "Ann"}, {"Password", "pw"},
                  {"Desc", std::string(3000, 'x')}});
    ASSERT_EQ(Request(site, Post("Action=ADD", body)).output, Confirmation("Ann"));
  }
}

// Every request that uses the store, as a browser would send it.
std::vector<CgiRequest> StoreRequests() {
  return {Get("Action=List&Cat=1"),
          Get("Action=ShowAll"),
          Post("Action=ADD", "Category=Cars&Item=new&Name=Ann&Password=pw"),
          Post("Action=Getedit", "Name=Ann"),
          Post("Action=Edit", "ID=20&pw=pw"),
          Post("Action=Update", "ID=20&pw=pw&Category=Cars&Item=changed"),
          Post("Action=Delete", "ID=20&pw=pw&Item=changed")};
}

TEST(HostileStore, ADamagedStoreIsReportedAndLeftByteIdentical) {
  TempSite site;
  PlaceAds(site, 30);
  const std::string full = site.ReadFile("qb.db");
  ASSERT_GT(full.size(), 100000u);
  const std::string malformed =
      "The ad store qb.db could not be opened: database disk image is malformed Error Number =  3011";
  const std::string notADatabase =
      "The ad store qb.db could not be opened: file is not a database Error Number =  3026";
  const std::pair<std::string, const std::string*> stores[] = {
      {full.substr(0, 40000), &malformed},
      {full.substr(0, 4096), &malformed},
      {full.substr(0, 100), &malformed},
      {std::string(4096, 'j'), &notADatabase},
      {full.substr(0, 16) + std::string(8192, 'j'), &notADatabase}};
  for (const auto& [bytes, error] : stores) {
    site.WriteFile("qb.db", bytes);
    for (const CgiRequest& request : StoreRequests()) {
      // Output to a file: the error page replaces whatever the page had begun.
      EXPECT_EQ(Request(site, request, Output::kFile).output, GatewayErrorPage(*error))
          << request.env.at("QUERY_STRING") << " on " << bytes.size() << " bytes";
    }
    EXPECT_EQ(site.ReadFile("qb.db"), bytes);
    EXPECT_FALSE(Exists(site.Path("qb.db-journal")));
  }

  // An empty file is a new store.
  site.WriteFile("qb.db", "");
  EXPECT_EQ(Request(site, StoreRequests()[2]).output, Confirmation("Ann"));
  EXPECT_EQ(CountAds(site.Path("qb.db")), 1);
}

// Who runs the program in the read-only test: nobody when the tests run as
// root (root writes into any directory whatever its mode), else the tester.
struct Runner {
  bool available = true;
  std::optional<std::pair<uid_t, gid_t>> user;
};

Runner UnprivilegedRunner() {
  if (::geteuid() != 0) return {};
  const passwd* nobody = ::getpwnam("nobody");
  if (nobody == nullptr || nobody->pw_uid == 0) return {false, std::nullopt};
  return {true, std::make_pair(nobody->pw_uid, nobody->pw_gid)};
}

// Makes the site directory read-only for its lifetime.
class ReadOnlyDirectory {
 public:
  explicit ReadOnlyDirectory(const std::string& dir) : dir_(dir) { ::chmod(dir_.c_str(), 0555); }
  ~ReadOnlyDirectory() { ::chmod(dir_.c_str(), 0700); }
  ReadOnlyDirectory(const ReadOnlyDirectory&) = delete;
  ReadOnlyDirectory& operator=(const ReadOnlyDirectory&) = delete;

 private:
  std::string dir_;
};

TEST(HostileStore, AReadOnlySitePlacesNoAd) {
  const Runner runner = UnprivilegedRunner();
  if (!runner.available) GTEST_SKIP() << "running as root without a user 'nobody' to drop to";
  TempSite site;
  const std::string db = site.Path("qb.db");
  CgiRequest add = Post("Action=ADD", "Category=Cars&Item=Lamp&Name=Ann&Password=pw");
  add.user = runner.user;
  CgiRequest list = Get("Action=List&Cat=1");
  list.user = runner.user;

  {
    // No store yet, and none can be made.
    ReadOnlyDirectory readOnly(site.Dir());
    EXPECT_EQ(Request(site, add).output,
              GatewayErrorPage("The ad store qb.db could not be opened: unable to open database file Error Number =  3014"));
    EXPECT_FALSE(Exists(db));
  }

  // A store the program made, so that opening it needs no write.
  PlaceAds(site, 1);
  SeedAd placed;
  placed.Item = "Item 0";
  placed.Name = "Ann";
  placed.Email = placed.Price = placed.Phone = "";
  placed.Desc = std::string(3000, 'x');
  placed.Date = LocalDateUs();
  const std::string before = site.ReadFile("qb.db");
  const std::string readOnlyStore = GatewayErrorPage(
      "Adding an ad in qb.db: attempt to write a readonly database Error Number =  3008");
  // A store file that cannot be written, then one that can but has no room
  // for its journal: either way the store is read, and a new ad refused.
  for (const mode_t mode : {0444, 0666}) {
    ::chmod(db.c_str(), mode);
    ReadOnlyDirectory readOnly(site.Dir());
    EXPECT_EQ(Request(site, add).output, readOnlyStore) << mode;
    EXPECT_EQ(Request(site, list).output, ListingTop("Cars") + AdTable(placed) + ListingBottom("<center>")) << mode;
    EXPECT_EQ(site.ReadFile("qb.db"), before) << mode;
    EXPECT_FALSE(Exists(site.Path("qb.db-journal"))) << mode;
  }

  // A store an outside tool made, still without the program's indexes, is
  // read all the same.
  site.RemoveFile("qb.db");
  SeedAd outside;
  InsertAd(db, outside);
  ::chmod(db.c_str(), 0444);
  ReadOnlyDirectory readOnly(site.Dir());
  EXPECT_EQ(Request(site, list).output, ListingTop("Cars") + AdTable(outside) + ListingBottom("<center>"));
}

}  // namespace
}  // namespace qbtest
