// Whole requests, one row each: the site and its ads, the request, the
// expected response (a golden page under tests/golden/) and the store after.
// QB_UPDATE_GOLDEN=1 rewrites the golden pages from what the program writes.
#include <gtest/gtest.h>

#include <libpq-fe.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "storage/postgres/pg_kept.h"
#include "support/harness.h"

namespace qbtest {
namespace {

constexpr char kAll[] = "SELECT * FROM QB ORDER BY ID";

// What a request may change: the ads, or the bytes of a store it cannot read.
std::string Snapshot(const Site& site) {
  try {
    return site.Query(kAll);
  } catch (const std::exception& e) {
    return std::string("unreadable: ") + e.what() + "\n" + site.Read("qb.db");
  }
}

struct Row {
  std::string name = "";
  Call call = {};
  std::string golden = "";
  Output output = Output::kFile;
  std::vector<Ad> ads = {};
  std::string store = "unchanged";  // Snapshot() afterwards
  std::string config = kConfig, categories = kCategories, banners = "";
  std::function<void(const Site&)> prepare = nullptr;
  std::optional<std::string> guesses = std::nullopt;  // wrong passwords counted afterwards
  std::optional<std::string> placed = std::nullopt;   // ads counted afterwards, per address
  bool fileOnly = false;                              // about the store file itself: SQLite only
  bool serverOnly = false;                            // about the database server: PostgreSQL only
  bool residentOnly = false;                          // about the connection a resident process keeps
  std::string postgresGolden = "";                    // the page on PostgreSQL, when its error text differs
};

Call With(Call call, const std::string& name, const std::string& value) {
  call.env[name] = value;
  return call;
}

Call Sized(const std::string& body, const std::string& contentLength, const std::string& method = "POST",
           bool trickle = false) {
  Call call = With(With(Post("", body), "CONTENT_LENGTH", contentLength), "REQUEST_METHOD", method);
  call.trickle = trickle;
  return call;
}

std::string Config(const std::string& expireDays, const std::string& script, const std::string& banners) {
  return "admin@example.com\n" + expireDays + "\n" + script + "\nhttp://example.com/\n" + banners + "\n#FFFFCC\n";
}

const std::string kBannersOn = Config("30", "http://example.com/cgi-bin", "Y");

const Ad kBike;
const Ad kCar{.Item = "Blue car", .Name = "ANN LEE", .Price = "900"};
const Ad kBob{.Item = "Old boat", .Name = "Bob", .Category = "Boats", .Password = "BOAT"};
const Ad kExpired{.Item = "Gone", .Expire = "2026-03-13"};
const Ad kLastDay{.Item = "Last day", .Category = "Boats", .Expire = "2026-03-14"};
const Ad kMarkup{"<script>alert('x')</script>", "\"Q\" & <b>", "a'b@<x>", "<1>", "</textarea><b>&amp;", "\"'", "Cars"};
const std::string kEveryByte = [] {
  std::string s;
  for (int c = 0; c < 256; ++c) s += static_cast<char>(c);
  return s;
}();
const std::string kBadCfg = "admin@example.com\n30\nhttp://example.com/cgi-bin\n";

const std::string kAddBody =
    "Category=Boats&Item=Canoe+%26+paddles&Name=Ann+Lee+&Email=ann%40example.com&Phone=555-1234"
    "&Price=120&Password=sEcret+&Desc=Line+one%0D%0ALine+two";
const std::string kFill = [] {
  std::string fill;
  for (int i = 0; i < 32764; ++i) fill += "f=1&";
  return fill;
}();
const std::string kSqlText = "x' OR 1=1; DROP TABLE QB; --";
const std::string kUpdateBody =
    "Category=Pets&Item=Red+bike+2&Email=new%40example.com&Phone=1&Price=75&Desc=Now+cheaper&ID=1&pw=secret";

std::vector<Ad> Many(int n, const std::string& name = "Ann Lee") {
  std::vector<Ad> ads;
  for (int i = 1; i <= n; ++i) {
    ads.push_back(Ad{.Item = "Ad " + std::to_string(i), .Name = name, .Category = i % 2 ? "Cars" : "Pets"});
  }
  return ads;
}

// Seeds `count` wrong passwords tried on ad 1 `ago` seconds before now, from
// `address` (SQL of i, the try's number from 1).
std::function<void(const Site&)> Tried(int count, const std::string& address, int ago) {
  return [=](const Site& s) {
    s.Query("CREATE TABLE IF NOT EXISTS QbGuess (AdID INTEGER NOT NULL, Addr TEXT NOT NULL, At INTEGER NOT NULL)");
    s.Query("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(count) +
            ") INSERT INTO QbGuess SELECT 1, " + address + ", " + std::to_string(kNow - ago) + " FROM n");
  };
}

// Seeds `count` ads placed from `address` (SQL) `ago` seconds before now;
// with `exempt`, the address is exempt from the limit.
std::function<void(const Site&)> Placed(int count, const std::string& address, int ago, bool exempt = false) {
  return [=](const Site& s) {
    s.Query(std::string(s.Server().empty() ? "" : "SET client_min_messages = warning;") +
            "CREATE TABLE IF NOT EXISTS QbPlace (Addr TEXT NOT NULL, At INTEGER NOT NULL);"
            "CREATE TABLE IF NOT EXISTS QbPlaceExempt (Addr TEXT PRIMARY KEY)");
    s.Query("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(count) +
            ") INSERT INTO QbPlace SELECT " + address + ", " + std::to_string(kNow - ago) + " FROM n");
    if (exempt) s.Query("INSERT INTO QbPlaceExempt VALUES (" + address + ")");
  };
}

// Another connection takes the write lock, runs `sql` and commits `holdMs`
// later: a request started meanwhile must see the change before it tests a
// password.
std::function<void(const Site&)> WhileLocked(const std::string& sql, int holdMs = 200) {
  return [sql, holdMs](const Site& s) {
    RunRequest(s, Get("action=ShowAll"));  // the schema is current: only the request waits
    std::function<void()> commit;
    if (!s.Server().empty()) {  // the board's advisory write lock
      PGconn* conn = PQconnectdb(s.Server().c_str());
      PQclear(PQexec(conn, ("BEGIN; SELECT pg_advisory_xact_lock(5366869083350425601);" + sql).c_str()));
      ASSERT_EQ(PQtransactionStatus(conn), PQTRANS_INTRANS) << PQerrorMessage(conn);
      commit = [conn] { PQclear(PQexec(conn, "COMMIT")), PQfinish(conn); };
    } else {
      sqlite3* db = nullptr;
      sqlite3_open(s.Path("qb.db").c_str(), &db);
      sqlite3_busy_timeout(db, 10000);  // the commit waits for the request's read to end
      ASSERT_EQ(sqlite3_exec(db, ("BEGIN IMMEDIATE;" + sql).c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
      commit = [db] { sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), sqlite3_close(db); };
    }
    static std::jthread holder;
    holder = std::jthread([commit, holdMs] {
      std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
      commit();
    });
  };
}

// The site's connection string with server settings `options` before its own.
void ServerOptions(const Site& s, const std::string& options) {
  std::string server = s.Server();
  server.insert(server.find("options='") + 9, options + " ");
  s.Write("qbcgi.cfg", kConfig + server + "\n");
}

// The request waits on the database server 1 s for a statement, 2 s for an
// answer (the program: 15 s and 30 s).
Call Briefly(Call call) {
  call.waits = {std::chrono::seconds(1), std::chrono::seconds(2)};
  return call;
}

// Runs `then` after `seconds`, or sooner when the test ends.
void Later(int seconds, std::function<void()> then) {
  static std::jthread later;
  later = std::jthread([seconds, then](std::stop_token stop) {
    std::mutex m;
    std::unique_lock lock(m);
    std::condition_variable_any().wait_for(lock, stop, std::chrono::seconds(seconds), [] { return false; });
    then();
  });
}

// Another connection holds an operator's lock on the table for 3 s.
const auto kTableLocked = [](const Site& s) {
  RunRequest(s, Get("action=ShowAll"));  // the schema is current: only the request waits
  PGconn* conn = PQconnectdb(s.Server().c_str());
  PQclear(PQexec(conn, "BEGIN; LOCK TABLE qb IN ACCESS EXCLUSIVE MODE"));
  Later(3, [conn] { PQfinish(conn); });
};

// The backend of the resident process's kept connection stops (SIGSTOP)
// for 10 s.
const auto kBackendStopped = [](const Site& s) {
  PGconn* conn = s.Resident().Use<qb::PgKept>().Take(s.Server());
  const int backend = PQbackendPID(conn);
  s.Resident().Use<qb::PgKept>().Keep(conn, s.Server());
  ASSERT_EQ(::kill(backend, SIGSTOP), 0);
  Later(10, [backend] { ::kill(backend, SIGCONT); });
};

// The site's server is one on its own socket that answers the startup
// packet with `answer` and is then silent, for 10 s at most.
std::function<void(const Site&)> FakeServer(const std::string& answer, const std::string& options = "") {
  return [=](const Site& s) {
    s.Write("qbcgi.cfg", std::string(kConfig) + "host=" + s.Dir() + " user=qb dbname=qb " + options + "\n");
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    (s.Dir() + "/.s.PGSQL.5432").copy(address.sun_path, sizeof address.sun_path - 1);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    Later(0, [listener, answer] {
      pollfd ready{listener, POLLIN, 0};
      const int conn = ::poll(&ready, 1, 10000) == 1 ? ::accept(listener, nullptr, nullptr) : -1;
      char bytes[4096];
      bool answered = false;
      for (pollfd in{conn, POLLIN, 0}; ::poll(&in, 1, 10000) == 1 && ::read(conn, bytes, sizeof bytes) > 0;) {
        if (!std::exchange(answered, true) && ::write(conn, answer.data(), answer.size()) < 0) break;
      }
      ::close(conn);
      ::close(listener);
    });
  };
}

// A server's error message during the startup.
std::string Fatal(const std::string& code, const std::string& message) {
  const std::string fields = std::string("SFATAL\0VFATAL\0C", 15) + code + '\0' + 'M' + message + '\0' + '\0';
  const std::uint32_t size = static_cast<std::uint32_t>(fields.size() + 4);
  return std::string{'E', char(size >> 24), char(size >> 16), char(size >> 8), char(size)} + fields;
}
// Login accepted, ready for queries.
const std::string kReady("R\0\0\0\x08\0\0\0\0Z\0\0\0\x05I", 15);

const auto kKeepAds = [](const Site& s) {
  s.Query(s.Server().empty()
              ? "CREATE TRIGGER KeepAds BEFORE DELETE ON QB BEGIN SELECT RAISE(ABORT, 'ads are kept'); END"
              : "CREATE FUNCTION keep_ads() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN RAISE EXCEPTION 'ads are kept' "
                "USING ERRCODE = '23000'; END$$; CREATE TRIGGER keep_ads BEFORE DELETE ON qb FOR EACH ROW "
                "EXECUTE FUNCTION keep_ads()");
};

const std::string kBikeRow =
    "1|Red bike|Ann Lee|ann@example.com|50|A red bike, hardly used.|555-1234|Cars|2999-01-01|1/2/2026|SECRET|||\n";
const std::string kNet = "'2001:db8:0:1::/64'";
const Call kPlaceAnn = Post("Action=ADD", "Name=Ann&Password=pw");
std::string AnnPlacedFrom(const std::string& address) {  // the store after kPlaceAnn, with kBike before
  return kBikeRow + "2||Ann||||||2026-04-13|3/14/2026|PW||" + address + "|\n";
}
const std::string kNulls = "|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|";

// A row: its name, its request and the golden page it gets, and what else it sets.
Row R(std::string name, Call call, std::string golden, Row more = {}) {
  more.name = std::move(name);
  more.call = std::move(call);
  more.golden = std::move(golden);
  return more;
}

const Row kRows[] = {
    // The pages without ads, and how the request and the settings reach them.
    R("MainPage", Get("action=Main"), "main.html"),
    R("MainPageOnAPipeAnyCase", Get("ACTION=mAiN"), "main.html", {.output = Output::kPipe}),
    R("BodyFieldsComeFirst", Post("action=Getpw&ID=2", "ID=1"), "password_form_1_2.html"),
    R("ScriptUrlKeepsItsSlash", Get("action=Main"), "main.html",
      {.config = Config("30", "http://example.com/cgi-bin/", "N")}),
    R("EmptyScriptUrl", Get("action=Main"), "main_no_script_url.html", {.config = Config("30", "", "N")}),
    R("MainPageBanner", Get("action=Main"), "main_banner.html",
      {.config = Config("30", "http://example.com/cgi-bin", "y"),
       .banners = "1\nhttp://img.example/one.png\nhttp://ads.example/one\n"}),
    R("NoBannersListed", Get("action=Main"), "main_zero_banners.html", {.config = kBannersOn, .banners = "0\n"}),
    R("BannersOnlyForY", Get("action=Main"), "main.html",
      {.config = Config("30", "http://example.com/cgi-bin", "Yes")}),
    R("CategoryIndex", Get("Action=Show"), "index.html"),
    R("CategoryIndexBanner", Get("Action=Show"), "index_banner.html", {.config = kBannersOn, .banners = "1\ni1\nl1\n"}),
    R("OperatorMarkupAndBytes", Get("Action=Show"), "index_operator_text.html",
      {.categories = "<b>Cars</b>\n\"Boats, big\"\nA\xff\x01\nJobs\nPets\nMusic\nComputers\n   Other   \n"}),
    R("AMegabyteSettingAndCategory", Get("Action=List&Cat=2"), "list_boats_empty.html",
      {.store = "",
       .config = Config("30", "http://example.com/cgi-bin", std::string(1 << 20, 'N')),
       .categories = std::string(1 << 20, 'C') + "\nBoats\nHouses\nJobs\nPets\nMusic\nComputers\nOther\n"}),
    R("NewAdForm", Get("action=NewItem"), "new_ad.html"),
    R("PasswordForm", Get("Action=Getpw&ID=+12+"), "password_form.html"),
    R("PasswordFormEscapesTheId", Get("Action=Getpw&ID=%22%3E%3Cscript%3E"), "password_form_markup.html"),
    R("RawBytesInTheQuery", Get("Action=Getpw&ID=\xe9\xff<"), "password_form_bytes.html"),
    R("NoActionIsTheMainPage", Get(""), "main.html"),
    R("UnknownAction", Get("action=Nothing"), "not_found.html"),
    R("ByteOrderMarksInSiteFiles", Get("Action=Show"), "index_banner.html",
      {.config = "\xEF\xBB\xBF" + kBannersOn,
       .categories = "\xEF\xBB\xBF" + std::string(kCategories),
       .banners = "\xEF\xBB\xBF" + std::string("1\ni1\nl1\n")}),
    R("ByteOrderMarkBeforeTheEmail", Get("Action=List&Cat=9"), "error_9_cat.html",
      {.store = "", .config = "\xEF\xBB\xBF" + std::string(kConfig)}),

    // The gateway error page.
    R("BadEscape", Get("action=Main&x=%G1"), "error_65001.html"),
    R("BadEscapeOnAPipe", Get("action=Main&x=%"), "error_65001.html", {.output = Output::kPipe}),
    R("ScriptNameEscaped", With(Get("action=Main&x=%"), "SCRIPT_NAME", "/<b>"), "error_65001_script_name.html"),
    R("SettingsChangedInPlace", Get("action=Main"), "main_45_days.html",
      {.prepare =
           [](const Site& s) {  // seen at once, though a resident process kept them unchanged for a while
             std::this_thread::sleep_for(std::chrono::milliseconds(1100));
             RunRequest(s, Get("action=Main"), Output::kResident);
             s.Write("qbcgi.cfg", Config("45", "http://example.com/cgi-bin", "N"));
           }}),
    R("ShortSettings", Get("action=Main"), "error_62_settings.html", {.config = kBadCfg}),
    R("NoSettings", Get("action=Main"), "error_53_settings.html",
      {.prepare = [](const Site& s) { std::remove(s.Path("qbcgi.cfg").c_str()); }}),
    R("ShortCategoryList", Get("action=Main"), "error_62_categories.html", {.categories = "Cars\nBoats\n"}),
    R("TooManyBanners", Get("action=Main"), "error_9_banners.html", {.config = kBannersOn, .banners = "11\n"}),
    R("BannerCountOutOfRange", Get("action=Main"), "error_6_banners.html",
      {.config = kBannersOn, .banners = "40000\n"}),
    R("NoDatabaseServer", Get("Action=List&Cat=2"), "error_3014_no_server.html",
      {.config = kConfig + std::string("host=/nonexistent port=1 user=qb password=secret\n")}),
    R("NoBannerList", Get("action=Show"), "error_53_banners.html", {.config = kBannersOn}),

    // The body's announced length.
    R("LargestBody", Sized("action=Getpw&ID=4567", "16777216"), "password_form_4567.html"),
    R("BodyTooLarge", Sized("action=Getpw&ID=4567", "16777217"), "error_7.html"),
    R("NegativeLength", Sized("action=Getpw&ID=4567", "-2147483648"), "error_5.html"),
    R("LengthBeyond32Bits", Sized("action=Getpw&ID=4567", "2147483648"), "error_6_length.html"),
    R("GetIgnoresALargeLength", Sized("", "16777217", "GET"), "main.html"),
    R("GetLengthBeyond32Bits", Sized("", "2147483648", "GET"), "error_6_length.html"),
    R("LengthRoundedHalfToEven", Sized("action=Getpw&ID=4567", " +17.5xyz"), "password_form_45.html"),
    R("LengthRoundedDown", Sized("action=Getpw&ID=4567", "18.5"), "password_form_45.html"),
    R("LengthNotANumber", Sized("action=Getpw&ID=4567", "0x20"), "main.html"),
    R("BodyCutInsideAnEscape", Sized("action=Getpw&ID=%2541", "17"), "error_65001.html"),
    R("BodyCutAfterOneDigit", Sized("action=Getpw&ID=%2541", "18"), "password_form_02.html"),
    R("AsManyFieldsAsCounted", Post("action=Getpw&ID=8", kFill + "f=1"), "password_form_8.html"),
    R("TooManyFields", Post("action=Getpw&ID=8", kFill + "f=1=2"), "error_6_fields.html"),

    // Placing an ad.
    R("PlaceAnAd", With(With(Post("Action=ADD", kAddBody), "REMOTE_HOST", "host"), "REMOTE_USER", "ann"),
      "placed_ann.html",
      {.store = "1|Canoe & paddles|Ann Lee |ann@example.com|120|Line one\r\nLine two|555-1234|Boats|2026-04-13|"
                "3/14/2026|SECRET |host|127.0.0.1|ann\n"}),
    R("PlaceAnEmptyAd", Post("Action=ADD", ""), "password_needed.html"),
    R("PlaceWithABlankPassword", Post("Action=ADD", "Item=x&Name=Ann&Password=++"), "password_needed.html"),
    R("PlaceAMultipartForm",
      With(Post("Action=ADD", "--b\r\nContent-Disposition: form-data; name=\"Password\"\r\n\r\npw\r\n--b--\r\n"),
           "CONTENT_TYPE", "multipart/form-data; boundary=b"),
      "password_needed.html"),
    R("PlaceWithFieldsTwice", Post("Action=Add", "Name=a&Name=b&Category=Nowhere&Password=x"), "placed_a_b.html",
      {.ads = {kBike}, .store = kBikeRow + "2||a;b|||||Nowhere|2026-04-13|3/14/2026|X||127.0.0.1|\n"}),
    R("PlaceEveryByte",
      Post("Action=ADD", std::string("Item=raw\0nul\x80\xff<b>", 17) +
                             "&Name=%00%E9&Password=p%00w%E9&Desc=%00%01%7F%80%FF%3C%26&Price=%27%22"),
      "placed_bytes.html",
      {.store = "1|" + std::string("raw\0nul\x80\xff<b>", 12) + "|" + std::string("\0\xe9", 2) + "||'\"|" +
                std::string("\0\x01\x7f\x80\xff<&", 7) + "|||2026-04-13|3/14/2026|" + std::string("P\0W\xe9", 4) +
                "||127.0.0.1|\n"}),
    // A client gone mid-upload: the body is read to its end, short of the length it announced.
    R("PlaceCutShort",
      Sized("Action=ADD&Password=pw&Item=Kite&Desc=" + std::string(3000, 'd') + "&Name=Trickled", "3150", "POST", true),
      "error_62_body_add.html"),
    R("PlaceTrickledBetweenSignals",
      Sized("Action=ADD&Password=pw&Item=Kite&Desc=" + std::string(3000, 'd') + "&Name=Trickled", "3052", "POST", true),
      "placed_trickled.html",
      {.store = "1|Kite|Trickled|||" + std::string(3000, 'd') + "|||2026-04-13|3/14/2026|PW||127.0.0.1|\n"}),
    R("PlaceSqlText", Post("Action=ADD", "Item=" + kSqlText + "&Name=" + kSqlText + "&Category=Cars&Password=a"),
      "placed_sql.html",
      {.store = "1|" + kSqlText + "|" + kSqlText + "|||||Cars|2026-04-13|3/14/2026|A||127.0.0.1|\n"}),
    R("PlaceFieldsAtTheirLimits",
      Post("Action=ADD", "Name=Ann&Password=pw&Phone=" + std::string(48, '9') + "&Desc=" + std::string(65536, '<')),
      "placed_plain_ann.html",
      {.store = "1||Ann|||" + std::string(65536, '<') + "|" + std::string(48, '9') +
                "||2026-04-13|3/14/2026|PW||127.0.0.1|\n"}),
    R("RefuseALongerDescription", Post("Action=ADD", "Name=Ann&Password=pw&Desc=" + std::string(65537, '<')),
      "too_long_desc.html"),
    R("ExpiryOutsideTheCalendar", Post("Action=ADD", "Item=x&Password=p"), "error_6_expiry.html",
      {.store = "unreadable", .config = Config("2147483647", "http://example.com/cgi-bin", "N")}),
    R("EmptyStoreFileIsNew", Post("Action=ADD", "Name=Ann&Password=pw"), "placed_plain_ann.html",
      {.store = "1||Ann||||||2026-04-13|3/14/2026|PW||127.0.0.1|\n",
       .prepare = [](const Site& s) { s.Write("qb.db", ""); },
       .fileOnly = true}),

    // Placing is limited per address (an IPv6 client per /64 network) to 20
    // ads an hour, unless the operator exempts the address.
    R("TooManyAdsFromOneAddress", kPlaceAnn, "too_many_ads_50.html",
      {.ads = {kBike}, .prepare = Placed(20, "'127.0.0.1'", 600), .placed = "127.0.0.1|20|-600|-600\n"}),
    // 19 ads from the network in the last hour, and 5 an hour old that no longer count.
    R("PlaceTheTwentiethFromAnIpv6Network", With(kPlaceAnn, "REMOTE_ADDR", "2001:DB8:0:1:ffff::7"),
      "placed_plain_ann.html",
      {.ads = {kBike},
       .store = AnnPlacedFrom("2001:DB8:0:1:ffff::7"),
       .prepare = [](const Site& s) { Placed(19, kNet, 60)(s), Placed(5, kNet, 3600)(s); },
       .placed = "2001:db8:0:1::/64|20|-60|0\n"}),
    R("PlaceWithoutAnAddress", With(kPlaceAnn, "REMOTE_ADDR", ""), "placed_plain_ann.html",
      {.ads = {kBike}, .store = AnnPlacedFrom(""), .prepare = Placed(20, "''", 60), .placed = "|20|-60|-60\n"}),
    R("PlaceFromAnExemptAddress", kPlaceAnn, "placed_plain_ann.html",
      {.ads = {kBike},
       .store = AnnPlacedFrom("127.0.0.1"),
       .prepare = Placed(20, "'127.0.0.1'", 60, true),
       .placed = "127.0.0.1|20|-60|-60\n"}),
    R("PlaceOnAStoreOfTheVersionBefore", kPlaceAnn, "placed_plain_ann.html",
      {.ads = {kBike},
       .store = AnnPlacedFrom("127.0.0.1"),
       .prepare =
           [](const Site& s) {
             RunRequest(s, Get("action=ShowAll"));
             s.Query("DROP TABLE QbPlace; DROP TABLE QbPlaceExempt;" +
                     std::string(s.Server().empty() ? "PRAGMA user_version = 2"
                                                    : "COMMENT ON TABLE qb IS 'Quaybill ads, schema 1'"));
           },
       .placed = "127.0.0.1|1|0|0\n"}),

    // Listings and the purge.
    R("ListACategory", Get("Action=List&Cat=1"), "list_cars.html",
      {.ads = {kBike, kBob, kExpired, kCar, kLastDay, kMarkup}, .store = "purged"}),
    R("ListWhileAnotherWrites", Get("Action=List&Cat=1"), "list_cars.html",
      {.ads = {kBike, kBob, kExpired, kCar, kLastDay, kMarkup},
       .prepare = WhileLocked("SELECT 1", 3000),
       .fileOnly = true}),
    R("ListAHundredOfACategory", Get("Action=List&Cat=1"), "list_cars_100.html", {.ads = Many(202)}),
    R("ListTheNextHundred", Get("Action=List&Cat=1&Start=+199"), "list_cars_after_199.html", {.ads = Many(202)}),
    R("ListTheLastCategoryEmpty", Get("Action=List&Cat=8"), "list_other_empty.html", {.ads = {kBike}}),
    R("CatRoundedHalfToEven", Get("Action=List&Cat=+2.5+"), "list_boats.html", {.ads = {kBike, kBob, kLastDay}}),
    R("CatEmpty", Get("Action=List&Cat="), "error_13_empty.html"),
    R("CatNotANumber", Get("Action=List&Cat=x1"), "error_13_x1.html"),
    R("CatBeyond16Bits", Get("Action=List&Cat=40000"), "error_6_cat.html"),
    R("CatNine", Get("Action=List&Cat=9"), "error_9_cat.html", {.store = ""}),
    R("CatZeroOnAPipe", Get("Action=List&Cat=0"), "list_cat_0_pipe.html", {.output = Output::kPipe, .store = ""}),
    R("FailingPurge", Get("Action=List&Cat=1"), "error_3019_purge.html",
      {.ads = {kExpired}, .prepare = kKeepAds, .postgresGolden = "error_3019_purge_postgres.html"}),
    R("FailingPurgeOnAPipe", Get("Action=List&Cat=1"), "list_purge_fails_pipe.html",
      {.output = Output::kPipe,
       .ads = {kExpired},
       .prepare = kKeepAds,
       .postgresGolden = "list_purge_fails_pipe_postgres.html"}),
    R("ShowAllEmpty", Get("action=ShowAll"), "show_all_empty.html", {.store = ""}),
    R("ShowAllEscapes", Get("action=SHOWALL"), "show_all.html",
      {.ads = {kBike, kMarkup, kExpired, Ad{.Category = "Nowhere"}}}),
    R("ShowAllHundred", Get("action=ShowAll"), "show_all_100.html", {.ads = Many(100)}),
    R("ShowAllStopsAtAHundred", Get("action=ShowAll"), "show_all_101.html", {.ads = Many(101)}),

    // The seller's edit flow.
    R("SellerAds", Post("Action=Getedit", "Name=++ann+lee+&Submit=Get+Ads"), "seller_ann.html",
      {.ads = {kBike, kCar, kBob, Ad{.Category = ""}}}),
    R("SellerNamePlacedWithBlanks", Post("Action=Getedit", "Name=ann+lee&Submit=Get+Ads"), "seller_ann.html",
      {.ads = {Ad{.Name = " Ann Lee  "}, Ad{.Item = "Blue car", .Name = " ANN LEE", .Price = "900"}, kBob,
               Ad{.Name = "ann lee ", .Category = ""}}}),
    R("SellerWithoutAds", Post("Action=Getedit", "Name=%3Cb%3E%22x"), "seller_markup.html", {.ads = {kBike}}),
    R("SellerAHundredAds", Post("Action=Getedit", "Name=+ann+%26+zo%EB%27s+"), "seller_100_of_101.html",
      {.ads = Many(101, "Ann & Zo\xeb's")}),
    R("SellerTheNextHundred", Get("Action=Getedit&Name=ann+%26+zo%EB%27s&Start=100"), "seller_after_100.html",
      {.ads = Many(101, "Ann & Zo\xeb's")}),
    R("Unlock", Post("Action=Edit", "ID=+1+&pw=++SeCrEt+&submit=Get+Item"), "edit_bike.html", {.ads = {kBike}}),
    R("UnlockMarkupAndOtherCategory", Post("Action=Edit", "ID=1&pw=secret"), "edit_markup.html",
      {.ads = {Ad{kMarkup.Item, kMarkup.Name, kMarkup.Email, kMarkup.Price, kMarkup.Desc, kMarkup.Phone,
                  "Bikes & <more>"}}}),
    R("UnlockEveryByte", Post("Action=Edit", "ID=1&pw=%FF%00"), "edit_bytes.html",
      {.ads = {Ad{.Item = std::string("raw\0\x80", 5), .Desc = kEveryByte, .Password = std::string("\xff\0", 2)}}}),
    R("WrongPassword", Post("Action=Edit", "ID=1&pw=secre"), "invalid_password.html", {.ads = {kBike}}),
    R("PasswordPlacedWithABlank", Post("Action=Edit", "ID=1&pw=secret"), "edit_bike.html",
      {.ads = {Ad{.Password = " SECRET "}}}),
    R("NoPassword", Post("Action=Edit", "ID=1"), "invalid_password.html", {.ads = {kBike}}),
    R("UnlockNoSuchAd", Post("Action=Edit", "ID=2&pw=secret"), "error_no_such_ad_edit.html", {.ads = {kBike}}),
    R("Update", With(Post("Action=Update", kUpdateBody), "REMOTE_USER", "u"), "updated.html",
      {.ads = {kBike, kBob},
       .store = "1|Red bike 2|Ann Lee|new@example.com|75|Now cheaper|1|Pets|2026-04-13|3/14/2026|SECRET||127.0.0.1|u\n"
                "2|Old boat|Bob|ann@example.com|50|A red bike, hardly used.|555-1234|Boats|2999-01-01|1/2/2026|BOAT||"
                "|\n"}),
    R("UpdateCutShort", Sized("Action=Update&" + kUpdateBody, "200"), "error_62_body_update.html", {.ads = {kBike}}),
    R("UpdateRefusesALongPhone", Post("Action=Update", kUpdateBody + "&Phone=" + std::string(49, '9')),
      "too_long_phone.html", {.ads = {kBike}}),
    R("UpdateWrongPassword", Post("Action=Update", kUpdateBody + "x"), "invalid_password.html",
      {.ads = {kBike}, .guesses = "1|127.0.0.1|0\n"}),
    R("UpdateNoSuchAd", Post("Action=Update", "ID=7&pw=secret&Item=x"), "error_no_such_ad.html", {.ads = {kBike}}),
    R("UpdateBeyondTheCalendar", Post("Action=Update", kUpdateBody), "error_6_update.html",
      {.ads = {kBike}, .config = Config("2147483647", "http://example.com/cgi-bin", "N")}),
    R("UpdateWaitsForAnAdReplaced", Post("Action=Update", kUpdateBody), "invalid_password.html",
      {.ads = {kBike},
       .store = "1|Other ad" + kNulls + "OTHER|<null>|<null>|<null>\n",
       .prepare = WhileLocked("DELETE FROM QB; INSERT INTO QB (ID, Item, Password) VALUES (1, 'Other ad', 'OTHER')")}),
    R("Delete", Post("Action=Delete", "ID=2&pw=boat&Item=Old+%3Cboat%3E"), "deleted.html",
      {.ads = {kBike, kBob}, .store = kBikeRow}),
    R("DeleteWrongPassword", Post("Action=Delete", "ID=1&pw=boat&Item=x"), "invalid_password.html",
      {.ads = {kBike, kBob}, .guesses = "1|127.0.0.1|0\n"}),
    R("DeleteNoSuchAd", Post("Action=Delete", "ID=9&pw=x&Item=Old+%3Cboat%3E"), "error_no_such_ad.html",
      {.ads = {kBike}}),
    R("DeletePlusOne", Post("Action=Delete", "ID=%2B1&pw=x&Item=Red+bike"), "error_no_such_ad.html", {.ads = {kBike}}),
    R("DeleteWithAnEmptyPassword", Post("Action=Delete", "ID=1&pw=&Item=x"), "invalid_password.html",
      {.ads = {Ad{.Password = ""}}}),
    R("DeleteRefused", Post("Action=Delete", "ID=1&pw=secret"), "error_3019_delete.html",
      {.ads = {kBike}, .prepare = kKeepAds, .postgresGolden = "error_3019_delete_postgres.html"}),
    R("ReadOnlyDatabaseServer", Post("Action=ADD", "Item=x&Password=p"), "error_3008_read_only_server.html",
      {.ads = {kBike},
       .prepare = [](const Site& s) { ServerOptions(s, "-c default_transaction_read_only=on"); },
       .serverOnly = true}),
    R("LockedTooLong", Post("Action=Delete", "ID=1&pw=secret&Item=x"), "error_3005_locked_server.html",
      {.ads = {kBike},
       .prepare =
           [](const Site& s) {
             ServerOptions(s, "-c lock_timeout=50ms");
             WhileLocked("SELECT 1")(s);
           },
       .serverOnly = true}),
    R("TableLockedTooLong", Briefly(Get("Action=List&Cat=1")), "error_3005_table_locked_list.html",
      {.ads = {kBike}, .store = kBikeRow, .prepare = kTableLocked, .serverOnly = true}),
    R("TableLockedTooLongToPlace", Briefly(Post("Action=ADD", "Item=x&Password=p")), "error_3005_table_locked_add.html",
      {.ads = {kBike}, .store = kBikeRow, .prepare = kTableLocked, .serverOnly = true}),
    R("BackendStopsAnswering", Briefly(Get("Action=List&Cat=1")), "error_3014_stopped_answering.html",
      {.prepare = kBackendStopped, .serverOnly = true, .residentOnly = true}),
    R("ServerSilentAfterTheLogin", Briefly(Get("Action=List&Cat=1")), "error_3014_stopped_answering.html",
      {.prepare = FakeServer(kReady), .serverOnly = true}),
    R("ServerSilentAtTheLogin", Briefly(Get("Action=List&Cat=1")), "error_3014_no_answer.html",
      {.prepare = FakeServer("", "connect_timeout=0"), .serverOnly = true}),
    R("TooManyClients", Get("Action=List&Cat=1"), "error_3014_too_many_clients.html",
      {.prepare = FakeServer(Fatal("53300", "sorry, too many clients already")), .serverOnly = true}),
    R("LoginRefused", Get("Action=List&Cat=1"), "error_3014_login_refused.html",
      {.prepare = FakeServer(Fatal("28P01", "password authentication failed for user \"qb\"")), .serverOnly = true}),
    R("DeleteWaitsForAnAdBeingPlaced", Post("Action=Delete", "ID=2&pw=guess&Item=x"), "invalid_password.html",
      {.ads = {kBike},
       .store = kBikeRow + "2|New ad" + kNulls + "NEW|<null>|<null>|<null>\n",
       .prepare = WhileLocked("INSERT INTO QB (Item, Password) VALUES ('New ad', 'NEW')")}),

    // Guessing: wrong passwords count for a quarter of an hour per address,
    // for five minutes per ad.
    R("WrongPasswordIsCountedOldOnesDropped", Post("Action=Edit", "ID=1&pw=secre"), "invalid_password.html",
      {.ads = {kBike}, .prepare = Tried(5, "'127.0.0.1'", 900), .guesses = "1|127.0.0.1|0\n"}),
    R("TooManyWrongPasswordsFromOneAddress", Post("Action=Edit", "ID=1&pw=secret"), "too_many_14.html",
      {.ads = {kBike},
       .prepare = Tried(5, "'127.0.0.1'", 60),
       .guesses = "1|127.0.0.1|-60\n1|127.0.0.1|-60\n1|127.0.0.1|-60\n1|127.0.0.1|-60\n1|127.0.0.1|-60\n"}),
    R("TooManyFromOneIpv6Network", With(Post("Action=Edit", "ID=1&pw=secret"), "REMOTE_ADDR", "2001:DB8:0:1:ffff::7"),
      "too_many_14.html", {.ads = {kBike}, .prepare = Tried(5, "'2001:db8:0:1::/64'", 60)}),
    R("TooManyWrongPasswordsOnTheAd", Post("Action=Delete", "ID=1&pw=secret&Item=x"), "too_many_4.html",
      {.ads = {kBike}, .prepare = Tried(10, "'10.0.0.' || i", 100)}),
    R("RightPasswordClearsTheCount", Post("Action=Edit", "ID=1&pw=secret"), "edit_bike.html",
      {.ads = {kBike},
       .prepare = Tried(5, "CASE WHEN i < 5 THEN '127.0.0.1' ELSE '10.0.0.2' END", 60),
       .guesses = "1|10.0.0.2|-60\n"}),

    // Damaged stores are reported and left as they are.
    R("NotADatabase", Get("action=ShowAll"), "error_3026.html",
      {.prepare = [](const Site& s) { s.Write("qb.db", std::string(4096, 'j')); }, .fileOnly = true}),
    R("NotADatabaseOnAdd", Post("Action=ADD", "Item=x&Password=p"), "error_3026.html",
      {.prepare = [](const Site& s) { s.Write("qb.db", "SQLite format 3" + std::string(8192, 'j')); },
       .fileOnly = true}),
    R("TruncatedStore", Post("Action=Getedit", "Name=Ann+Lee"), "error_3011.html",
      {.ads = Many(30),
       .prepare = [](const Site& s) { s.Write("qb.db", s.Read("qb.db").substr(0, 4096)); },
       .fileOnly = true}),
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

// Each row runs in a CGI process and in a resident one, on either store. The
// resident process has answered a request on the site before the row's
// set-up changes it, so the row's request finds the store connection of that
// earlier one. Its response is held whole, as on a file: the pipe rows have
// file twins.
class WholeRequest : public testing::TestWithParam<std::tuple<Row, bool, Store>> {};

TEST_P(WholeRequest, AnswersAndStoresAsExpected) {
  const auto& [row, resident, store] = GetParam();
  if ((resident && row.output == Output::kPipe) || (!resident && row.residentOnly) ||
      (store == Store::kPostgres ? row.fileOnly : row.serverOnly)) {
    GTEST_SKIP();
  }
  if (store == Store::kPostgres && TestPostgres().empty()) {
    if (std::getenv("CI") != nullptr) FAIL() << "the tests' PostgreSQL cluster does not run";
    GTEST_SKIP() << "no PostgreSQL cluster (tests/support/test_postgres.sh)";
  }
  Site site(row.config, row.categories, row.banners, store);
  for (const Ad& ad : row.ads) site.Seed(ad);
  if (resident) RunRequest(site, Post("Action=GetEdit", "Name=Nobody"), Output::kResident);
  if (row.prepare) row.prepare(site);
  const std::string before = row.store == "unchanged" ? Snapshot(site) : "";  // not waiting for a lock held
  const std::string page = RunRequest(site, row.call, resident ? Output::kResident : row.output);
  const bool own = store == Store::kPostgres && !row.postgresGolden.empty();
  EXPECT_EQ(page, Golden(own ? row.postgresGolden : row.golden, page));
  const std::string after = Snapshot(site);
  if (row.store == "unchanged") {
    EXPECT_EQ(after, before);
  } else if (row.store == "purged") {
    EXPECT_EQ(site.Query("SELECT count(*) FROM QB WHERE Expire < '2026-03-14'"), "0\n");
    EXPECT_EQ(site.Query("SELECT count(*) FROM QB"), std::to_string(row.ads.size() - 1) + "\n");
  } else if (row.store == "unreadable") {
    EXPECT_EQ(site.Query("SELECT count(*) FROM QB"), "0\n");
  } else {
    EXPECT_EQ(after, row.store);
  }
  const std::string now = std::to_string(kNow);
  if (row.guesses) {
    EXPECT_EQ(site.Query("SELECT AdID, Addr, At - " + now + " FROM QbGuess ORDER BY At, Addr"), *row.guesses);
  }
  if (row.placed) {
    const std::string query = "SELECT Addr, count(*), min(At) - " + now + ", max(At) - " + now + " FROM QbPlace";
    EXPECT_EQ(site.Query(query + " GROUP BY Addr ORDER BY Addr"), *row.placed);
  }
  EXPECT_FALSE(std::ifstream(site.Path("qb.db-journal")).good());
}

INSTANTIATE_TEST_SUITE_P(Table, WholeRequest,
                         testing::Combine(testing::ValuesIn(kRows), testing::Bool(),
                                          testing::Values(Store::kSqlite, Store::kPostgres)),
                         [](const testing::TestParamInfo<std::tuple<Row, bool, Store>>& info) {
                           return std::get<0>(info.param).name + (std::get<1>(info.param) ? "Resident" : "") +
                                  (std::get<2>(info.param) == Store::kPostgres ? "Postgres" : "");
                         });

// A resident process keeps a listing while the store, the day and the
// request stay the same. Each row has its `first` page kept, changes what the
// page hangs on, and then asks for `then`, which must be the page a fresh
// process writes (asked twice: the first purges on a new day).
struct KeptRow {
  std::string name;
  Call first;
  std::function<void(const Site&)> change;
  Call then;
};
Call DayLater(Call call) {
  call.daysLater = 1;
  return call;
}
const KeptRow kKeptRows[] = {
    {"AnotherConnectionAdds", Get("Action=List&Cat=1"), [](const Site& s) { s.Seed(kCar); }, Get("Action=List&Cat=1")},
    {"ThisProcessAdds", Get("Action=List&Cat=1"),
     [](const Site& s) { RunRequest(s, Post("Action=ADD", "Category=Cars&Item=Van&Password=p"), Output::kResident); },
     Get("Action=List&Cat=1")},
    {"ThisProcessUpdates", Get("Action=List&Cat=1"),
     [](const Site& s) {
       RunRequest(s, Post("Action=Update", "Category=Cars&Item=Red+bike+2&Price=75&ID=1&pw=secret"), Output::kResident);
     },
     Get("Action=List&Cat=1")},
    {"ThisProcessDeletes", Get("Action=List&Cat=1"),
     [](const Site& s) { RunRequest(s, Post("Action=Delete", "ID=1&pw=secret&Item=x"), Output::kResident); },
     Get("Action=List&Cat=1")},
    {"ExpiredAfterMidnight", Get("Action=List&Cat=2"), nullptr, DayLater(Get("Action=List&Cat=2"))},
    {"AnotherStart", Get("Action=List&Cat=1"), nullptr, Get("Action=List&Cat=1&Start=1")},
    {"AnotherCategory", Get("Action=List&Cat=1"), nullptr, Get("Action=List&Cat=2")},
};

TEST(WholeRequestKeptListing, FollowsTheStoreTheDayAndTheRequest) {
  std::vector<std::unique_ptr<Site>> sites;
  for (std::size_t i = 0; i < std::size(kKeptRows); ++i) {
    sites.push_back(std::make_unique<Site>());
    sites.back()->Seed(kBike);
    sites.back()->Seed(kLastDay);
  }
  // A site's files are kept, with the pages made from them, once they have been left alone for a second.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  for (std::size_t i = 0; i < std::size(kKeptRows); ++i) {
    const KeptRow& row = kKeptRows[i];
    const Site& site = *sites[i];
    SCOPED_TRACE(row.name);
    const std::string first = RunRequest(site, row.first, Output::kResident);
    ASSERT_EQ(RunRequest(site, row.first, Output::kResident), first);
    if (row.change) row.change(site);
    RunRequest(site, row.then, Output::kResident);
    const std::string kept = RunRequest(site, row.then, Output::kResident);
    RunRequest(site, row.then);
    const std::string fresh = RunRequest(site, row.then);
    EXPECT_NE(fresh, first);
    EXPECT_EQ(kept, fresh);
  }
}

// What a resident process keeps it keeps without reading the ads again: ad
// text rewritten in the store's file behind SQLite's back, which leaves the
// store's change counter as it was, is not seen by the resident process,
// while a fresh process reads it.
TEST(WholeRequestKeptListing, ReadsNoAdsWhileTheStoreSaysNothingChanged) {
  Site site;
  site.Seed(kBike);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // the site's files settled: the listing is kept
  const Call listing = Get("Action=List&Cat=1");
  const std::string kept = RunRequest(site, listing, Output::kResident);
  std::string bytes = site.Read("qb.db");
  const std::size_t at = bytes.find("hardly used");
  ASSERT_NE(at, std::string::npos);
  site.Write("qb.db", bytes.replace(at, 11, "rarely used"));  // the same file, rewritten in place
  EXPECT_EQ(RunRequest(site, listing, Output::kResident), kept);
  EXPECT_NE(RunRequest(site, listing).find("A red bike, rarely used."), std::string::npos);
}

// Banners are drawn afresh for every page, each about as often as the other,
// also on a listing that a resident process keeps.
TEST(WholeRequestBanners, EachIsShownAboutAsOftenAsTheOther) {
  Site site(kBannersOn, kCategories, "2\ni1\nl1\ni2\nl2\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // the site's files settled: the listing is kept
  for (const auto& [call, output] :
       {std::pair{Get("action=Main"), Output::kFile}, std::pair{Get("Action=List&Cat=1"), Output::kResident}}) {
    int first = 0;
    for (int page = 0; page < 400; ++page)
      first += RunRequest(site, call, output).find("src=\"i1\"") != std::string::npos;
    // 400 fair draws fall outside 150 to 250 about once in two million runs.
    EXPECT_GT(first, 150);
    EXPECT_LT(first, 250);
  }
}

}  // namespace
}  // namespace qbtest
