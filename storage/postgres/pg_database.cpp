#include "storage/postgres/pg_database.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <utility>
#include <variant>

#include "gateway/ascii_text.h"
#include "gateway/qb_error.h"
#include "storage/ad_dates.h"
#include "storage/ad_record.h"
#include "storage/pending_change.h"
#include "storage/postgres/pg_error.h"
#include "storage/postgres/pg_kept.h"
#include "storage/postgres/pg_link.h"
#include "storage/postgres/pg_schema.h"
#include "storage/postgres/pg_statements.h"
#include "storage/store_failure.h"

// In the static program, OpenSSL's probe of the CPU waits for the first
// connection (gateway/static/openssl_cpu_setup.c); elsewhere it is absent.
extern "C" void QbSetUpOpenSslCpu() __attribute__((weak));

namespace qb {
namespace {

// PostgreSQL's type numbers (pg_type.oid) for the values bound and read here.
constexpr Oid kUnknown = 0, kBool = 16, kBytea = 17, kInt8 = 20, kInt2 = 21, kInt4 = 23, kDate = 1082;
constexpr int kTextFormat = 0, kBinaryFormat = 1;

// The write lock of WriteTransaction: one advisory lock that every request's
// check-and-change takes, as SQLite's write lock is one for the whole file.
// A request waits for it no longer than for any statement (15 s, as for
// SQLite's lock; error 3005 after), or the lock_timeout the server, the
// database or the user has, when shorter.
constexpr char kWriteLockSql[] = "SELECT pg_advisory_xact_lock(5366869083350425601)";

// Connects with the operator's connection string. A connection attempt
// ends after 10 s, or the string's connect_timeout, but never later than
// the silence limit (libpq waits at least 2 s). Nothing else is set at
// connection time, so that a pooler such as pgbouncer takes the connection
// as it is.
PGconn* Connect(const std::string& server, const ServerWaits& waits, const std::string& context) {
  char* error = nullptr;
  PQconninfoOption* parsed = PQconninfoParse(server.c_str(), &error);
  if (parsed == nullptr) {
    PQfreemem(error);
    throw StoreError(StoreFailure::kCannotOpen,
                     context + ": the PostgreSQL connection string in qbcgi.cfg is not valid");
  }
  const long long limit = std::max<long long>(1, std::chrono::ceil<std::chrono::seconds>(waits.silence).count());
  long long timeout = std::min(10LL, limit);
  std::vector<const char*> keys, values;
  for (const PQconninfoOption* o = parsed; o->keyword != nullptr; ++o) {
    if (o->val == nullptr) continue;
    if (std::strcmp(o->keyword, "connect_timeout") == 0) {
      const long long given = std::atoll(o->val);  // 0 or less: libpq would wait for ever
      timeout = given > 0 && given < limit ? given : limit;
      continue;
    }
    keys.push_back(o->keyword);
    values.push_back(o->val);
  }
  const std::string timeoutText = std::to_string(timeout);
  keys.push_back("fallback_application_name");
  values.push_back("quaybill");
  keys.push_back("connect_timeout");
  values.push_back(timeoutText.c_str());
  keys.push_back(nullptr);
  values.push_back(nullptr);
  if (QbSetUpOpenSslCpu != nullptr) QbSetUpOpenSslCpu();
  PGconn* conn = PQconnectdbParams(keys.data(), values.data(), 0);
  PQconninfoFree(parsed);
  if (PQstatus(conn) != CONNECTION_OK) {
    QbError failure = PgConnectionError(conn, context);
    PQfinish(conn);
    throw failure;
  }
  return conn;
}

std::int64_t BigEndian(const char* bytes, int length) {
  std::uint64_t value = 0;
  for (int i = 0; i < length; ++i) value = value << 8 | static_cast<unsigned char>(bytes[i]);
  const int unused = 64 - 8 * length;  // sign-extend a 2- or 4-byte value
  return unused == 0 ? static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value << unused) >> unused;
}

// A column name as PostgreSQL's table has it: lower case, quoted ("desc"
// and "date" are SQL words).
std::string QuotedColumn(int column) { return '"' + AsciiLower(kAdColumns[column]) + '"'; }

QbError FieldNotFound(std::string_view name) {
  return QbError(kErrItemNotFound, "Field " + std::string(name) + " not found");
}

}  // namespace

// The values of one statement, each with its type and format.
class PgParams {
 public:
  void Bytes(std::string_view bytes, Oid type = kBytea) { Add(bytes.data(), bytes.size(), type, kBinaryFormat); }
  void Number(std::int64_t value) {
    texts_.push_back(std::to_string(value));
    Add(texts_.back().c_str(), texts_.back().size(), kInt8, kTextFormat);
  }
  // A date as "YYYY-MM-DD", which PostgreSQL reads the same in every DateStyle.
  void Date(const std::string& iso) { Add(iso.c_str(), iso.size(), kDate, kTextFormat); }
  void Null() { Add(nullptr, 0, kUnknown, kBinaryFormat); }

  int Count() const { return static_cast<int>(data_.size()); }
  const Oid* Types() const { return types_.data(); }
  const char* const* Data() const { return data_.data(); }
  const int* Lengths() const { return lengths_.data(); }
  const int* Formats() const { return formats_.data(); }

 private:
  void Add(const char* data, std::size_t length, Oid type, int format) {
    data_.push_back(data);
    lengths_.push_back(static_cast<int>(length));
    types_.push_back(type);
    formats_.push_back(format);
  }
  std::deque<std::string> texts_;  // text-format numbers; a deque keeps them in place
  std::vector<const char*> data_;
  std::vector<int> lengths_, formats_;
  std::vector<Oid> types_;
};

// One statement's rows, in binary form; numbers and dates are read as the
// text SQLite would give for them.
class PgResult {
 public:
  explicit PgResult(PGresult* result) : result_(result) {}
  ~PgResult() { PQclear(result_); }
  PgResult(const PgResult&) = delete;
  PgResult& operator=(const PgResult&) = delete;

  PGresult* Get() const { return result_; }
  int Rows() const { return PQntuples(result_); }
  int Columns() const { return PQnfields(result_); }
  bool IsNull(int row, int column) const { return PQgetisnull(result_, row, column) != 0; }
  std::int64_t Number(int row, int column) const {
    return IsNull(row, column) ? 0 : BigEndian(PQgetvalue(result_, row, column), PQgetlength(result_, row, column));
  }
  // Valid while the row is the one last read.
  std::string_view Text(int row, int column) const {
    if (IsNull(row, column)) return {};
    const char* value = PQgetvalue(result_, row, column);
    const int length = PQgetlength(result_, row, column);
    const Oid type = PQftype(result_, column);
    if (type != kInt8 && type != kInt4 && type != kInt2 && type != kDate && type != kBool) {
      return {value, static_cast<std::size_t>(length)};
    }
    if (row != cachedRow_) {
      cache_.assign(static_cast<std::size_t>(Columns()), std::string());
      cachedRow_ = row;
    }
    std::string& text = cache_[static_cast<std::size_t>(column)];
    if (text.empty()) {
      const std::int64_t number = BigEndian(value, length);
      text = type == kDate ? IsoDateText(AddDays(CivilDate{2000, 1, 1}, number)) : std::to_string(number);
    }
    return text;
  }

 private:
  PGresult* result_;
  mutable int cachedRow_ = -1;
  mutable std::vector<std::string> cache_;
};

// What a PgDatabase shares with its queries and results, which may outlive
// it: the connection, usable only while the database is open.
class PgSession {
 public:
  explicit PgSession(PgLink link) : link_(std::move(link)) {}
  PgLink& Link() {
    if (!open_) throw QbError(kErrObjectClosed, "The database PostgreSQL is closed");
    return link_;
  }
  bool IsOpen() const { return open_; }
  PGconn* Detach() noexcept {
    open_ = false;
    return link_.Conn();
  }

  // Runs `sql` with `params`; its rows, or the error of `what`.
  std::shared_ptr<PgResult> Run(const std::string& sql, const PgParams& params, const std::string& what) {
    const PgValues values{params.Count(), params.Types(), params.Data(), params.Lengths(), params.Formats()};
    return std::make_shared<PgResult>(Link().Run(sql, values, kBinaryFormat, what + " in PostgreSQL").release());
  }
  // Runs `sql` (one or more statements, no values); the command tag of the
  // last, or the error of `what`.
  std::string Exec(const char* sql, const std::string& what) {
    return PQcmdStatus(Link().Exec(sql, what + " in PostgreSQL").get());
  }

 private:
  PgLink link_;
  bool open_ = true;
};

// ---------------------------------------------------------------- PgDatabase

PgDatabase::PgDatabase(PGconn* conn, std::string server, const ServerWaits& waits, KeptStore* kept)
    : session_(std::make_shared<PgSession>(PgLink(conn, waits))),
      server_(std::move(server)),
      waits_(waits),
      keptStore_(kept) {}

PgDatabase::~PgDatabase() {
  if (session_->IsOpen()) Release(session_->Detach());
  if (kept_ != nullptr) Release(kept_);
}

void PgDatabase::Release(PGconn* conn) noexcept {
  if (keptStore_ != nullptr && PQstatus(conn) == CONNECTION_OK && PQtransactionStatus(conn) != PQTRANS_IDLE) {
    try {  // kept only when at rest
      PgLink(conn, waits_).Exec("ROLLBACK", "Rolling back in PostgreSQL");
    } catch (...) {
    }
  }
  if (PgKept* kept = keptStore_ != nullptr ? keptStore_->Find<PgKept>() : nullptr) {
    kept->Keep(conn, server_);
  } else {
    PQfinish(conn);
  }
}

std::unique_ptr<Database> OpenPgStore(const StoreLocation& where, KeptStore* kept) {
  if (where.server.empty()) return nullptr;
  return PgDatabase::Open(where.server, where.waits, kept);
}

std::string PgStoreLabel(const StoreLocation& where) { return where.server.empty() ? "" : "PostgreSQL"; }

std::unique_ptr<PgDatabase> PgDatabase::Open(const std::string& server, const ServerWaits& waits, KeptStore* kept) {
  const std::string context = "The ad store in PostgreSQL could not be opened";
  if (PGconn* conn = kept != nullptr ? kept->Use<PgKept>().Take(server) : nullptr) {
    // The check of the schema is the connection's first use: a server that
    // restarted since the last request fails it, and is connected to afresh;
    // one that stopped answering has had all the time a request may wait.
    PgLink link(conn, waits);
    try {
      pgschema::EnsureCurrent(link, context);
      return std::unique_ptr<PgDatabase>(new PgDatabase(conn, server, waits, kept));
    } catch (const QbError&) {
      if (PQstatus(conn) != CONNECTION_BAD) {
        kept->Use<PgKept>().Keep(conn, server);
        throw;
      }
      PQfinish(conn);
      if (link.GaveUp()) throw;
    }
  }
  std::unique_ptr<PgDatabase> db(new PgDatabase(Connect(server, waits, context), server, waits, kept));
  pgschema::EnsureCurrent(db->session_->Link(), context);
  return db;
}

std::unique_ptr<Recordset> PgDatabase::OpenTable(std::string_view name) {
  session_->Link();
  if (!EqualsIgnoreCase(name, "QB")) {
    throw QbError(kErrItemNotFound, "Table " + std::string(name) + " not found in PostgreSQL");
  }
  return std::unique_ptr<Recordset>(new PgRecordset(session_));
}

std::unique_ptr<QueryDef> PgDatabase::CreateQueryDef(std::string_view sql) {
  session_->Link();
  // :name becomes $n (a name used twice is one parameter); "::" is a cast.
  // Text in 'literals', "identifiers" and -- comments is left as it is
  // (the board's statements use no dollar quoting or /* comments */).
  std::string text;
  std::vector<std::string> names;
  char quote = 0;  // the quote of the literal or identifier being read
  const auto isNameChar = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  };
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (quote == 0 && sql.substr(i, 2) == "--") {
      const std::size_t end = std::min(sql.find('\n', i), sql.size());
      text.append(sql.substr(i, end - i));
      i = end - 1;
      continue;
    }
    if (quote == 0 && (c == '\'' || c == '"')) {
      quote = c;
    } else if (c == quote) {
      quote = 0;  // a doubled quote closes and opens again
    }
    const bool starts =
        quote == 0 && c == ':' && i + 1 < sql.size() && isNameChar(sql[i + 1]) && (i == 0 || sql[i - 1] != ':');
    if (!starts) {
      text += c;
      continue;
    }
    std::size_t end = i + 1;
    while (end < sql.size() && isNameChar(sql[end])) ++end;
    const std::string name(sql.substr(i + 1, end - i - 1));
    auto at = std::ranges::find(names, name);
    if (at == names.end()) at = names.insert(names.end(), name);
    text.append(1, '$').append(std::to_string(at - names.begin() + 1));
    i = end - 1;
  }
  return std::unique_ptr<QueryDef>(new PgQueryDef(session_, std::move(text), std::move(names)));
}

namespace {

// A text's type is left to the server, which takes it as the type the
// statement gives the parameter (text or bytea); its bytes are the value.
PgParams BindValues(std::span<const SqlValue> values) {
  PgParams params;
  for (const SqlValue& value : values) {
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
      params.Number(*number);
    } else if (const auto* text = std::get_if<std::string_view>(&value)) {
      params.Bytes(*text, kUnknown);
    } else {
      params.Null();
    }
  }
  return params;
}

}  // namespace

std::unique_ptr<QueryDef> PgDatabase::CreateQueryDef(Statement statement) { return CreateQueryDef(PgText(statement)); }

std::int64_t PgDatabase::RunStatement(Statement statement, std::span<const SqlValue> values) {
  return RunSql(PgText(statement), values);
}

void PgDatabase::ForEachRow(Statement statement, std::span<const SqlValue> values,
                            const std::function<void(SqlRow)>& row) {
  ForEachRowOfSql(PgText(statement), values, row);
}

std::int64_t PgDatabase::RunSql(std::string_view sql, std::span<const SqlValue> values) {
  const auto result = session_->Run(std::string(sql), BindValues(values), "Running a statement");
  return result->Rows() > 0 && result->Columns() > 0 ? result->Number(0, 0) : 0;
}

void PgDatabase::ForEachRowOfSql(std::string_view sql, std::span<const SqlValue> values,
                                 const std::function<void(SqlRow)>& row) {
  const auto result = session_->Run(std::string(sql), BindValues(values), "Running a statement");
  std::vector<std::optional<std::string_view>> views(static_cast<std::size_t>(result->Columns()));
  for (int r = 0; r < result->Rows(); ++r) {
    for (int c = 0; c < result->Columns(); ++c) {
      views[static_cast<std::size_t>(c)] = result->IsNull(r, c) ? std::nullopt : std::optional(result->Text(r, c));
    }
    row(views);
  }
}

void PgDatabase::BeginWrite() { session_->Link().Begin("Locking the ad store in PostgreSQL", kWriteLockSql); }

void PgDatabase::CommitWrite() {
  // COMMIT of a transaction that failed rolls it back, and says so.
  if (session_->Exec("COMMIT", "Storing a change") == "ROLLBACK") {
    throw StoreError(StoreFailure::kFailed, "Storing a change in PostgreSQL: the transaction was rolled back");
  }
}

void PgDatabase::RollbackWrite() noexcept {
  if (!session_->IsOpen()) return;  // closing rolled it back
  PgLink& link = session_->Link();
  if (PQstatus(link.Conn()) != CONNECTION_OK || PQtransactionStatus(link.Conn()) == PQTRANS_IDLE) return;
  try {
    link.Exec("ROLLBACK", "Rolling back a change in PostgreSQL");
  } catch (...) {  // a connection that fails here is not kept, and the server rolls back
  }
}

void PgDatabase::Close() {
  session_->Link();
  Release(session_->Detach());
}

void PgDatabase::CloseKeepingConnection() {
  session_->Link();
  kept_ = session_->Detach();
}

std::unique_ptr<Database> PgDatabase::Reopen() {
  if (session_->IsOpen()) throw QbError(kErrInvalidArgument, "Reopen needs a closed database");
  if (kept_ == nullptr) return Open(server_, waits_, keptStore_);
  return std::unique_ptr<Database>(new PgDatabase(std::exchange(kept_, nullptr), server_, waits_, keptStore_));
}

// ---------------------------------------------------------------- PgQueryDef

PgQueryDef::PgQueryDef(std::shared_ptr<PgSession> session, std::string sql, std::vector<std::string> names)
    : session_(std::move(session)), sql_(std::move(sql)), names_(std::move(names)), values_(names_.size()) {}

void PgQueryDef::RequireOpen() const {
  if (!open_) throw QbError(kErrObjectClosed, "The query is already closed");
  session_->Link();
}

void PgQueryDef::SetParameter(std::string_view name, std::string_view value) {
  RequireOpen();
  const auto at = std::ranges::find(names_, name);
  if (at == names_.end()) throw QbError(kErrItemNotFound, "Parameter " + std::string(name) + " not found in query");
  ++*run_;  // a result of the query's earlier run ends here
  values_[static_cast<std::size_t>(at - names_.begin())] = value;
}

std::unique_ptr<Recordset> PgQueryDef::OpenRecordset() {
  RequireOpen();
  PgParams params;
  for (const auto& value : values_) value ? params.Bytes(*value) : params.Null();
  ++*run_;
  auto rows = session_->Run(sql_, params, "Reading ads");
  return std::unique_ptr<Recordset>(new PgRecordset(session_, std::move(rows), run_));
}

void PgQueryDef::Execute() {
  RequireOpen();
  PgParams params;
  for (const auto& value : values_) value ? params.Bytes(*value) : params.Null();
  ++*run_;
  const auto result = session_->Run(sql_, params, "Running a query");
  if (PQresultStatus(result->Get()) == PGRES_TUPLES_OK) {
    throw QbError(kErrInvalidArgument, "Execute runs only queries that return no rows; use OpenRecordset");
  }
  rowsAffected_ = std::atoll(PQcmdTuples(result->Get()));
}

// A statement outside a transaction takes none of the board's locks: it
// waits only for rows another request is changing, briefly.
QueryDef::Deferred PgQueryDef::ExecuteWhenFree() {
  try {
    Execute();
    return Deferred::kDone;
  } catch (const QbError& error) {
    if (CannotWriteStore(error)) return Deferred::kCannotWrite;
    throw;
  }
}

void PgQueryDef::Close() {
  if (!open_) throw QbError(kErrObjectClosed, "The query is already closed");
  open_ = false;
}

// ---------------------------------------------------------------- PgRecordset

PgRecordset::PgRecordset(std::shared_ptr<PgSession> session, std::shared_ptr<PgResult> rows,
                         std::shared_ptr<std::uint64_t> run)
    : session_(std::move(session)), rows_(std::move(rows)), queryRun_(std::move(run)), run_(*queryRun_) {}

PgRecordset::PgRecordset(std::shared_ptr<PgSession> session) : session_(std::move(session)) {}

PgRecordset::~PgRecordset() = default;

void PgRecordset::RequireOpen() const {
  if (!open_) throw QbError(kErrObjectClosed, "The recordset is already closed");
  session_->Link();
}

void PgRecordset::RequireRow() const {
  RequireOpen();
  if (Eof()) throw QbError(kErrNoCurrentRecord, "No current record");
  if (updated_.empty() && *queryRun_ != run_) {
    throw QbError(kErrObjectClosed, "The recordset was closed when its query ran again");
  }
}

bool PgRecordset::Eof() const { return rows_ == nullptr || row_ >= rows_->Rows(); }

void PgRecordset::MoveNext() {
  RequireRow();
  if (!updated_.empty()) {
    throw QbError(kErrInvalidArgument, "A recordset cannot move on after an Update; run the query again");
  }
  change_.Start(PendingChange::Mode::kNone);
  ++row_;
}

int PgRecordset::Column(std::string_view name) const {
  for (int i = 0; i < rows_->Columns(); ++i) {
    if (EqualsIgnoreCase(PQfname(rows_->Get(), i), name)) return i;
  }
  return -1;
}

std::string_view PgRecordset::Field(std::string_view name) const {
  RequireRow();
  const int column = Column(name);
  if (column < 0) throw FieldNotFound(name);
  for (const auto& [at, value] : updated_) {
    if (at == column) return value;
  }
  return rows_->Text(row_, column);
}

int PgRecordset::FieldColumn(std::string_view name) const {
  RequireOpen();
  const int column = rows_ ? Column(name) : -1;
  if (column < 0) throw FieldNotFound(name);
  return column;
}

std::string_view PgRecordset::FieldAt(int column) const {
  RequireRow();
  if (column < 0 || column >= rows_->Columns()) throw FieldNotFound(std::to_string(column));
  for (const auto& [at, value] : updated_) {
    if (at == column) return value;
  }
  return rows_->Text(row_, column);
}

bool PgRecordset::FieldIsNull(std::string_view name) const {
  RequireRow();
  const int column = Column(name);
  if (column < 0) throw FieldNotFound(name);
  if (!updated_.empty()) return false;  // an updated row holds text
  return rows_->IsNull(row_, column);
}

void PgRecordset::AddNew() {
  RequireOpen();
  if (rows_ != nullptr) throw QbError(kErrInvalidArgument, "AddNew needs a recordset opened with OpenTable");
  change_.Start(PendingChange::Mode::kAdding);
}

void PgRecordset::Edit() {
  RequireRow();
  if (updated_.empty()) {
    const int column = Column("ID");
    if (column < 0) throw QbError(kErrItemNotFound, "Field ID not found: Edit needs it in the query");
    editId_ = rows_->Number(row_, column);
  }
  change_.Start(PendingChange::Mode::kEditing);
}

void PgRecordset::SetField(std::string_view name, std::string_view value) {
  RequireOpen();
  change_.Set(name, value);
}

void PgRecordset::Update() {
  if (change_.Current() == PendingChange::Mode::kEditing) {
    RequireRow();  // the row edited is still the current one
  } else {
    RequireOpen();
  }
  const auto [mode, values] = change_.Finish();
  const bool adding = mode == PendingChange::Mode::kAdding;
  if (!adding && values.empty()) return;  // nothing changed, nothing to store

  PgParams params;
  std::string columns, marks;
  for (const auto& [column, value] : values) {
    const std::string number = std::to_string(params.Count() + 1);
    if (kAdColumns[column] == "Expire") {
      params.Date(value);
    } else {
      params.Bytes(value);
    }
    if (!columns.empty()) {
      columns.append(", ");
      marks.append(", ");
    }
    columns.append(QuotedColumn(column));
    if (!adding) marks.append(QuotedColumn(column)).append(" = ");
    marks.append(1, '$').append(number);
  }
  if (adding) {
    session_->Run(
        values.empty() ? "INSERT INTO qb DEFAULT VALUES" : "INSERT INTO qb (" + columns + ") VALUES (" + marks + ")",
        params, "Adding an ad");
    return;
  }
  params.Number(editId_);
  const auto result = session_->Run("UPDATE qb SET " + marks + " WHERE id = $" + std::to_string(params.Count()), params,
                                    "Updating an ad");
  if (std::atoll(PQcmdTuples(result->Get())) == 0) {
    throw QbError(kErrNoCurrentRecord, "No current record: the ad was deleted meanwhile");
  }
  for (const auto& [column, value] : values) {
    const int at = Column(kAdColumns[column]);
    if (at < 0) continue;
    const auto same = std::ranges::find_if(updated_, [&](const auto& u) { return u.first == at; });
    if (same != updated_.end()) {
      same->second = value;
    } else {
      updated_.emplace_back(at, value);
    }
  }
}

void PgRecordset::Close() {
  if (!open_) throw QbError(kErrObjectClosed, "The recordset is already closed");
  open_ = false;
  rows_.reset();
}

}  // namespace qb
