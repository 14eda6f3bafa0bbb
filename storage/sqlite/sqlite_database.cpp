#include "storage/sqlite/sqlite_database.h"

#include <sqlite3.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>
#include <variant>

#include "gateway/ascii_text.h"
#include "gateway/qb_error.h"
#include "storage/ad_record.h"
#include "storage/pending_change.h"
#include "storage/sqlite/sqlite_helpers.h"
#include "storage/sqlite/sqlite_schema.h"
#include "storage/sqlite/sqlite_statements.h"
#include "storage/sqlite/write_turn.h"

namespace qb {
namespace {

// How long a request waits for another's lock before it gives up: far longer
// than any single write takes, even on a slow disk.
constexpr auto kBusyTimeout = std::chrono::seconds(15);
// How long a write that can be put off waits for SQLite's lock once no other
// writer is queued: time for readers to finish their reads, not for a writer.
constexpr auto kPutOffPatience = std::chrono::milliseconds(100);

// Waits for a lock that another process holds. Writers queue for their turn
// first (write_turn.h), so what is left to wait for here is a reader, or the
// one writer whose turn it is, and that wait is short. SQLite's own busy
// timeout backs off to 100 ms sleeps, so a request that has waited a while
// loses the lock to every newcomer that polls at 1 ms. Polling every 0.5 to
// 2.5 ms, with jitter, gives every waiter the same chance at each release.
struct BusyWait {
  std::chrono::steady_clock::time_point since;
  // When the writer now stepping began to wait for its turn: its wait here
  // counts from then, so queue and lock together stay within the timeout.
  std::optional<std::chrono::steady_clock::time_point> turnSince;
  std::chrono::steady_clock::duration patience = kBusyTimeout;
  std::uint32_t random;
};

int WaitForLock(void* context, int attempts) {
  auto* wait = static_cast<BusyWait*>(context);
  const auto now = std::chrono::steady_clock::now();
  if (attempts == 0) wait->since = wait->turnSince.value_or(now);
  if (now - wait->since >= wait->patience) return 0;
  wait->random ^= wait->random << 13;
  wait->random ^= wait->random >> 17;
  wait->random ^= wait->random << 5;
  ::usleep(500 + wait->random % 2000);
  return 1;
}

// The text of column `i` of the current row; valid until the statement steps
// or resets. NULL reads as empty text.
std::string_view ColumnText(sqlite3_stmt* stmt, int i) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
  if (text == nullptr) return {};
  return {text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, i))};
}

QbError FieldNotFound(std::string_view name) {
  return QbError(kErrItemNotFound, "Field " + std::string(name) + " not found");
}

QbError NoCurrentRecord() { return QbError(kErrNoCurrentRecord, "No current record"); }

}  // namespace

// What a Database shares with the statements and recordsets made from it.
// They may outlive it (the request's slots are destroyed in any order), so
// they hold this rather than the Database. After Close the handle is a zombie
// that SQLite frees when the last statement is finalized: good for nothing
// else, which Use() enforces.
class Connection {
 public:
  Connection(sqlite3* handle, const std::string& path, std::string displayName)
      : handle_(handle), displayName_(std::move(displayName)), turn_(path + ".lock") {
    busyWait.random = static_cast<std::uint32_t>(::getpid()) * 2654435761u | 1u;
  }

  // The lock wait's state; the handle's busy handler points here while
  // this object owns the handle (see the Database constructor).
  BusyWait busyWait{};

  sqlite3* Use() const {
    if (!open_) throw QbError(kErrObjectClosed, "The database " + displayName_ + " is closed");
    return handle_;
  }
  bool IsOpen() const { return open_; }

  // One step of `stmt`. A statement that writes first waits for this
  // connection's turn among the store's writers, which it keeps until the
  // write, or the transaction it opened, is over.
  int Step(sqlite3_stmt* stmt) {
    if (!sqlite3_stmt_readonly(stmt)) WaitForTurn();
    const int rc = sqlite3_step(stmt);
    GiveTurnOutsideTransaction();
    return rc;
  }

  // One step of `stmt`, a write that can be put off: taken only when no other
  // writer holds or waits for its turn, and given up (SQLITE_BUSY, nothing
  // changed) when SQLite's lock is not had within kPutOffPatience.
  int StepWhenFree(sqlite3_stmt* stmt) {
    if (!TakeTurnIfIdle()) return SQLITE_BUSY;
    busyWait.patience = kPutOffPatience;
    const int rc = sqlite3_step(stmt);
    busyWait.patience = kBusyTimeout;
    GiveTurnOutsideTransaction();
    return rc;
  }

  // Runs `sql`, a statement that opens or ends a write transaction, in turn
  // with the store's other writers: BEGIN IMMEDIATE takes SQLite's write lock
  // at once, so it waits for this connection's turn first (SQLite counts it
  // as a statement that reads, so Step would not queue it); COMMIT and
  // ROLLBACK give the turn back once the transaction is over.
  int RunTransactionStatement(const char* sql) {
    WaitForTurn();
    const int rc = sqlite3_exec(Use(), sql, nullptr, nullptr, nullptr);
    GiveTurnOutsideTransaction();
    return rc;
  }

  // Closes this object, but not SQLite's connection, which the caller
  // closes or keeps. Statements still held by queries or recordsets are
  // reset, so that the connection holds no lock meanwhile; they keep it
  // alive, as a zombie when it is closed, until they are finalized.
  void Detach() noexcept {
    for (sqlite3_stmt* s = sqlite3_next_stmt(handle_, nullptr); s != nullptr; s = sqlite3_next_stmt(handle_, s)) {
      sqlite3_reset(s);
    }
    GiveTurn();
    open_ = false;
  }
  // "<what> in qb.db", the start of an error description.
  std::string Context(std::string_view what) const { return std::string(what) + " in " + displayName_; }
  QbError Error(int rc, std::string_view what) const { return StoreError(handle_, rc, Context(what)); }

 private:
  // Waits for this connection's turn among the store's writers, unless it
  // holds it already. A connection that holds a read lock does not queue:
  // the writer whose turn it is may be waiting for that lock to go. Nor does
  // one whose store is read-only: its write fails.
  void WaitForTurn() {
    if (turn_.Held() || sqlite3_txn_state(handle_, nullptr) != SQLITE_TXN_NONE ||
        sqlite3_db_readonly(handle_, "main") == 1) {
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    busyWait.turnSince = now;
    turn_.Take(now + kBusyTimeout);
  }
  // WaitForTurn for a write that does not wait: false when another writer
  // holds or waits for a turn.
  bool TakeTurnIfIdle() {
    if (turn_.Held() || sqlite3_txn_state(handle_, nullptr) != SQLITE_TXN_NONE ||
        sqlite3_db_readonly(handle_, "main") == 1) {
      return true;
    }
    return turn_.TakeIfIdle();
  }
  void GiveTurnOutsideTransaction() noexcept {
    if (sqlite3_get_autocommit(handle_) != 0) GiveTurn();
  }
  void GiveTurn() noexcept {
    turn_.Give();
    busyWait.turnSince.reset();
  }

  sqlite3* handle_;
  std::string displayName_;
  WriteTurn turn_;
  bool open_ = true;
};

// A prepared statement shared by a QueryDef and the recordsets it opened;
// finalized when the last of them lets go. Each run (reset) gets a number so
// that a recordset notices when its query was run again under it.
class PreparedQuery {
 public:
  // With `kept`, the statement goes back to it for reuse when released.
  PreparedQuery(std::shared_ptr<Connection> conn, StmtHandle stmt, KeptStore* kept = nullptr, std::string_view sql = {})
      : conn_(std::move(conn)), stmt_(std::move(stmt)), kept_(kept), sql_(kept != nullptr ? sql : "") {}
  ~PreparedQuery() {
    if (SqliteKept* kept = kept_ != nullptr ? kept_->Find<SqliteKept>() : nullptr) {
      kept->KeepStatement(std::move(sql_), stmt_.release());
    }
  }
  PreparedQuery(const PreparedQuery&) = delete;
  PreparedQuery& operator=(const PreparedQuery&) = delete;

  sqlite3_stmt* Get() const { return stmt_.get(); }
  KeptStore* Kept() const { return kept_; }
  Connection& Conn() const { return *conn_; }
  const std::shared_ptr<Connection>& SharedConn() const { return conn_; }
  std::uint64_t Run() const { return run_; }
  // Ends the current run, releasing its read lock, and starts a new one.
  void Restart() noexcept {
    sqlite3_reset(stmt_.get());
    ++run_;
  }

 private:
  std::shared_ptr<Connection> conn_;
  StmtHandle stmt_;
  KeptStore* kept_;
  std::string sql_;
  std::uint64_t run_ = 0;
};

namespace {

// Runs an INSERT or UPDATE of table QB with the pending field values bound in
// order (and `id` after them) and returns the number of rows changed.
long long WriteRow(Connection& conn, const std::string& sql, const std::vector<std::pair<int, std::string>>& values,
                   std::optional<std::int64_t> id, std::string_view what) {
  sqlite3* db = conn.Use();
  const StmtHandle stmt = PrepareStatement(db, sql, conn.Context(what));
  int rc = SQLITE_OK;
  int index = 0;
  for (const auto& [column, value] : values) {
    rc = sqlite3_bind_text64(stmt.get(), ++index, value.data(), value.size(), SQLITE_STATIC, SQLITE_UTF8);
    if (rc != SQLITE_OK) break;
  }
  if (rc == SQLITE_OK && id) rc = sqlite3_bind_int64(stmt.get(), ++index, *id);
  if (rc == SQLITE_OK) rc = conn.Step(stmt.get());
  if (rc != SQLITE_DONE) throw conn.Error(rc, what);
  return sqlite3_changes64(db);
}

// Column names are always quoted: Desc is an SQL keyword.
std::string QuotedColumn(int column) {
  std::string quoted(1, '"');
  quoted.append(kAdColumns[column]).push_back('"');
  return quoted;
}

}  // namespace

// ---------------------------------------------------------------- Database

SqliteDatabase::SqliteDatabase(sqlite3* db, std::string path, std::string displayName, KeptStore* kept,
                               SqliteKept::FileIdentity file)
    : db_(db),
      conn_(std::make_shared<Connection>(db, path, displayName)),
      path_(std::move(path)),
      displayName_(std::move(displayName)),
      keptStore_(kept),
      file_(file) {
  // The handler's state lives in this Database's connection object; a
  // reopened handle is pointed at its new one, so the handler never reads the
  // state of an object that may be gone.
  if (db != nullptr) sqlite3_busy_handler(db, WaitForLock, &conn_->busyWait);
}

SqliteDatabase::~SqliteDatabase() {
  if (db_ != nullptr) {
    conn_->Detach();
    Release(db_);
  }
  if (kept_ != nullptr) Release(kept_);
}

void SqliteDatabase::Release(sqlite3* handle) noexcept {
  if (SqliteKept* kept = keptStore_ != nullptr ? keptStore_->Find<SqliteKept>() : nullptr) {
    kept->Keep(handle, path_, file_);
  } else {
    sqlite3_close_v2(handle);
  }
}

std::unique_ptr<Database> OpenSqliteStore(const StoreLocation& where, KeptStore* kept) {
  struct stat st {};
  if (!where.mayCreate && ::stat(where.file.c_str(), &st) != 0 && errno == ENOENT) {
    throw QbError(kErrFileNotFound, where.fileName + " does not exist: the board has stored no ads yet");
  }
  return SqliteDatabase::Open(where.file, where.fileName, kept);
}

std::string SqliteStoreLabel(const StoreLocation& where) {
  const std::size_t slash = where.file.rfind('/');
  return slash == std::string::npos ? where.file : where.file.substr(slash + 1);
}

std::unique_ptr<SqliteDatabase> SqliteDatabase::Open(const std::string& path, const std::string& displayName,
                                                     KeptStore* kept) {
  const std::string context = "The ad store " + displayName + " could not be opened";
  SqliteKept::FileIdentity file;
  if (kept != nullptr) {
    SqliteKept& connections = kept->Use<SqliteKept>();
    if (sqlite3* handle = connections.Take(path, file)) {
      std::unique_ptr<SqliteDatabase> db(new SqliteDatabase(handle, path, displayName, kept, file));
      // Another program may have put an older store in its place, if any
      // other connection has written to the store since the last check.
      db->openStamp_ = db->ReadStamp();
      if (!db->openStamp_ || !connections.SchemaCurrentAt(handle, db->openStamp_->others)) {
        schema::EnsureCurrent(handle, context);
        if (db->openStamp_) connections.SchemaFoundCurrent(handle, db->openStamp_->others);
      }
      return db;
    }
  }
  // SQLite's memory statistics, which nothing here reads, take a global
  // mutex at every allocation (a tenth of a CGI listing's instructions). They
  // can only be switched off before SQLite sets itself up, so this is done
  // at the process's first open; later it is refused, harmlessly.
  static const bool kNoMemoryStatistics = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
  (void)kNoMemoryStatistics;
  sqlite3* handle = nullptr;
  // A connection is only ever used by the thread that opened it, so it does
  // without SQLite's per-connection mutex (taken at every column read).
  const int rc =
      sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  // Owning the handle at once closes it again on any failure below.
  std::unique_ptr<SqliteDatabase> db(new SqliteDatabase(handle, path, displayName, kept, file));
  if (rc != SQLITE_OK) throw StoreError(handle, rc, context);

  // The store keeps SQLite's default rollback journal rather than WAL: setting
  // up WAL costs each process about 0.3-0.4 ms, a large share of a request of
  // about 1 ms, and the board is read far more often than written. Waiting
  // for locks makes concurrent writers queue instead of failing, so no ad is
  // lost (the Database constructor installs the lock wait).
  schema::RegisterFunctions(handle, context);
  schema::EnsureCurrent(handle, context);
  return db;
}

std::unique_ptr<Recordset> SqliteDatabase::OpenTable(std::string_view name) {
  conn_->Use();
  if (!EqualsIgnoreCase(name, "QB")) {
    throw QbError(kErrItemNotFound, conn_->Context("Table " + std::string(name) + " not found"));
  }
  return std::unique_ptr<Recordset>(new SqliteRecordset(conn_));
}

namespace {

// `sql` prepared on `conn`, or taken from the statements `keptStore` holds.
std::shared_ptr<PreparedQuery> Prepare(const std::shared_ptr<Connection>& conn, KeptStore* keptStore,
                                       std::string_view sql) {
  sqlite3* db = conn->Use();
  SqliteKept* kept = keptStore != nullptr ? keptStore->Find<SqliteKept>() : nullptr;
  StmtHandle stmt(kept != nullptr ? kept->TakeStatement(db, sql) : nullptr);
  if (stmt == nullptr) stmt = PrepareStatement(db, sql, conn->Context("Preparing a query"));
  return std::make_shared<PreparedQuery>(conn, std::move(stmt), keptStore, sql);
}

}  // namespace

std::unique_ptr<QueryDef> SqliteDatabase::CreateQueryDef(std::string_view sql) {
  return std::unique_ptr<QueryDef>(new SqliteQueryDef(Prepare(conn_, keptStore_, sql)));
}

namespace {

// Binds `values` to the parameters ?1, ?2... of `stmt` (as far as it has
// them); SQLite's result code.
int BindValues(sqlite3_stmt* stmt, std::span<const SqlValue> values) {
  const int count = std::min(sqlite3_bind_parameter_count(stmt), static_cast<int>(values.size()));
  int rc = SQLITE_OK;
  for (int i = 0; i < count && rc == SQLITE_OK; ++i) {
    const SqlValue& value = values[static_cast<std::size_t>(i)];
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
      rc = sqlite3_bind_int64(stmt, i + 1, *number);
    } else if (const auto* text = std::get_if<std::string_view>(&value)) {
      rc = sqlite3_bind_text64(stmt, i + 1, text->data(), text->size(), SQLITE_STATIC, SQLITE_UTF8);
    } else {
      rc = sqlite3_bind_null(stmt, i + 1);
    }
  }
  return rc;
}

}  // namespace

std::unique_ptr<QueryDef> SqliteDatabase::CreateQueryDef(Statement statement) {
  const std::string_view sql = SqliteText(statement);
  return std::unique_ptr<QueryDef>(new SqliteQueryDef(Prepare(conn_, keptStore_, sql), statement, sql));
}

std::int64_t SqliteDatabase::RunStatement(Statement statement, std::span<const SqlValue> values) {
  return RunSql(SqliteText(statement), values);
}

void SqliteDatabase::ForEachRow(Statement statement, std::span<const SqlValue> values,
                                const std::function<void(SqlRow)>& row) {
  ForEachRowOfSql(SqliteText(statement), values, row);
}

std::int64_t SqliteDatabase::RunSql(std::string_view sql, std::span<const SqlValue> values) {
  sqlite3* db = conn_->Use();
  const StmtHandle stmt = PrepareStatement(db, sql, conn_->Context("Running a statement"));
  int rc = BindValues(stmt.get(), values);
  if (rc == SQLITE_OK) rc = conn_->Step(stmt.get());
  if (rc == SQLITE_ROW) return sqlite3_column_int64(stmt.get(), 0);
  if (rc != SQLITE_DONE) throw conn_->Error(rc, "Running a statement");
  return 0;
}

void SqliteDatabase::ForEachRowOfSql(std::string_view sql, std::span<const SqlValue> values,
                                     const std::function<void(SqlRow)>& row) {
  sqlite3* db = conn_->Use();
  const StmtHandle stmt = PrepareStatement(db, sql, conn_->Context("Running a statement"));
  int rc = BindValues(stmt.get(), values);
  // The rows are copied out first, so that no read is open while the caller works.
  std::vector<std::vector<std::optional<std::string>>> rows;
  const int columns = sqlite3_column_count(stmt.get());
  while (rc == SQLITE_OK || rc == SQLITE_ROW) {
    rc = conn_->Step(stmt.get());
    if (rc != SQLITE_ROW) break;
    auto& copy = rows.emplace_back(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) {
      if (sqlite3_column_type(stmt.get(), c) != SQLITE_NULL)
        copy[static_cast<std::size_t>(c)] = ColumnText(stmt.get(), c);
    }
  }
  if (rc != SQLITE_DONE) throw conn_->Error(rc, "Running a statement");
  sqlite3_reset(stmt.get());
  std::vector<std::optional<std::string_view>> views(static_cast<std::size_t>(columns));
  for (const auto& copy : rows) {
    std::ranges::transform(copy, views.begin(), [](const auto& text) {
      return text ? std::optional<std::string_view>(*text) : std::nullopt;
    });
    row(views);
  }
}

void SqliteDatabase::BeginWrite() {
  const int rc = conn_->RunTransactionStatement("BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) throw StoreError(db_, rc, "Locking the ad store");
}

void SqliteDatabase::CommitWrite() {
  const int rc = conn_->RunTransactionStatement("COMMIT");
  if (rc != SQLITE_OK) throw StoreError(db_, rc, "Storing a change");
}

void SqliteDatabase::RollbackWrite() noexcept {
  // A database closed meanwhile has rolled back already.
  if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) conn_->RunTransactionStatement("ROLLBACK");
}

std::optional<StoreStamp> SqliteDatabase::ChangeStamp() {
  sqlite3* db = conn_->Use();
  if (openStamp_ && openStamp_->own == sqlite3_total_changes64(db) && sqlite3_get_autocommit(db) != 0) {
    return openStamp_;
  }
  return ReadStamp();
}

std::optional<StoreStamp> SqliteDatabase::ReadStamp() {
  sqlite3* db = conn_->Use();
  SqliteKept* kept = keptStore_ != nullptr ? keptStore_->Find<SqliteKept>() : nullptr;
  const std::optional<std::uint64_t> number = kept != nullptr ? kept->Number(db) : std::nullopt;
  if (!number || sqlite3_get_autocommit(db) == 0) return std::nullopt;
  // SQLite's data version moves when another connection, of this process or
  // any other, commits to the file; it never moves for this connection's
  // own changes, which its change count gives. The pragma is kept prepared.
  static constexpr std::string_view kDataVersion = "PRAGMA data_version";
  StmtHandle stmt(kept->TakeStatement(db, kDataVersion));
  if (stmt == nullptr) stmt = PrepareStatement(db, kDataVersion, conn_->Context("Reading the store's version"));
  std::optional<StoreStamp> stamp;
  if (conn_->Step(stmt.get()) == SQLITE_ROW) {
    stamp = StoreStamp{*number, sqlite3_column_int64(stmt.get(), 0), sqlite3_total_changes64(db)};
  }
  kept->KeepStatement(std::string(kDataVersion), stmt.release());
  return stamp;
}

void SqliteDatabase::Close() {
  conn_->Use();
  conn_->Detach();
  Release(std::exchange(db_, nullptr));
}

void SqliteDatabase::CloseKeepingConnection() {
  conn_->Use();
  conn_->Detach();
  kept_ = std::exchange(db_, nullptr);
}

std::unique_ptr<Database> SqliteDatabase::Reopen() {
  if (db_ != nullptr) throw QbError(kErrInvalidArgument, "Reopen needs a closed database");
  if (kept_ == nullptr) return Open(path_, displayName_, keptStore_);
  // Functions, busy timeout and schema check were applied when it was opened.
  return std::unique_ptr<Database>(
      new SqliteDatabase(std::exchange(kept_, nullptr), path_, displayName_, keptStore_, file_));
}

// ---------------------------------------------------------------- QueryDef

SqliteQueryDef::SqliteQueryDef(std::shared_ptr<PreparedQuery> stmt, std::optional<Statement> statement,
                               std::string_view sql)
    : stmt_(std::move(stmt)), statement_(statement), sql_(sql) {}

SqliteQueryDef::~SqliteQueryDef() = default;

PreparedQuery& SqliteQueryDef::Use() const {
  if (!open_) throw QbError(kErrObjectClosed, "The query is already closed");
  stmt_->Conn().Use();
  return *stmt_;
}

void SqliteQueryDef::SetParameter(std::string_view name, std::string_view value) {
  Use();
  if (const std::string_view sql = statement_ ? SqliteText(*statement_, name, value) : sql_; sql != sql_) {
    // The value wants the statement's other text: it takes over the values
    // set so far, and recordsets of the old one see their query run again.
    std::shared_ptr<PreparedQuery> other = Prepare(stmt_->SharedConn(), stmt_->Kept(), sql);
    stmt_->Restart();
    const int rc = sqlite3_transfer_bindings(stmt_->Get(), other->Get());
    if (rc != SQLITE_OK) throw stmt_->Conn().Error(rc, "Setting parameter " + std::string(name));
    stmt_ = std::move(other);
    sql_ = sql;
  }
  PreparedQuery& stmt = *stmt_;
  std::string key(1, ':');
  key.append(name);
  const int index = sqlite3_bind_parameter_index(stmt.Get(), key.c_str());
  if (index == 0) {
    throw QbError(kErrItemNotFound, "Parameter " + std::string(name) + " not found in query");
  }
  stmt.Restart();  // a statement takes new values only between runs
  const int rc = sqlite3_bind_text64(stmt.Get(), index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  if (rc != SQLITE_OK) throw stmt.Conn().Error(rc, "Setting parameter " + std::string(name));
}

std::unique_ptr<Recordset> SqliteQueryDef::OpenRecordset() {
  Use().Restart();
  std::unique_ptr<SqliteRecordset> rs(new SqliteRecordset(stmt_));
  rs->Step();
  return rs;
}

int SqliteQueryDef::Run(bool whenFree) {
  PreparedQuery& stmt = Use();
  if (sqlite3_column_count(stmt.Get()) > 0) {
    throw QbError(kErrInvalidArgument, "Execute runs only queries that return no rows; use OpenRecordset");
  }
  stmt.Restart();
  const int rc = whenFree ? stmt.Conn().StepWhenFree(stmt.Get()) : stmt.Conn().Step(stmt.Get());
  if (rc == SQLITE_DONE) rowsAffected_ = sqlite3_changes64(sqlite3_db_handle(stmt.Get()));
  stmt.Restart();
  return rc;
}

void SqliteQueryDef::Execute() {
  const int rc = Run();
  if (rc != SQLITE_DONE) throw stmt_->Conn().Error(rc, "Running a query");
}

QueryDef::Deferred SqliteQueryDef::ExecuteWhenFree() {
  const int rc = Run(true);
  if (rc == SQLITE_DONE) return Deferred::kDone;
  if ((rc & 0xff) == SQLITE_BUSY) return Deferred::kOthersWriting;
  QbError error = stmt_->Conn().Error(rc, "Running a query");
  if (CannotWriteStore(error)) return Deferred::kCannotWrite;
  throw error;
}

void SqliteQueryDef::Close() {
  if (!open_) throw QbError(kErrObjectClosed, "The query is already closed");
  open_ = false;
  stmt_.reset();
}

// ---------------------------------------------------------------- Recordset

SqliteRecordset::SqliteRecordset(std::shared_ptr<PreparedQuery> stmt)
    : conn_(stmt->SharedConn()), stmt_(std::move(stmt)), run_(stmt_->Run()) {}

SqliteRecordset::SqliteRecordset(std::shared_ptr<Connection> conn) : conn_(std::move(conn)) {}

SqliteRecordset::~SqliteRecordset() { Release(); }

void SqliteRecordset::Release() noexcept {
  // A result still reading its run holds the connection's read lock; give it
  // back (unless the connection is already closed, which released it).
  if (stmt_ && held_.empty() && !eof_ && stmt_->Run() == run_ && conn_->IsOpen()) stmt_->Restart();
  stmt_.reset();
  held_.clear();
  eof_ = true;
}

void SqliteRecordset::Step() {
  const int rc = sqlite3_step(stmt_->Get());
  eof_ = rc != SQLITE_ROW;
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) return;  // DONE leaves no lock held
  const QbError error = conn_->Error(rc, "Reading ads");
  stmt_->Restart();
  throw error;
}

void SqliteRecordset::RequireOpen() const {
  if (!open_) throw QbError(kErrObjectClosed, "The recordset is already closed");
  conn_->Use();
}

void SqliteRecordset::RequireRow() const {
  RequireOpen();
  if (eof_) throw NoCurrentRecord();
  if (held_.empty() && stmt_->Run() != run_) {
    throw QbError(kErrObjectClosed, "The recordset was closed when its query ran again");
  }
}

bool SqliteRecordset::Eof() const { return eof_; }

void SqliteRecordset::MoveNext() {
  RequireRow();
  if (!held_.empty()) {
    throw QbError(kErrInvalidArgument, "A recordset cannot move on after an Update; run the query again");
  }
  change_.Start(PendingChange::Mode::kNone);
  Step();
}

int SqliteRecordset::Column(std::string_view name) const {
  if (columns_.empty()) {
    const int count = sqlite3_column_count(stmt_->Get());
    columns_.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) columns_.emplace_back(sqlite3_column_name(stmt_->Get(), i));
  }
  // Pages ask for the same few fields, by the same literal names, on every
  // row: a name asked for before is tried at the column it was found in.
  for (const auto& [data, index] : recent_) {
    if (data == name.data() && columns_[static_cast<std::size_t>(index)] == name) return index;
  }
  // Names are nearly always written as the table spells them: look for the
  // exact name first, then without regard to case.
  int found = -1;
  for (std::size_t i = 0; i < columns_.size() && found < 0; ++i) {
    if (columns_[i] == name) found = static_cast<int>(i);
  }
  if (found >= 0) {
    if (recent_.size() < kRecentNames) recent_.emplace_back(name.data(), found);
    return found;
  }
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (EqualsIgnoreCase(columns_[i], name)) return static_cast<int>(i);
  }
  return -1;
}

std::string_view SqliteRecordset::Field(std::string_view name) const {
  RequireRow();
  if (held_.empty()) {
    const int i = Column(name);
    if (i >= 0) return ColumnText(stmt_->Get(), i);
  } else {
    for (const auto& [column, value] : held_) {
      if (EqualsIgnoreCase(column, name)) return value;
    }
  }
  throw FieldNotFound(name);
}

int SqliteRecordset::FieldColumn(std::string_view name) const {
  RequireOpen();
  const int column = stmt_ ? Column(name) : -1;
  if (column < 0) throw FieldNotFound(name);
  return column;
}

std::string_view SqliteRecordset::FieldAt(int column) const {
  RequireRow();
  if (column < 0 || column >= sqlite3_column_count(stmt_->Get())) throw FieldNotFound(std::to_string(column));
  // An updated row is held in the result's column order.
  return held_.empty() ? ColumnText(stmt_->Get(), column) : held_[static_cast<std::size_t>(column)].second;
}

bool SqliteRecordset::FieldIsNull(std::string_view name) const {
  RequireRow();
  if (held_.empty()) {
    const int i = Column(name);
    if (i >= 0) return sqlite3_column_type(stmt_->Get(), i) == SQLITE_NULL;
  } else {
    for (const auto& held : held_) {
      if (EqualsIgnoreCase(held.first, name)) return false;  // an updated row holds text
    }
  }
  throw FieldNotFound(name);
}

void SqliteRecordset::AddNew() {
  RequireOpen();
  if (stmt_) throw QbError(kErrInvalidArgument, "AddNew needs a recordset opened with OpenTable");
  change_.Start(PendingChange::Mode::kAdding);
}

void SqliteRecordset::Edit() {
  RequireRow();
  if (held_.empty()) {
    const int i = Column("ID");
    if (i < 0) throw QbError(kErrItemNotFound, "Field ID not found: Edit needs it in the query");
    editId_ = sqlite3_column_int64(stmt_->Get(), i);
  }
  change_.Start(PendingChange::Mode::kEditing);
}

void SqliteRecordset::SetField(std::string_view name, std::string_view value) {
  RequireOpen();
  change_.Set(name, value);
}

void SqliteRecordset::Update() {
  if (change_.Current() == PendingChange::Mode::kEditing) {
    RequireRow();  // the row edited is still the current one
  } else {
    RequireOpen();
  }
  const auto [mode, values] = change_.Finish();

  if (mode == PendingChange::Mode::kAdding) {
    std::string columns;
    std::string marks;
    for (const auto& [column, value] : values) {
      columns += (columns.empty() ? "" : ", ") + QuotedColumn(column);
      marks += marks.empty() ? "?" : ", ?";
    }
    WriteRow(
        *conn_,
        values.empty() ? "INSERT INTO QB DEFAULT VALUES" : "INSERT INTO QB (" + columns + ") VALUES (" + marks + ")",
        values, std::nullopt, "Adding an ad");
    return;
  }
  if (values.empty()) return;  // nothing changed, nothing to store

  if (held_.empty()) {
    // Copy the row and reset the query before writing: a connection that
    // still holds a read lock while another process holds the write lock gets
    // "database is locked" at once instead of waiting out the busy timeout.
    sqlite3_stmt* stmt = stmt_->Get();
    const int count = sqlite3_column_count(stmt);
    for (int i = 0; i < count; ++i) {
      held_.emplace_back(sqlite3_column_name(stmt, i), ColumnText(stmt, i));
    }
    stmt_->Restart();
  }
  std::string assignments;
  for (const auto& [column, value] : values) {
    assignments += (assignments.empty() ? "" : ", ") + QuotedColumn(column) + " = ?";
  }
  if (WriteRow(*conn_, "UPDATE QB SET " + assignments + " WHERE ID = ?", values, editId_, "Updating an ad") == 0) {
    throw QbError(kErrNoCurrentRecord, "No current record: the ad was deleted meanwhile");
  }
  for (const auto& [column, value] : values) {
    for (auto& [name, held] : held_) {
      if (EqualsIgnoreCase(name, kAdColumns[column])) held = value;
    }
  }
}

void SqliteRecordset::Close() {
  if (!open_) throw QbError(kErrObjectClosed, "The recordset is already closed");
  Release();
  open_ = false;
}

}  // namespace qb
