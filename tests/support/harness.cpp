#include "support/harness.h"

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pthread.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "gateway/qb_error.h"
#include "program/run_main.h"
#include "storage/database.h"

namespace qbtest {

namespace fs = std::filesystem;
static const std::string kNone;

static std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

namespace {

// Runs `sql` on the tests' cluster as `server` connects: the last
// statement's rows, each a line of '|'-joined columns.
std::string PgQuery(const std::string& server, const std::string& sql) {
  PGconn* conn = PQconnectdb(server.c_str());
  PGresult* r = PQexec(conn, sql.c_str());
  std::string rows, error;
  if (PQresultStatus(r) != PGRES_TUPLES_OK && PQresultStatus(r) != PGRES_COMMAND_OK) error = PQerrorMessage(conn);
  for (int i = 0; i < PQntuples(r); ++i, rows += '\n') {
    for (int c = 0; c < PQnfields(r); ++c) {
      if (c) rows += '|';
      std::size_t size = 0;
      unsigned char* bytes =
          PQftype(r, c) == 17 ? PQunescapeBytea(reinterpret_cast<unsigned char*>(PQgetvalue(r, i, c)), &size) : nullptr;
      rows += PQgetisnull(r, i, c) ? "<null>"
              : bytes              ? std::string(reinterpret_cast<char*>(bytes), size)
                                   : PQgetvalue(r, i, c);
      PQfreemem(bytes);
    }
  }
  PQclear(r);
  PQfinish(conn);
  if (!error.empty()) throw std::runtime_error(error);
  return rows;
}

}  // namespace

const std::string& TestPostgres() {
  static const std::string server = [] {
    const std::string wanted = QB_TEST_POSTGRES;
    PGconn* conn = PQconnectdb(wanted.c_str());
    const bool up = PQstatus(conn) == CONNECTION_OK;
    PQfinish(conn);
    return up ? wanted : "";
  }();
  return server;
}

Site::Site(const std::string& config, const std::string& categories, const std::string& banners, Store store)
    : dir_([] {
        std::string pattern = (fs::temp_directory_path() / "qbsite.XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        return pattern;
      }()),
      host_(qb::ProgramLocation{dir_, "qbcgi.exe"}, true) {
  if (store != Store::kSqlite) {
    if (TestPostgres().empty()) throw std::runtime_error("the tests' PostgreSQL cluster does not run");
    schema_ = "site_";
    for (const char c : fs::path(dir_).extension().string().substr(1)) schema_ += std::to_string(static_cast<int>(c));
    PgQuery(TestPostgres(), "CREATE SCHEMA " + schema_);
    server_ = store == Store::kPostgresTls ? QB_TEST_POSTGRES_TLS : TestPostgres();
    server_ += " options='-c search_path=" + schema_ + "'";
  }
  Write("qbcgi.cfg", config);
  Write("cat.lst", categories);
  if (!banners.empty()) Write("qbban.cfg", banners);
}

Site::~Site() {
  if (!schema_.empty())
    PgQuery(TestPostgres(), "SET client_min_messages = warning; DROP SCHEMA " + schema_ + " CASCADE");
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

void Site::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream(Path(name), std::ios::binary | std::ios::trunc)
      << bytes << (name == "qbcgi.cfg" && !server_.empty() ? server_ + "\n" : "");
}

std::string Site::Read(const std::string& name) const { return ReadFile(Path(name)); }

namespace {

struct Db {
  explicit Db(const std::string& path, int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) {
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
      sqlite3_close(db);  // a failed open still allocates a handle
      throw std::runtime_error("cannot open " + path);
    }
    sqlite3_busy_timeout(db, 10000);
  }
  ~Db() { sqlite3_close(db); }
  void Check(int rc) const {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) throw std::runtime_error(sqlite3_errmsg(db));
  }
  sqlite3* db = nullptr;
};

int MemoryFile(const std::string& bytes) {
  const int fd = ::memfd_create("qbtest", 0);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("memfd failed");
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

}  // namespace

std::string ReadAll(int fd) {
  std::string all;
  char buffer[65536];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) all.append(buffer, static_cast<std::size_t>(n));
  return all;
}

std::pair<int, std::string> Raised(const std::function<void()>& f) {
  try {
    f();
  } catch (const qb::QbError& e) {
    return {e.Number(), e.Description()};
  }
  return {0, ""};
}

long long Site::Seed(const Ad& ad) const {
  if (!server_.empty()) {
    auto db = qb::Database::Open(qb::StoreLocation{Path("qb.db"), server_});
    auto table = db->OpenTable("QB");
    table->AddNew();
    for (const auto& [name, value] : {std::pair{"Item", &ad.Item},
                                      {"Name", &ad.Name},
                                      {"Email", &ad.Email},
                                      {"Price", &ad.Price},
                                      {"Desc", &ad.Desc},
                                      {"Phone", &ad.Phone},
                                      {"Category", &ad.Category},
                                      {"Expire", &ad.Expire},
                                      {"Date", &ad.Date},
                                      {"Password", &ad.Password},
                                      {"RemoteHost", &kNone},
                                      {"RemoteAddr", &kNone},
                                      {"RemoteUser", &kNone}})
      table->SetField(name, *value);
    table->Update();
    return std::stoll(Query("SELECT max(ID) FROM QB"));
  }
  Db d(Path("qb.db"));
  d.Check(sqlite3_exec(d.db,
                       "CREATE TABLE IF NOT EXISTS QB (ID INTEGER PRIMARY KEY AUTOINCREMENT, Item TEXT, Name TEXT, "
                       "Email TEXT, Price TEXT, \"Desc\" TEXT, Phone TEXT, Category TEXT, Expire TEXT, Date TEXT, "
                       "Password TEXT, RemoteHost TEXT, RemoteAddr TEXT, RemoteUser TEXT)",
                       nullptr, nullptr, nullptr));
  sqlite3_stmt* st = nullptr;
  d.Check(sqlite3_prepare_v2(d.db,
                             "INSERT INTO QB (Item, Name, Email, Price, \"Desc\", Phone, Category, Expire, Date, "
                             "Password, RemoteHost, RemoteAddr, RemoteUser) VALUES (?,?,?,?,?,?,?,?,?,?,'','','')",
                             -1, &st, nullptr));
  const std::string* values[] = {&ad.Item,  &ad.Name,     &ad.Email,  &ad.Price, &ad.Desc,
                                 &ad.Phone, &ad.Category, &ad.Expire, &ad.Date,  &ad.Password};
  for (int i = 0; i < 10; ++i)
    sqlite3_bind_text(st, i + 1, values[i]->data(), static_cast<int>(values[i]->size()), SQLITE_TRANSIENT);
  const int rc = sqlite3_step(st);
  sqlite3_finalize(st);
  d.Check(rc);
  return sqlite3_last_insert_rowid(d.db);
}

std::string Site::Query(const std::string& sql) const {
  if (!server_.empty()) return PgQuery(server_, sql);
  Db d(Path("qb.db"), SQLITE_OPEN_READWRITE);
  std::string rows;
  for (const char* next = sql.c_str(); *next != '\0';) {
    sqlite3_stmt* st = nullptr;
    d.Check(sqlite3_prepare_v2(d.db, next, -1, &st, &next));
    while (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
        if (c) rows += '|';
        rows.append(text ? text : "<null>", text ? static_cast<std::size_t>(sqlite3_column_bytes(st, c)) : 6);
      }
      rows += '\n';
    }
    sqlite3_finalize(st);
  }
  return rows;
}

std::string Site::InstallProgram(const std::string& name) const {
  fs::copy_file(QBCGI_PATH, Path(name), fs::copy_options::overwrite_existing);
  return Path(name);
}

Call Get(const std::string& query) {
  return {{{"REQUEST_METHOD", "GET"},
           {"QUERY_STRING", query},
           {"SCRIPT_NAME", "/cgi-bin/qbcgi.exe"},
           {"GATEWAY_INTERFACE", "CGI/1.1"},
           {"REMOTE_ADDR", "127.0.0.1"}},
          ""};
}

Call Post(const std::string& query, const std::string& body) {
  Call call = Get(query);
  call.env["REQUEST_METHOD"] = "POST";
  call.env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
  call.env["CONTENT_LENGTH"] = std::to_string(body.size());
  call.body = body;
  return call;
}

namespace {

// The body on a memory file, or trickled through a pipe; the output on
// another or on a pipe whose other end a thread drains; Finish() gives
// everything written.
class Streams {
 public:
  Streams(const Call& call, Output output) : in(call.trickle ? Trickle(call.body) : MemoryFile(call.body)) {
    if (output != Output::kPipe) {
      out[1] = MemoryFile("");
      if (output == Output::kAppendingFile) ::fcntl(out[1], F_SETFL, O_APPEND);
    } else {
      if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
      reader_ = std::thread([this] { piped_ = ReadAll(out[0]); });
    }
  }
  std::string Finish() {
    answered_ = true;
    if (writer_.joinable()) writer_.join();
    ::close(in);
    if (reader_.joinable()) {
      ::close(out[1]);
      reader_.join();
      ::close(out[0]);
      return piped_;
    }
    ::lseek(out[1], 0, SEEK_SET);
    std::string written = ReadAll(out[1]);
    ::close(out[1]);
    return written;
  }
  std::atomic<bool> answered_{false};
  std::thread writer_;
  int in;
  int out[2] = {-1, -1};

 private:
  // 500 bytes at a time, while SIGUSR1, which interrupts a waiting read
  // rather than restarting it, comes to this thread every 0.2 ms.
  int Trickle(const std::string& body) {
    int p[2];
    struct sigaction quiet {};
    quiet.sa_handler = [](int) {};
    if (::pipe(p) != 0 || ::sigaction(SIGUSR1, &quiet, nullptr) != 0) throw std::runtime_error("pipe failed");
    writer_ = std::thread([this, body, fd = p[1], reader = ::pthread_self()] {
      sigset_t usr1;
      sigemptyset(&usr1);
      sigaddset(&usr1, SIGUSR1);
      ::pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
      bool open = true;
      for (std::size_t tick = 1, at = 0; !answered_;
           ++tick, std::this_thread::sleep_for(std::chrono::microseconds(200))) {
        ::pthread_kill(reader, SIGUSR1);
        if (tick % 25 != 0 || !open) continue;
        if (at < body.size() && ::write(fd, body.data() + at, std::min<std::size_t>(500, body.size() - at)) > 0) {
          at += 500;
        } else {  // the end, or a failed write: the body ends here
          ::close(fd);
          open = false;
        }
      }
      if (open) ::close(fd);
    });
    return p[0];
  }
  std::thread reader_;
  std::string piped_;
};

}  // namespace

std::string RunRequest(const Site& site, const Call& call, Output output) {
  Streams streams(call, output == Output::kResident ? Output::kFile : output);
  const qb::EnvLookup env = [&call](const char* name) -> const char* {
    auto it = call.env.find(name);
    return it == call.env.end() ? nullptr : it->second.c_str();
  };
  const auto run = [&call](qb::Host& host, qb::Request&& req) {
    host.storeWaits = call.waits;
    host.today = [day = kToday[2] + call.daysLater] { return qb::CivilDate{kToday[0], kToday[1], day}; };
    host.now = [] { return kNow; };
    qb::RunMain(req);
    return std::string(req.out.Held());
  };
  if (output != Output::kResident) {
    qb::Host cgi(qb::ProgramLocation{site.Dir(), "qbcgi.exe"}, false);
    run(cgi, qb::Request(cgi, qb::ReadBodyFrom(streams.in), env, streams.out[1]));
    return streams.Finish();
  }
  qb::Host& resident = site.ResidentHost();
  const std::string held = run(resident, qb::Request(resident, qb::ReadBodyFrom(streams.in), env, qb::HoldWhole{}));
  streams.Finish();
  return held;
}

std::string Capture(Output output, const std::function<void(int fd)>& write) {
  Streams streams(Call{}, output);
  write(streams.out[1]);
  return streams.Finish();
}

Exit RunProcess(const std::string& program, const Call& call, Output output, const std::vector<std::string>& args,
                std::optional<std::pair<uid_t, gid_t>> user) {
  std::vector<std::string> strings{call.name.empty() ? program : call.name};
  strings.insert(strings.end(), args.begin(), args.end());
  const std::size_t argc = strings.size();
  for (const auto& [k, v] : call.env) strings.push_back(k + "=" + v);
  std::vector<char*> argv, envp;
  for (std::size_t i = 0; i < strings.size(); ++i) (i < argc ? argv : envp).push_back(strings[i].data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  Streams streams(call, output);
  const int errors = MemoryFile("");
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::dup2(streams.in, 0) < 0 || ::dup2(streams.out[1], 1) < 0 || ::dup2(errors, 2) < 0) ::_exit(126);
    if (!call.dir.empty() && ::chdir(call.dir.c_str()) != 0) ::_exit(126);
    if (user && (::setgroups(0, nullptr) != 0 || ::setgid(user->second) != 0 || ::setuid(user->first) != 0))
      ::_exit(126);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  int status = 0;
  if (output != Output::kPipe) ::waitpid(pid, &status, 0);
  Exit result;
  result.output = streams.Finish();
  if (output == Output::kPipe) ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  ::lseek(errors, 0, SEEK_SET);
  result.errors = ReadAll(errors);
  ::close(errors);
  return result;
}

std::string Golden(const std::string& name, const std::string& actual) {
  const std::string path = std::string(QB_GOLDEN_DIR) + "/" + name;
  if (std::getenv("QB_UPDATE_GOLDEN")) std::ofstream(path, std::ios::binary | std::ios::trunc) << actual;
  return ReadFile(path);
}

}  // namespace qbtest
