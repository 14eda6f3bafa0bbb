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
  std::string name;
  Call call;
  std::string golden;
  Output output = Output::kFile;
  std::vector<Ad> ads = {};
  std::string store = "unchanged";  // Snapshot() afterwards
  std::string config = kConfig, categories = kCategories, banners = "";
  std::function<void(const Site&)> prepare = nullptr;
  std::optional<std::string> guesses = std::nullopt;  // wrong passwords counted afterwards
  std::optional<std::string> placed = std::nullopt;   // ads counted afterwards, per address
  bool fileOnly = false;     // about the store file itself: SQLite only
  bool serverOnly = false;   // about the database server: PostgreSQL only
  bool residentOnly = false;  // about the connection a resident process keeps
  std::string postgresGolden = "";  // the page on PostgreSQL, when its error text differs
};

Call Sized(const std::string& body, const std::string& contentLength, const std::string& method = "POST",
           bool trickle = false) {
  Call call = Post("", body);
  call.trickle = trickle;
  call.env["CONTENT_LENGTH"] = contentLength;
  call.env["REQUEST_METHOD"] = method;
  return call;
}

Call With(Call call, const std::string& name, const std::string& value) {
  call.env[name] = value;
  return call;
}

std::string Config(const std::string& expireDays, const std::string& script, const std::string& banners) {
  return "admin@example.com\n" + expireDays + "\n" + script + "\nhttp://example.com/\n" + banners + "\n#FFFFCC\n";
}

const Ad kBike;
const Ad kCar{.Item = "Blue car", .Name = "ANN LEE", .Price = "900"};
const Ad kBob{.Item = "Old boat", .Name = "Bob", .Category = "Boats", .Password = "BOAT"};
const Ad kExpired{.Item = "Gone", .Expire = "2026-03-13"};
const Ad kLastDay{.Item = "Last day", .Category = "Boats", .Expire = "2026-03-14"};
const Ad kMarkup{.Item = "<script>alert('x')</script>", .Name = "\"Q\" & <b>", .Email = "a'b@<x>",
                 .Price = "<1>", .Desc = "</textarea><b>&amp;", .Phone = "\"'", .Category = "Cars"};
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
    if (!s.Server().empty()) {  // the board's advisory write lock
      PGconn* conn = PQconnectdb(s.Server().c_str());
      PQclear(PQexec(conn, ("BEGIN; SELECT pg_advisory_xact_lock(5366869083350425601);" + sql).c_str()));
      ASSERT_EQ(PQtransactionStatus(conn), PQTRANS_INTRANS) << PQerrorMessage(conn);
      static std::jthread pgHolder;
      pgHolder = std::jthread([conn] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        PQclear(PQexec(conn, "COMMIT"));
        PQfinish(conn);
      });
      return;
    }
    sqlite3* db = nullptr;
    sqlite3_open(s.Path("qb.db").c_str(), &db);
    sqlite3_busy_timeout(db, 10000);  // the commit waits for the request's read to end
    ASSERT_EQ(sqlite3_exec(db, ("BEGIN IMMEDIATE;" + sql).c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    static std::jthread holder;
    holder = std::jthread([db, holdMs] {
      std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
      sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      sqlite3_close(db);
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

const Row kRows[] = {
    // The pages without ads, and how the request and the settings reach them.
    {.name = "MainPage", .call = Get("action=Main"), .golden = "main.html"},
    {.name = "MainPageOnAPipeAnyCase", .call = Get("ACTION=mAiN"), .golden = "main.html", .output = Output::kPipe},
    {.name = "BodyFieldsComeFirst", .call = Post("action=Getpw&ID=2", "ID=1"), .golden = "password_form_1_2.html"},
    {.name = "ScriptUrlKeepsItsSlash", .call = Get("action=Main"), .golden = "main.html",
     .config = Config("30", "http://example.com/cgi-bin/", "N")},
    {.name = "EmptyScriptUrl", .call = Get("action=Main"), .golden = "main_no_script_url.html",
     .config = Config("30", "", "N")},
    {.name = "MainPageBanner", .call = Get("action=Main"), .golden = "main_banner.html",
     .config = Config("30", "http://example.com/cgi-bin", "y"),
     .banners = "1\nhttp://img.example/one.png\nhttp://ads.example/one\n"},
    {.name = "NoBannersListed", .call = Get("action=Main"), .golden = "main_zero_banners.html",
     .config = Config("30", "http://example.com/cgi-bin", "Y"), .banners = "0\n"},
    {.name = "BannersOnlyForY", .call = Get("action=Main"), .golden = "main.html",
     .config = Config("30", "http://example.com/cgi-bin", "Yes")},
    {.name = "CategoryIndex", .call = Get("Action=Show"), .golden = "index.html"},
    {.name = "CategoryIndexBanner", .call = Get("Action=Show"), .golden = "index_banner.html",
     .config = Config("30", "http://example.com/cgi-bin", "Y"), .banners = "1\ni1\nl1\n"},
    {.name = "OperatorMarkupAndBytes", .call = Get("Action=Show"), .golden = "index_operator_text.html",
     .categories = "<b>Cars</b>\n\"Boats, big\"\nA\xff\x01\nJobs\nPets\nMusic\nComputers\n   Other   \n"},
    {.name = "AMegabyteSettingAndCategory", .call = Get("Action=List&Cat=2"), .golden = "list_boats_empty.html", .store = "",
     .config = Config("30", "http://example.com/cgi-bin", std::string(1 << 20, 'N')),
     .categories = std::string(1 << 20, 'C') + "\nBoats\nHouses\nJobs\nPets\nMusic\nComputers\nOther\n"},
    {.name = "NewAdForm", .call = Get("action=NewItem"), .golden = "new_ad.html"},
    {.name = "PasswordForm", .call = Get("Action=Getpw&ID=+12+"), .golden = "password_form.html"},
    {.name = "PasswordFormEscapesTheId", .call = Get("Action=Getpw&ID=%22%3E%3Cscript%3E"),
     .golden = "password_form_markup.html"},
    {.name = "RawBytesInTheQuery", .call = Get("Action=Getpw&ID=\xe9\xff<"), .golden = "password_form_bytes.html"},
    {.name = "NoActionIsTheMainPage", .call = Get(""), .golden = "main.html"},
    {.name = "UnknownAction", .call = Get("action=Nothing"), .golden = "not_found.html"},
    {.name = "ByteOrderMarksInSiteFiles", .call = Get("Action=Show"), .golden = "index_banner.html",
     .config = "\xEF\xBB\xBF" + Config("30", "http://example.com/cgi-bin", "Y"),
     .categories = "\xEF\xBB\xBF" + std::string(kCategories), .banners = "\xEF\xBB\xBF" "1\ni1\nl1\n"},
    {.name = "ByteOrderMarkBeforeTheEmail", .call = Get("Action=List&Cat=9"), .golden = "error_9_cat.html",
     .store = "", .config = "\xEF\xBB\xBF" + std::string(kConfig)},

    // The gateway error page.
    {.name = "BadEscape", .call = Get("action=Main&x=%G1"), .golden = "error_65001.html"},
    {.name = "BadEscapeOnAPipe", .call = Get("action=Main&x=%"), .golden = "error_65001.html",
     .output = Output::kPipe},
    {.name = "ScriptNameEscaped", .call = With(Get("action=Main&x=%"), "SCRIPT_NAME", "/<b>"),
     .golden = "error_65001_script_name.html"},
    {.name = "SettingsChangedInPlace", .call = Get("action=Main"), .golden = "main_45_days.html",
     .prepare = [](const Site& s) {  // seen at once, though a resident process kept them unchanged for a while
       std::this_thread::sleep_for(std::chrono::milliseconds(1100));
       RunRequest(s, Get("action=Main"), Output::kResident);
       s.Write("qbcgi.cfg", Config("45", "http://example.com/cgi-bin", "N"));
     }},
    {.name = "ShortSettings", .call = Get("action=Main"), .golden = "error_62_settings.html", .config = kBadCfg},
    {.name = "NoSettings", .call = Get("action=Main"), .golden = "error_53_settings.html",
     .prepare = [](const Site& s) { std::remove(s.Path("qbcgi.cfg").c_str()); }},
    {.name = "ShortCategoryList", .call = Get("action=Main"), .golden = "error_62_categories.html",
     .categories = "Cars\nBoats\n"},
    {.name = "TooManyBanners", .call = Get("action=Main"), .golden = "error_9_banners.html",
     .config = Config("30", "http://example.com/cgi-bin", "Y"), .banners = "11\n"},
    {.name = "NoDatabaseServer", .call = Get("Action=List&Cat=2"), .golden = "error_3014_no_server.html",
     .config = kConfig + std::string("host=/nonexistent port=1 user=qb password=secret\n")},
    {.name = "NoBannerList", .call = Get("action=Show"), .golden = "error_53_banners.html",
     .config = Config("30", "http://example.com/cgi-bin", "Y")},

    // The body's announced length.
    {.name = "LargestBody", .call = Sized("action=Getpw&ID=4567", "16777216"), .golden = "password_form_4567.html"},
    {.name = "BodyTooLarge", .call = Sized("action=Getpw&ID=4567", "16777217"), .golden = "error_7.html"},
    {.name = "NegativeLength", .call = Sized("action=Getpw&ID=4567", "-2147483648"), .golden = "error_5.html"},
    {.name = "LengthBeyond32Bits", .call = Sized("action=Getpw&ID=4567", "2147483648"), .golden = "error_6_length.html"},
    {.name = "GetIgnoresALargeLength", .call = Sized("", "16777217", "GET"), .golden = "main.html"},
    {.name = "GetLengthBeyond32Bits", .call = Sized("", "2147483648", "GET"), .golden = "error_6_length.html"},
    {.name = "LengthRoundedHalfToEven", .call = Sized("action=Getpw&ID=4567", " +17.5xyz"),
     .golden = "password_form_45.html"},
    {.name = "LengthRoundedDown", .call = Sized("action=Getpw&ID=4567", "18.5"), .golden = "password_form_45.html"},
    {.name = "LengthNotANumber", .call = Sized("action=Getpw&ID=4567", "0x20"), .golden = "main.html"},
    {.name = "BodyCutInsideAnEscape", .call = Sized("action=Getpw&ID=%2541", "17"), .golden = "error_65001.html"},
    {.name = "BodyCutAfterOneDigit", .call = Sized("action=Getpw&ID=%2541", "18"),
     .golden = "password_form_02.html"},
    {.name = "AsManyFieldsAsCounted", .call = Post("action=Getpw&ID=8", kFill + "f=1"), .golden = "password_form_8.html"},
    {.name = "TooManyFields", .call = Post("action=Getpw&ID=8", kFill + "f=1=2"), .golden = "error_6_fields.html"},

    // Placing an ad.
    {.name = "PlaceAnAd", .call = With(With(Post("Action=ADD", kAddBody), "REMOTE_HOST", "host"), "REMOTE_USER", "ann"),
     .golden = "placed_ann.html",
     .store = "1|Canoe & paddles|Ann Lee |ann@example.com|120|Line one\r\nLine two|555-1234|Boats|2026-04-13|"
              "3/14/2026|SECRET |host|127.0.0.1|ann\n"},
    {.name = "PlaceAnEmptyAd", .call = Post("Action=ADD", ""), .golden = "password_needed.html"},
    {.name = "PlaceWithABlankPassword", .call = Post("Action=ADD", "Item=x&Name=Ann&Password=++"),
     .golden = "password_needed.html"},
    {.name = "PlaceAMultipartForm",
     .call = With(Post("Action=ADD", "--b\r\nContent-Disposition: form-data; name=\"Password\"\r\n\r\npw\r\n--b--\r\n"),
                  "CONTENT_TYPE", "multipart/form-data; boundary=b"),
     .golden = "password_needed.html"},
    {.name = "PlaceWithFieldsTwice", .call = Post("Action=Add", "Name=a&Name=b&Category=Nowhere&Password=x"),
     .golden = "placed_a_b.html", .ads = {kBike},
     .store = kBikeRow + "2||a;b|||||Nowhere|2026-04-13|3/14/2026|X||127.0.0.1|\n"},
    {.name = "PlaceEveryByte",
     .call = Post("Action=ADD", std::string("Item=raw\0nul\x80\xff<b>", 17) +
                                    "&Name=%00%E9&Password=p%00w%E9&Desc=%00%01%7F%80%FF%3C%26&Price=%27%22"),
     .golden = "placed_bytes.html",
     .store = "1|" + std::string("raw\0nul\x80\xff<b>", 12) + "|" + std::string("\0\xe9", 2) + "||'\"|" +
              std::string("\0\x01\x7f\x80\xff<&", 7) + "|||2026-04-13|3/14/2026|" + std::string("P\0W\xe9", 4) +
              "||127.0.0.1|\n"},
    {.name = "PlaceCutShort",  // its client gone mid-upload: read to its end, short of the length it announced
     .call = Sized("Action=ADD&Password=pw&Item=Kite&Desc=" + std::string(3000, 'd') + "&Name=Trickled", "3150", "POST", true),
     .golden = "error_62_body_add.html"},
    {.name = "PlaceTrickledBetweenSignals",
     .call = Sized("Action=ADD&Password=pw&Item=Kite&Desc=" + std::string(3000, 'd') + "&Name=Trickled", "3052", "POST", true),
     .golden = "placed_trickled.html",
     .store = "1|Kite|Trickled|||" + std::string(3000, 'd') + "|||2026-04-13|3/14/2026|PW||127.0.0.1|\n"},
    {.name = "PlaceSqlText",
     .call = Post("Action=ADD", "Item=" + kSqlText + "&Name=" + kSqlText + "&Category=Cars&Password=a"),
     .golden = "placed_sql.html",
     .store = "1|" + kSqlText + "|" + kSqlText + "|||||Cars|2026-04-13|3/14/2026|A||127.0.0.1|\n"},
    {.name = "PlaceFieldsAtTheirLimits",
     .call = Post("Action=ADD", "Name=Ann&Password=pw&Phone=" + std::string(48, '9') + "&Desc=" + std::string(65536, '<')),
     .golden = "placed_plain_ann.html",
     .store = "1||Ann|||" + std::string(65536, '<') + "|" + std::string(48, '9') + "||2026-04-13|3/14/2026|PW||127.0.0.1|\n"},
    {.name = "RefuseALongerDescription",
     .call = Post("Action=ADD", "Name=Ann&Password=pw&Desc=" + std::string(65537, '<')), .golden = "too_long_desc.html"},
    {.name = "ExpiryOutsideTheCalendar", .call = Post("Action=ADD", "Item=x&Password=p"), .golden = "error_6_expiry.html",
     .store = "unreadable", .config = Config("2147483647", "http://example.com/cgi-bin", "N")},
    {.name = "EmptyStoreFileIsNew", .call = Post("Action=ADD", "Name=Ann&Password=pw"), .golden = "placed_plain_ann.html",
     .store = "1||Ann||||||2026-04-13|3/14/2026|PW||127.0.0.1|\n", .prepare = [](const Site& s) { s.Write("qb.db", ""); },
     .fileOnly = true},

    // Placing is limited per address (an IPv6 client per /64 network) to 20
    // ads an hour, unless the operator exempts the address.
    {.name = "TooManyAdsFromOneAddress", .call = kPlaceAnn, .golden = "too_many_ads_50.html", .ads = {kBike},
     .prepare = Placed(20, "'127.0.0.1'", 600), .placed = "127.0.0.1|20|-600|-600\n"},
    {.name = "PlaceTheTwentiethFromAnIpv6Network", .call = With(kPlaceAnn, "REMOTE_ADDR", "2001:DB8:0:1:ffff::7"),
     .golden = "placed_plain_ann.html", .ads = {kBike}, .store = AnnPlacedFrom("2001:DB8:0:1:ffff::7"),
     .prepare = [](const Site& s) { Placed(19, kNet, 60)(s), Placed(5, kNet, 3600)(s); },  // the 5 an hour old
     .placed = "2001:db8:0:1::/64|20|-60|0\n"},
    {.name = "PlaceWithoutAnAddress", .call = With(kPlaceAnn, "REMOTE_ADDR", ""), .golden = "placed_plain_ann.html",
     .ads = {kBike}, .store = AnnPlacedFrom(""), .prepare = Placed(20, "''", 60), .placed = "|20|-60|-60\n"},
    {.name = "PlaceFromAnExemptAddress", .call = kPlaceAnn, .golden = "placed_plain_ann.html", .ads = {kBike},
     .store = AnnPlacedFrom("127.0.0.1"), .prepare = Placed(20, "'127.0.0.1'", 60, true),
     .placed = "127.0.0.1|20|-60|-60\n"},
    {.name = "PlaceOnAStoreOfTheVersionBefore", .call = kPlaceAnn, .golden = "placed_plain_ann.html", .ads = {kBike},
     .store = AnnPlacedFrom("127.0.0.1"),
     .prepare = [](const Site& s) {
       RunRequest(s, Get("action=ShowAll"));
       s.Query("DROP TABLE QbPlace; DROP TABLE QbPlaceExempt;" +
               std::string(s.Server().empty() ? "PRAGMA user_version = 2"
                                              : "COMMENT ON TABLE qb IS 'Quaybill ads, schema 1'"));
     },
     .placed = "127.0.0.1|1|0|0\n"},

    // Listings and the purge.
    {.name = "ListACategory", .call = Get("Action=List&Cat=1"), .golden = "list_cars.html",
     .ads = {kBike, kBob, kExpired, kCar, kLastDay, kMarkup}, .store = "purged"},
    {.name = "ListWhileAnotherWrites", .call = Get("Action=List&Cat=1"), .golden = "list_cars.html",
     .ads = {kBike, kBob, kExpired, kCar, kLastDay, kMarkup}, .prepare = WhileLocked("SELECT 1", 3000),
     .fileOnly = true},
    {.name = "ListAHundredOfACategory", .call = Get("Action=List&Cat=1"), .golden = "list_cars_100.html",
     .ads = Many(202)},
    {.name = "ListTheNextHundred", .call = Get("Action=List&Cat=1&Start=+199"), .golden = "list_cars_after_199.html",
     .ads = Many(202)},
    {.name = "ListTheLastCategoryEmpty", .call = Get("Action=List&Cat=8"), .golden = "list_other_empty.html",
     .ads = {kBike}},
    {.name = "CatRoundedHalfToEven", .call = Get("Action=List&Cat=+2.5+"), .golden = "list_boats.html",
     .ads = {kBike, kBob, kLastDay}},
    {.name = "CatEmpty", .call = Get("Action=List&Cat="), .golden = "error_13_empty.html"},
    {.name = "CatNotANumber", .call = Get("Action=List&Cat=x1"), .golden = "error_13_x1.html"},
    {.name = "CatBeyond16Bits", .call = Get("Action=List&Cat=40000"), .golden = "error_6_cat.html"},
    {.name = "CatNine", .call = Get("Action=List&Cat=9"), .golden = "error_9_cat.html", .store = ""},
    {.name = "CatZeroOnAPipe", .call = Get("Action=List&Cat=0"), .golden = "list_cat_0_pipe.html",
     .output = Output::kPipe, .store = ""},
    {.name = "FailingPurge", .call = Get("Action=List&Cat=1"), .golden = "error_3019_purge.html", .ads = {kExpired},
     .prepare = kKeepAds, .postgresGolden = "error_3019_purge_postgres.html"},
    {.name = "FailingPurgeOnAPipe", .call = Get("Action=List&Cat=1"), .golden = "list_purge_fails_pipe.html",
     .output = Output::kPipe, .ads = {kExpired}, .prepare = kKeepAds,
     .postgresGolden = "list_purge_fails_pipe_postgres.html"},
    {.name = "ShowAllEmpty", .call = Get("action=ShowAll"), .golden = "show_all_empty.html", .store = ""},
    {.name = "ShowAllEscapes", .call = Get("action=SHOWALL"), .golden = "show_all.html",
     .ads = {kBike, kMarkup, kExpired, Ad{.Category = "Nowhere"}}},
    {.name = "ShowAllHundred", .call = Get("action=ShowAll"), .golden = "show_all_100.html", .ads = Many(100)},
    {.name = "ShowAllStopsAtAHundred", .call = Get("action=ShowAll"), .golden = "show_all_101.html",
     .ads = Many(101)},

    // The seller's edit flow.
    {.name = "SellerAds", .call = Post("Action=Getedit", "Name=++ann+lee+&Submit=Get+Ads"), .golden = "seller_ann.html",
     .ads = {kBike, kCar, kBob, Ad{.Category = ""}}},
    {.name = "SellerNamePlacedWithBlanks", .call = Post("Action=Getedit", "Name=ann+lee&Submit=Get+Ads"),
     .golden = "seller_ann.html",
     .ads = {Ad{.Name = " Ann Lee  "}, Ad{.Item = "Blue car", .Name = " ANN LEE", .Price = "900"}, kBob,
             Ad{.Name = "ann lee ", .Category = ""}}},
    {.name = "SellerWithoutAds", .call = Post("Action=Getedit", "Name=%3Cb%3E%22x"), .golden = "seller_markup.html",
     .ads = {kBike}},
    {.name = "SellerAHundredAds", .call = Post("Action=Getedit", "Name=+ann+%26+zo%EB%27s+"),
     .golden = "seller_100_of_101.html", .ads = Many(101, "Ann & Zo\xeb's")},
    {.name = "SellerTheNextHundred", .call = Get("Action=Getedit&Name=ann+%26+zo%EB%27s&Start=100"),
     .golden = "seller_after_100.html", .ads = Many(101, "Ann & Zo\xeb's")},
    {.name = "Unlock", .call = Post("Action=Edit", "ID=+1+&pw=++SeCrEt+&submit=Get+Item"), .golden = "edit_bike.html",
     .ads = {kBike}},
    {.name = "UnlockMarkupAndOtherCategory", .call = Post("Action=Edit", "ID=1&pw=secret"),
     .golden = "edit_markup.html", .ads = {Ad{kMarkup.Item, kMarkup.Name, kMarkup.Email, kMarkup.Price, kMarkup.Desc,
                                             kMarkup.Phone, "Bikes & <more>"}}},
    {.name = "UnlockEveryByte", .call = Post("Action=Edit", "ID=1&pw=%FF%00"), .golden = "edit_bytes.html",
     .ads = {Ad{.Item = std::string("raw\0\x80", 5), .Desc = kEveryByte, .Password = std::string("\xff\0", 2)}}},
    {.name = "WrongPassword", .call = Post("Action=Edit", "ID=1&pw=secre"), .golden = "invalid_password.html",
     .ads = {kBike}},
    {.name = "PasswordPlacedWithABlank", .call = Post("Action=Edit", "ID=1&pw=secret"), .golden = "edit_bike.html",
     .ads = {Ad{.Password = " SECRET "}}},
    {.name = "NoPassword", .call = Post("Action=Edit", "ID=1"), .golden = "invalid_password.html", .ads = {kBike}},
    {.name = "UnlockNoSuchAd", .call = Post("Action=Edit", "ID=2&pw=secret"), .golden = "error_no_such_ad_edit.html",
     .ads = {kBike}},
    {.name = "Update", .call = With(Post("Action=Update", kUpdateBody), "REMOTE_USER", "u"), .golden = "updated.html",
     .ads = {kBike, kBob},
     .store = "1|Red bike 2|Ann Lee|new@example.com|75|Now cheaper|1|Pets|2026-04-13|3/14/2026|SECRET||127.0.0.1|u\n"
              "2|Old boat|Bob|ann@example.com|50|A red bike, hardly used.|555-1234|Boats|2999-01-01|1/2/2026|BOAT||"
              "|\n"},
    {.name = "UpdateCutShort", .call = Sized("Action=Update&" + kUpdateBody, "200"),
     .golden = "error_62_body_update.html", .ads = {kBike}},
    {.name = "UpdateRefusesALongPhone", .call = Post("Action=Update", kUpdateBody + "&Phone=" + std::string(49, '9')),
     .golden = "too_long_phone.html", .ads = {kBike}},
    {.name = "UpdateWrongPassword", .call = Post("Action=Update", kUpdateBody + "x"),
     .golden = "invalid_password.html", .ads = {kBike}, .guesses = "1|127.0.0.1|0\n"},
    {.name = "UpdateNoSuchAd", .call = Post("Action=Update", "ID=7&pw=secret&Item=x"),
     .golden = "error_no_such_ad.html", .ads = {kBike}},
    {.name = "UpdateWaitsForAnAdReplaced", .call = Post("Action=Update", kUpdateBody), .golden = "invalid_password.html",
     .ads = {kBike}, .store = "1|Other ad" + kNulls + "OTHER|<null>|<null>|<null>\n",
     .prepare = WhileLocked("DELETE FROM QB; INSERT INTO QB (ID, Item, Password) VALUES (1, 'Other ad', 'OTHER')")},
    {.name = "Delete", .call = Post("Action=Delete", "ID=2&pw=boat&Item=Old+%3Cboat%3E"), .golden = "deleted.html",
     .ads = {kBike, kBob},
     .store = kBikeRow},
    {.name = "DeleteWrongPassword", .call = Post("Action=Delete", "ID=1&pw=boat&Item=x"),
     .golden = "invalid_password.html", .ads = {kBike, kBob}, .guesses = "1|127.0.0.1|0\n"},
    {.name = "DeleteNoSuchAd", .call = Post("Action=Delete", "ID=9&pw=x&Item=Old+%3Cboat%3E"),
     .golden = "error_no_such_ad.html", .ads = {kBike}},
    {.name = "DeletePlusOne", .call = Post("Action=Delete", "ID=%2B1&pw=x&Item=Red+bike"),
     .golden = "error_no_such_ad.html", .ads = {kBike}},
    {.name = "DeleteWithAnEmptyPassword", .call = Post("Action=Delete", "ID=1&pw=&Item=x"),
     .golden = "invalid_password.html", .ads = {Ad{.Password = ""}}},
    {.name = "ReadOnlyDatabaseServer", .call = Post("Action=ADD", "Item=x&Password=p"),
     .golden = "error_3008_read_only_server.html", .ads = {kBike},
     .prepare = [](const Site& s) { ServerOptions(s, "-c default_transaction_read_only=on"); }, .serverOnly = true},
    {.name = "LockedTooLong", .call = Post("Action=Delete", "ID=1&pw=secret&Item=x"),
     .golden = "error_3005_locked_server.html", .ads = {kBike},
     .prepare = [](const Site& s) {
       ServerOptions(s, "-c lock_timeout=50ms");
       WhileLocked("SELECT 1")(s);
     },
     .serverOnly = true},
    {.name = "TableLockedTooLong", .call = Briefly(Get("Action=List&Cat=1")),
     .golden = "error_3005_table_locked_list.html", .ads = {kBike}, .store = kBikeRow, .prepare = kTableLocked,
     .serverOnly = true},
    {.name = "TableLockedTooLongToPlace", .call = Briefly(Post("Action=ADD", "Item=x&Password=p")),
     .golden = "error_3005_table_locked_add.html", .ads = {kBike}, .store = kBikeRow, .prepare = kTableLocked,
     .serverOnly = true},
    {.name = "BackendStopsAnswering", .call = Briefly(Get("Action=List&Cat=1")),
     .golden = "error_3014_stopped_answering.html", .prepare = kBackendStopped, .serverOnly = true,
     .residentOnly = true},
    {.name = "ServerSilentAfterTheLogin", .call = Briefly(Get("Action=List&Cat=1")),
     .golden = "error_3014_stopped_answering.html", .prepare = FakeServer(kReady), .serverOnly = true},
    {.name = "ServerSilentAtTheLogin", .call = Briefly(Get("Action=List&Cat=1")),
     .golden = "error_3014_no_answer.html", .prepare = FakeServer("", "connect_timeout=0"), .serverOnly = true},
    {.name = "TooManyClients", .call = Get("Action=List&Cat=1"), .golden = "error_3014_too_many_clients.html",
     .prepare = FakeServer(Fatal("53300", "sorry, too many clients already")), .serverOnly = true},
    {.name = "LoginRefused", .call = Get("Action=List&Cat=1"), .golden = "error_3014_login_refused.html",
     .prepare = FakeServer(Fatal("28P01", "password authentication failed for user \"qb\"")), .serverOnly = true},
    {.name = "DeleteWaitsForAnAdBeingPlaced", .call = Post("Action=Delete", "ID=2&pw=guess&Item=x"),
     .golden = "invalid_password.html", .ads = {kBike}, .store = kBikeRow + "2|New ad" + kNulls + "NEW|<null>|<null>|<null>\n",
     .prepare = WhileLocked("INSERT INTO QB (Item, Password) VALUES ('New ad', 'NEW')")},

    // Guessing: wrong passwords count for a quarter of an hour per address,
    // for five minutes per ad.
    {.name = "WrongPasswordIsCountedOldOnesDropped", .call = Post("Action=Edit", "ID=1&pw=secre"),
     .golden = "invalid_password.html", .ads = {kBike}, .prepare = Tried(5, "'127.0.0.1'", 900),
     .guesses = "1|127.0.0.1|0\n"},
    {.name = "TooManyWrongPasswordsFromOneAddress", .call = Post("Action=Edit", "ID=1&pw=secret"),
     .golden = "too_many_14.html", .ads = {kBike}, .prepare = Tried(5, "'127.0.0.1'", 60),
     .guesses = "1|127.0.0.1|-60\n1|127.0.0.1|-60\n1|127.0.0.1|-60\n1|127.0.0.1|-60\n1|127.0.0.1|-60\n"},
    {.name = "TooManyFromOneIpv6Network",
     .call = With(Post("Action=Edit", "ID=1&pw=secret"), "REMOTE_ADDR", "2001:DB8:0:1:ffff::7"),
     .golden = "too_many_14.html", .ads = {kBike}, .prepare = Tried(5, "'2001:db8:0:1::/64'", 60)},
    {.name = "TooManyWrongPasswordsOnTheAd", .call = Post("Action=Delete", "ID=1&pw=secret&Item=x"),
     .golden = "too_many_4.html", .ads = {kBike}, .prepare = Tried(10, "'10.0.0.' || i", 100)},
    {.name = "RightPasswordClearsTheCount", .call = Post("Action=Edit", "ID=1&pw=secret"), .golden = "edit_bike.html",
     .ads = {kBike}, .prepare = Tried(5, "CASE WHEN i < 5 THEN '127.0.0.1' ELSE '10.0.0.2' END", 60),
     .guesses = "1|10.0.0.2|-60\n"},

    // Damaged stores are reported and left as they are.
    {.name = "NotADatabase", .call = Get("action=ShowAll"), .golden = "error_3026.html",
     .prepare = [](const Site& s) { s.Write("qb.db", std::string(4096, 'j')); }, .fileOnly = true},
    {.name = "NotADatabaseOnAdd", .call = Post("Action=ADD", "Item=x&Password=p"), .golden = "error_3026.html",
     .prepare = [](const Site& s) { s.Write("qb.db", "SQLite format 3" + std::string(8192, 'j')); }, .fileOnly = true},
    {.name = "TruncatedStore", .call = Post("Action=Getedit", "Name=Ann+Lee"), .golden = "error_3011.html",
     .ads = Many(30), .prepare = [](const Site& s) { s.Write("qb.db", s.Read("qb.db").substr(0, 4096)); },
     .fileOnly = true},
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
  if ((resident && row.output == Output::kPipe) || (!resident && row.residentOnly) || (store == Store::kPostgres ? row.fileOnly : row.serverOnly)) {
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
  if (row.guesses) {
    EXPECT_EQ(site.Query("SELECT AdID, Addr, At - " + std::to_string(kNow) + " FROM QbGuess ORDER BY At, Addr"),
              *row.guesses);
  }
  if (row.placed) {
    EXPECT_EQ(site.Query("SELECT Addr, count(*), min(At) - " + std::to_string(kNow) + ", max(At) - " +
                         std::to_string(kNow) + " FROM QbPlace GROUP BY Addr ORDER BY Addr"),
              *row.placed);
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

// Banners are drawn afresh for every page, each about as often as the other.
TEST(WholeRequestBanners, EachIsShownAboutAsOftenAsTheOther) {
  Site site(Config("30", "http://example.com/cgi-bin", "Y"), kCategories, "2\ni1\nl1\ni2\nl2\n");
  int first = 0;
  for (int page = 0; page < 400; ++page) first += RunRequest(site, Get("action=Main")).find("src=\"i1\"") != std::string::npos;
  // 400 fair draws fall outside 150 to 250 about once in two million runs.
  EXPECT_GT(first, 150);
  EXPECT_LT(first, 250);
}

}  // namespace
}  // namespace qbtest
