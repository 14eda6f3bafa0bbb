#pragma once
// One harness for every test: a temporary site with its files and seeded
// ads, and whole requests run through the program's own entry point, either
// in this process (output to a memory file or a pipe) or as a real CGI process.
#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "postdata/host.h"
#include "storage/database.h"
#include "storage/kept_store.h"

namespace qbtest {

inline constexpr char kConfig[] =
    "admin@example.com\n30\nhttp://example.com/cgi-bin\nhttp://example.com/\nN\n#FFFFCC\n";
inline constexpr char kCategories[] = "Cars\nBoats\nHouses\nJobs\nPets\nMusic\nComputers\nOther\n";

// Where a site keeps its ads: qb.db, or a schema of its own in the tests'
// PostgreSQL cluster (tests/support/test_postgres.sh), reached on its unix
// socket or over TCP with TLS.
enum class Store { kSqlite, kPostgres, kPostgresTls };
// The cluster's connection string; empty when it does not run.
const std::string& TestPostgres();

// An ad as a test seeds it: straight into the table with SQLite, through the
// store layer on PostgreSQL.
struct Ad {
  std::string Item = "Red bike", Name = "Ann Lee", Email = "ann@example.com", Price = "50",
              Desc = "A red bike, hardly used.", Phone = "555-1234", Category = "Cars", Expire = "2999-01-01",
              Date = "1/2/2026", Password = "SECRET";
};

class Site {
 public:
  explicit Site(const std::string& config = kConfig, const std::string& categories = kCategories,
                const std::string& banners = "", Store store = Store::kSqlite);
  ~Site();
  Site(const Site&) = delete;
  Site& operator=(const Site&) = delete;

  const std::string& Dir() const { return dir_; }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // qbcgi.cfg is written with the site's PostgreSQL connection string after
  // the given settings, when there is one.
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;
  long long Seed(const Ad& ad) const;  // returns the new ad's ID
  // Runs the statements of `sql` on the store: each row a line, its columns
  // joined by '|' (bytea as its bytes, NULL as <null>).
  std::string Query(const std::string& sql) const;
  // Copies the program into the site as qbcgi.exe (for runs as a process).
  std::string InstallProgram(const std::string& name = "qbcgi.exe") const;
  // The site's resident process (Output::kResident) and the store connection it keeps.
  qb::Host& ResidentHost() const { return host_; }
  qb::KeptStore& Resident() const { return *host_.Kept(); }
  const std::string& Server() const { return server_; }  // empty on SQLite

 private:
  std::string dir_;
  std::string schema_, server_;
  mutable qb::Host host_;
};

struct Call {
  std::map<std::string, std::string> env;
  std::string body;
  std::string dir = "";        // a process's working directory; "" for ours
  std::string name = "";       // the name a process is started by; "" for its path
  bool trickle = false;        // the body through a pipe in pieces, signals breaking into every wait
  qb::ServerWaits waits = {};  // how long the database server is waited on
  int daysLater = 0;           // the request's day, counted from the tests' today (kToday)
};
// A GET of `query`; a form POST of `body` to `query` (CONTENT_LENGTH its size).
Call Get(const std::string& query);
Call Post(const std::string& query, const std::string& body);

// Where the response goes: a CGI process's output of each kind, or the
// memory of the site's resident process, which keeps its store connection
// from one request to the next.
enum class Output { kFile, kAppendingFile, kPipe, kResident };

// Today as the in-process runs see it: 3/14/2026; and the time, noon UTC.
inline constexpr int kToday[3] = {2026, 3, 14};
inline constexpr long long kNow = 1773489600;

// The whole response of one request run in this process.
std::string RunRequest(const Site& site, const Call& call, Output output = Output::kFile);
// Everything `write` writes on an output of that kind.
std::string Capture(Output output, const std::function<void(int fd)>& write);

struct Exit {
  std::string output, errors;  // standard output and standard error
  int status = -1;             // exit status, -1 when killed
};
// Runs `program` as a process with `call`'s environment only, extra
// command-line words, optionally as another user (the caller being root).
Exit RunProcess(const std::string& program, const Call& call, Output output, const std::vector<std::string>& args = {},
                std::optional<std::pair<uid_t, gid_t>> user = std::nullopt);

// tests/golden/NAME, which QB_UPDATE_GOLDEN rewrites with `actual` first.
std::string Golden(const std::string& name, const std::string& actual);

std::string ReadAll(int fd);  // up to the end of its input
// The number and description of the QbError `f` raises; 0 and "" for none.
std::pair<int, std::string> Raised(const std::function<void()>& f);

}  // namespace qbtest
