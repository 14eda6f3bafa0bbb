#pragma once
// The ad store in a PostgreSQL database that several web hosts share: the
// database layer's operations (storage/database.h) over libpq.
//
// A CGI request connects once and disconnects at its end; a resident process
// keeps its connection (KeptStore) and connects again when the server has
// restarted meanwhile. Every statement runs with its values bound apart from
// the text, the texts as bytea, so that any byte an ad holds is stored as
// it came.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/database.h"
#include "storage/pending_change.h"

struct pg_conn;
struct pg_result;

namespace qb {

class PgSession;  // the connection shared with queries and results, pg_database.cpp
class PgResult;   // one statement's rows

class PgDatabase final : public Database {
 public:
  // Connects with libpq's connection string `server` (key=value or URI),
  // or takes the connection `kept` holds for it, and makes or upgrades the
  // schema on first use. Every wait on the server ends as `waits` says
  // (pg_link.h).
  static std::unique_ptr<PgDatabase> Open(const std::string& server, const ServerWaits& waits, KeptStore* kept);
  ~PgDatabase() override;

  std::unique_ptr<Recordset> OpenTable(std::string_view name) override;
  std::unique_ptr<QueryDef> CreateQueryDef(Statement statement) override;
  std::int64_t RunStatement(Statement statement, std::span<const SqlValue> values) override;
  void ForEachRow(Statement statement, std::span<const SqlValue> values,
                  const std::function<void(SqlRow)>& row) override;
  std::unique_ptr<StoreMaintenance> Maintenance() override;
  // A query in PostgreSQL's own SQL, parameters written ":pName".
  std::unique_ptr<QueryDef> CreateQueryDef(std::string_view sql);
  // RunStatement and ForEachRow for a statement in PostgreSQL's own SQL,
  // its parameters $1, $2...
  std::int64_t RunSql(std::string_view sql, std::span<const SqlValue> values);
  void ForEachRowOfSql(std::string_view sql, std::span<const SqlValue> values, const std::function<void(SqlRow)>& row);

  void BeginWrite() override;
  void CommitWrite() override;
  void RollbackWrite() noexcept override;
  void Close() override;
  void CloseKeepingConnection() override;
  std::unique_ptr<Database> Reopen() override;

 private:
  PgDatabase(pg_conn* conn, std::string server, const ServerWaits& waits, KeptStore* kept);
  void Release(pg_conn* conn) noexcept;
  std::shared_ptr<PgSession> session_;
  std::string server_;
  ServerWaits waits_;
  KeptStore* keptStore_;
  pg_conn* kept_ = nullptr;  // the connection CloseKeepingConnection kept
};

class PgQueryDef final : public QueryDef {
 public:
  void SetParameter(std::string_view name, std::string_view value) override;
  std::unique_ptr<Recordset> OpenRecordset() override;
  void Execute() override;
  Deferred ExecuteWhenFree() override;
  long long RowsAffected() const override { return rowsAffected_; }
  void Close() override;

 private:
  friend class PgDatabase;
  PgQueryDef(std::shared_ptr<PgSession> session, std::string sql, std::vector<std::string> names);
  void RequireOpen() const;
  std::shared_ptr<PgSession> session_;
  std::string sql_;                                 // with $1, $2... for the :names
  std::vector<std::string> names_;                  // parameter names, by number
  std::vector<std::optional<std::string>> values_;  // bound values, by number (unset: NULL)
  std::shared_ptr<std::uint64_t> run_ = std::make_shared<std::uint64_t>(0);
  bool open_ = true;
  long long rowsAffected_ = 0;
};

class PgRecordset final : public Recordset {
 public:
  ~PgRecordset() override;
  bool Eof() const override;
  void MoveNext() override;
  std::string_view Field(std::string_view name) const override;
  bool FieldIsNull(std::string_view name) const override;
  int FieldColumn(std::string_view name) const override;
  std::string_view FieldAt(int column) const override;
  void AddNew() override;
  void Edit() override;
  void SetField(std::string_view name, std::string_view value) override;
  void Update() override;
  void Close() override;

 private:
  friend class PgDatabase;
  friend class PgQueryDef;
  PgRecordset(std::shared_ptr<PgSession> session, std::shared_ptr<PgResult> rows,
              std::shared_ptr<std::uint64_t> run);           // query result
  explicit PgRecordset(std::shared_ptr<PgSession> session);  // table
  void RequireOpen() const;
  void RequireRow() const;
  int Column(std::string_view name) const;  // or -1
  std::shared_ptr<PgSession> session_;
  std::shared_ptr<PgResult> rows_;  // null for a table recordset
  std::shared_ptr<std::uint64_t> queryRun_;
  std::uint64_t run_ = 0;
  int row_ = 0;
  bool open_ = true;
  PendingChange change_;
  // The stored values of an updated row, by result column; MoveNext then
  // raises, as on SQLite.
  std::vector<std::pair<int, std::string>> updated_;
  std::int64_t editId_ = 0;
};

// The PostgreSQL store at `where.server` when a server is given; null
// otherwise (storage/store_choice.cpp).
std::unique_ptr<Database> OpenPgStore(const StoreLocation& where, KeptStore* kept);
// "PostgreSQL" for a location that names a server; empty for any other.
std::string PgStoreLabel(const StoreLocation& where);

}  // namespace qb
