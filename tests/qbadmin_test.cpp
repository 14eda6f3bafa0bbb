// The operator's tool run as a process on a scratch site: one row per command,
// on SQLite and on PostgreSQL (its store filled by importing SQLite's export).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/harness.h"

namespace {

using qbtest::Site;
using qbtest::Store;

// Ad 1 has a quote, a comma and a line end in Desc; 3 has expired; 4 holds a
// Latin-1 byte and a NUL. NULL and empty text differ (RemoteHost, RemoteUser).
constexpr char kSeed[] =
    "CREATE TABLE QB (ID INTEGER PRIMARY KEY AUTOINCREMENT, Item TEXT, Name TEXT, Email TEXT, Price TEXT,"
    " \"Desc\" TEXT, Phone TEXT, Category TEXT, Expire TEXT, Date TEXT, Password TEXT, RemoteHost TEXT,"
    " RemoteAddr TEXT, RemoteUser TEXT);"
    "INSERT INTO QB VALUES (1,'Bike','Ann Lee','ann@example.org','40','two'||char(10)||'lines, \"q\"','555',"
    "'Vehicles','2099-01-01','1/1/2024','PW1',NULL,'10.0.0.1',''),"
    "(2,'Ad','Spam Co','spam@example.com','1','buy','','Pets','2099-01-01','1/1/2024','PW2',NULL,'10.6.6.6',''),"
    "(3,'Ad','Spam Co','spam@example.com','1','buy','','Jobs','2000-01-01','1/1/2000','PW3',NULL,'10.6.6.6',''),"
    "(4,'Caf'||x'E9','Zoe','z@example.org','5','a'||char(0)||'b',NULL,'Pets','2099-01-01','1/1/2024','PW4',NULL,"
    "'10.0.0.4',NULL);";
const std::string kHeader =
    "ID,Item,Name,Email,Price,Desc,Phone,Category,Expire,Date,Password,RemoteHost,RemoteAddr,RemoteUser\r\n";
const std::string kAd1 =
    "1,Bike,Ann Lee,ann@example.org,40,\"two\nlines, \"\"q\"\"\",555,Vehicles,2099-01-01,1/1/2024,PW1,,10.0.0.1,\"\"\r\n";
const std::string kAd3 = "3,Ad,Spam Co,spam@example.com,1,buy,\"\",Jobs,2000-01-01,1/1/2000,PW3,,10.6.6.6,\"\"\r\n";
constexpr char kAd4[] = "4,Caf\xE9,Zoe,z@example.org,5,\"a\0b\",,Pets,2099-01-01,1/1/2024,PW4,,10.0.0.4,\r\n";
const std::string kAd2 = "2,Ad,Spam Co,spam@example.com,1,buy,\"\",Pets,2099-01-01,1/1/2024,PW2,,10.6.6.6,\"\"\r\n";
const std::string kExport = kHeader + kAd1 + kAd2 + kAd3 + std::string(kAd4, sizeof kAd4 - 1);
constexpr char kIds[] = "SELECT group_concat(ID) FROM (SELECT ID FROM QB ORDER BY ID)";
constexpr char kPgIds[] = "SELECT string_agg(id::text, ',' ORDER BY id) FROM qb";
// The ads 5 to 8 an import with new IDs adds are 1 to 4, byte for byte (INTERSECT takes NULLs as equal).
#define QB_ALL_BUT_ID \
  "item, name, email, price, \"desc\", phone, category, expire, \"date\", password, remotehost, remoteaddr, remoteuser"
constexpr char kSameAsFirstFour[] =
    "SELECT count(*) FROM (SELECT " QB_ALL_BUT_ID " FROM qb WHERE id > 4 INTERSECT SELECT " QB_ALL_BUT_ID
    " FROM qb WHERE id <= 4) AS ads";

// Ads counted by the placing limit (in the future, so they count whatever the clock) and an exempt address.
constexpr char kPlaced[] =
    "CREATE TABLE IF NOT EXISTS QbPlace (Addr TEXT NOT NULL, At BIGINT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS QbPlaceExempt (Addr TEXT PRIMARY KEY);"
    "INSERT INTO QbPlace VALUES ('10.6.6.6', 9999999999), ('10.6.6.6', 9999999999), ('10.0.0.1', 9999999999);"
    "INSERT INTO QbPlaceExempt VALUES ('127.0.0.1')";
constexpr char kCounted[] = "SELECT count(*) FROM QbPlace";

struct Row {
  std::string args;  // split at blanks, but not inside '...'; "{site}" stands for the site's directory
  std::string input;
  int status;
  std::string out, err;                         // substrings; out "=..." is the exact output
  std::string query = kIds, after = "1,2,3,4";  // the store afterwards
  std::string before = "";                      // SQL run on the store first ({site} too)
  std::optional<Store> only = std::nullopt;     // a row of one store's SQL or commands
  std::string categories = "Vehicles\nBoats\nReal Estate\nJobs\nElectronics\nFurniture\nPets\nMisc\n";  // cat.lst
};

const Row kRows[] = {
    {"list", "", 0, "4   1/1/2024  2099-01-01  Pets      Zoe      z@example.org     5      Caf\xE9\n4 ads\n", ""},
    {"list --seller ' spam CO ' --category jobs --format json", "", 0, "\"ID\":3,\"Item\":\"Ad\"", ""},
    {"list --expired --format csv", "", 0, "=" + kHeader + kAd3, ""},
    {"list --email EXAMPLE.ORG --address 10.0.0.4 --since 2024-01-01", "", 0, "1 ad\n", ""},
    {"list --since 2024-02-30", "", 2, "", "expected a day as YYYY-MM-DD"},
    {"list --seller ' '", "", 2, "", "--seller: a filter needs a value that is not empty or blank"},
    {"--site {site}/none list", "", 1, "", "{site}/none is not a board's site"},
    {"show 1", "", 0, "Desc:       two\\nlines, \"q\"\nPhone:", ""},
    {"show 9", "", 1, "", "qbadmin: Ad 9 not found\n"},
    {"delete 1 9", "", 1, "Deleted 1 ad.", "ad 9 not found", kIds, "2,3,4"},
    {"delete --address 10.6.6.6", "n\n", 1, "", "2 ads match (IDs 2 3). Delete? [y/N] Nothing deleted."},
    {"delete --address 10.6.6.6", "n\n", 1, "", "11 ads match (IDs 2 3 5 6 7 8 9 10 11 12 ...). Delete? [y/N] Nothing",
     "SELECT count(*) FROM QB", "13",
     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 9) INSERT INTO QB (ID, RemoteAddr) "
     "SELECT i + 4, '10.6.6.6' FROM n"},
    {"list --seller zoe", "", 0, "Déjà vu, a table in oak with ...\n1 ad\n", "", kIds, "1,2,3,4",
     "UPDATE QB SET Item = 'Déjà vu, a table in oak with six chairs' WHERE ID = 4"},
    {"delete --seller 'spam co'", "yes\n", 0, "Deleted 2 ads.", "", kIds, "1,4"},
    {"delete --expired --yes", "", 0, "=Deleted 1 ad.\n", "", kIds, "1,2,4"},
    {"delete", "", 2, "", "give the IDs of the ads to delete, or filter options"},
    {"delete --email '' --yes", "", 2, "", "--email: a filter needs a value"},
    {"delete --category % --yes", "", 2, "", "the filters choose every ad in the store (4 ads); give --all"},
    {"delete --all", "y\n", 0, "=Deleted 4 ads.\n", "4 ads match (IDs 1 2 3 4)", kIds, "<null>"},
    {"purge", "", 0, "=Purged 1 expired ad.\n", "", kIds, "1,2,4"},
    {"password 2", "n3w pw\r\n", 0, "", "", "SELECT Password FROM QB WHERE ID = 2", "N3W PW"},
    {"password 2", "123456789\n", 1, "", "1 to 8 characters", "SELECT Password FROM QB WHERE ID = 2", "PW2"},
    {"password 2 --random", "", 0, "The new password of ad 2 is ", "",
     "SELECT Password GLOB '[A-Z2-9][A-Z2-9][A-Z2-9][A-Z2-9][A-Z2-9][A-Z2-9][A-Z2-9][A-Z2-9]' FROM QB WHERE ID = 2",
     "1", "", Store::kSqlite},
    {"export -", "", 0, "=" + kExport, "Exported 4 ads to -."},
    {"export qb.db", "", 2, "", "export: qb.db is the site's file qb.db; qbadmin never writes onto"},
    {"export /proc/self/cwd/qbcgi.cfg", "", 2, "", "is the site's file qbcgi.cfg"},
    // a symlink to the site
    {"backup {site}/./qb.db-wal", "", 2, "", "is the site's file qb.db-wal"},
    {"export {site}/old.csv", "", 2, "", "{site}/old.csv exists; give --force to replace it", kIds, "1,2,3,4",
     "VACUUM INTO '{site}/old.csv'", Store::kSqlite},
    {"export --force {site}/old.csv", "", 0, "", "old.csv lies in the site directory, where the web server", kIds,
     "1,2,3,4", "VACUUM INTO '{site}/old.csv'", Store::kSqlite},
    {"import -", kExport, 1, "", "Ad 1 is already in the store; nothing was imported"},
    {"import - --renumber", kExport, 0, "Imported 4 ads with new IDs.", "", kSameAsFirstFour, "4"},
    {"import -", kExport, 0, "Imported 4 ads.", "", "INSERT INTO QB (Item) VALUES ('x') RETURNING ID", "5",
     "DELETE FROM QB"},
    {"import -", "ID,Item\r\n", 1, "", "standard input, line 1: the header lacks column Name"},
    {"import -", "ID,Item,Colour\r\n", 1, "", "standard input, line 1: the header names no column Colour"},
    {"import -", kHeader + "5,\"x\"y\r\n", 1, "", "line 2: text after the closing quote"},
    {"import -", kExport + kAd1, 1, "", "line 7: ad 1 appears twice in the file"},
    {"import - --renumber", kHeader + "9,,,,,,,,2099-02-30,,,,,\r\n", 1, "", "line 2: ad 9: Expire \"2099-02-30\""},
    {"import - --renumber", kHeader + kAd1 + "9,,,,,,,,2099-01-01,,\" pW9\",,,\r\n", 1, "",
     "line 4: ad 9: its Password has lower-case letters"},
    {"backup {site}/copy.db", "", 0, "Backed up the store to {site}/copy.db", "",
     "ATTACH '{site}/copy.db' AS copy; SELECT group_concat(ID) FROM (SELECT ID FROM copy.QB ORDER BY ID)", "1,2,3,4",
     "", Store::kSqlite},
    {"backup {site}/copy.db", "", 1, "", "back them up with PostgreSQL's pg_dump", kIds, "1,2,3,4", "",
     Store::kPostgres},
    {"check", "", 0,
     "ok       qb.db: integrity, schema and expiry dates\nnote     qb.db: 1 ad (ad 3) has no password, so no "
     "one can unlock it; qbadmin password ID sets one\nAll is well.\n",
     "", kIds, "1,2,3,4", "UPDATE QB SET Password = ' ' WHERE ID = 3", Store::kSqlite},
    {"check", "", 0, "ok       PostgreSQL: schema and expiry dates\nAll is well.\n", "", kIds, "1,2,3,4", "",
     Store::kPostgres},
    {"check", "", 1,
     "PROBLEM  PostgreSQL: schema: column expire of table qb should be date, is text\n"
     "PROBLEM  PostgreSQL: schema: id is not the table's bigint identity primary key\n",
     "", kIds, "1,2,3,4", "ALTER TABLE qb ALTER expire TYPE text; ALTER TABLE qb ALTER id DROP IDENTITY",
     Store::kPostgres},
    {"check", "", 1,
     " (ad 2) has a password with lower-case letters, which no one can type (the board upper-cases what "
     "is typed); qbadmin password ID sets a new one\n1 problem.\n",
     "", kIds, "1,2,3,4", "UPDATE qb SET password = 'Pw2' WHERE id = 2"},
    {"check", "", 1, "PROBLEM  cat.lst: Input past end of file: cat.lst\n", "", kIds, "1,2,3,4", "", std::nullopt,
     "Vehicles\nBoats\n"},
    {"check", "", 1, "PROBLEM  qb.db: data: 1 ad (ad 4) has an Expire", "", kIds, "1,2,3,4",
     "UPDATE QB SET Expire = '4/1/2099' WHERE ID = 4", Store::kSqlite},
    {"limits", "", 0,
     "=Address    Ads in the last hour  Placing\n10.0.0.1   1                     allowed\n"
     "10.6.6.6   2                     allowed\n127.0.0.1  0                     exempt\n",
     "", kCounted, "3", kPlaced},
    {"limits --clear 10.0.0.1", "", 0, "=Forgot 1 ad counted for 10.0.0.1.\n", "", kCounted, "2", kPlaced},
    {"limits --all", "", 0, "=Forgot 3 ads counted for every address.\n", "", kCounted, "0", kPlaced},
    {"limits --exempt 2001:DB8::7", "", 0, "=2001:db8:0:0::/64 is exempt from the placing limit now.\n", "",
     "SELECT count(*) FROM QbPlaceExempt", "2", kPlaced},
    {"limits --clear ' '", "", 2, "", "--clear: give an address"},
    {"stats --format json", "", 0, "\"ads\": 4,\n  \"expired\": 1,\n  \"unlisted\": 0", ""},
    {"stats --format json", "", 0, "\"ads\": 1\n    }\n  ]\n}\n", "", kIds, "1,2,3,4",  // today is the last day
     "UPDATE QB SET Date = ltrim(strftime('%m', 'now', 'localtime'), '0') || '/' || "
     "ltrim(strftime('%d', 'now', 'localtime'), '0') || strftime('/%Y', 'now', 'localtime') WHERE ID = 1",
     Store::kSqlite},
    {"new-site {site}/b/c --admin-email 'ops, board' --script-url http://h/b --expire-days 36500", "", 0,
     "pages link to http://h/b/qbcgi.exe; error pages name ops, board\n", "",
     "ATTACH '{site}/b/c/qb.db' AS b; SELECT count(*) FROM b.QB", "0", "", Store::kSqlite},
    {"new-site {site}", "", 1, "", "is not empty; a new site needs an empty directory"},
};

std::string Replace(std::string text, const std::string& site) {
  for (std::size_t at; (at = text.find("{site}")) != std::string::npos;) text.replace(at, 6, site);
  return text;
}

// A row's arguments, each with the site's directory in place of "{site}".
std::vector<std::string> Args(const std::string& line, const std::string& site) {
  std::vector<std::string> args;
  for (std::size_t at = 0; at < line.size(); ++at) {
    if (line[at] == ' ') continue;
    const bool quoted = line[at] == '\'';
    const std::size_t end = quoted ? line.find('\'', at + 1) : std::min(line.find(' ', at), line.size());
    args.push_back(Replace(line.substr(at + quoted, end - at - quoted), site));
    at = end;
  }
  return args;
}

// Without the tests' PostgreSQL cluster its runs are skipped (and fail in CI).
class Qbadmin : public testing::TestWithParam<Store> {
  void SetUp() override {
    if (GetParam() != Store::kPostgres || !qbtest::TestPostgres().empty()) return;
    if (std::getenv("CI") != nullptr) FAIL() << "the tests' PostgreSQL cluster does not run";
    GTEST_SKIP() << "no PostgreSQL cluster (tests/support/test_postgres.sh)";
  }
};

TEST_P(Qbadmin, CommandsAndTheirOutcomes) {
  const bool pg = GetParam() == Store::kPostgres;
  for (const Row& row : kRows) {
    if (row.only && *row.only != GetParam()) continue;
    Site site("op@example.org\n30\nhttp://x/\nhttp://x/\nN\nwhite\n", row.categories, "", GetParam());
    const auto qbadmin = [&](const std::vector<std::string>& args, const std::string& input) {
      return qbtest::RunProcess(QBADMIN_PATH, {.env = {}, .body = input, .dir = site.Dir()}, qbtest::Output::kFile,
                                args);
    };
    if (pg) {
      ASSERT_EQ(qbadmin({"import", "-"}, kExport).status, 0);  // as a site moves from qb.db
    } else {
      site.Write("qb.db", "");
      site.Query(kSeed);
    }
    if (!row.before.empty()) site.Query(Replace(row.before, site.Dir()));
    const std::vector<std::string> args = Args(row.args, site.Dir());
    SCOPED_TRACE(args[0] + " " + (args.size() > 1 ? args[1] : ""));
    const qbtest::Exit run = qbadmin(args, row.input);
    EXPECT_EQ(run.status, row.status);
    const std::string wanted = Replace(row.out, site.Dir());
    EXPECT_TRUE(wanted.starts_with("=") ? run.output == wanted.substr(1) : run.output.find(wanted) != std::string::npos)
        << run.output;
    EXPECT_NE(run.errors.find(Replace(row.err, site.Dir())), std::string::npos) << run.errors;
    EXPECT_EQ(site.Query(Replace(pg && row.query == kIds ? kPgIds : row.query, site.Dir())), row.after + "\n");
    if ((args[0] == "export" || args[0] == "backup") && run.status == 0 && args.back() != "-") {
      EXPECT_EQ(std::filesystem::status(args.back()).permissions(), std::filesystem::perms(0600));  // holds passwords
    }
  }
}
INSTANTIATE_TEST_SUITE_P(Stores, Qbadmin, testing::Values(Store::kSqlite, Store::kPostgres),
                         [](const auto& info) { return info.param == Store::kSqlite ? "Sqlite" : "Postgres"; });

}  // namespace
