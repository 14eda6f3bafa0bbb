#pragma once
// The ad store in a SQLite file beside the program: the database layer's
// operations (storage/database.h) on SQLite.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/database.h"
#include "storage/pending_change.h"
#include "storage/sqlite/sqlite_kept.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qb {

class PreparedQuery;  // shared prepared statement, defined in sqlite_database.cpp
class Connection;     // connection state shared with statements, sqlite_database.cpp

class SqliteDatabase final : public Database {
 public:
  // Opens (and on first use creates) the store file at `path`, shared with
  // other processes, with a busy timeout so that concurrent requests wait for
  // one another instead of failing. `displayName` names it in error
  // descriptions. With `kept`, the connection a resident process keeps is
  // used when it is still good, and given back to it when this closes.
  static std::unique_ptr<SqliteDatabase> Open(const std::string& path, const std::string& displayName, KeptStore* kept);
  ~SqliteDatabase() override;

  std::unique_ptr<Recordset> OpenTable(std::string_view name) override;
  std::unique_ptr<QueryDef> CreateQueryDef(Statement statement) override;
  std::int64_t RunStatement(Statement statement, std::span<const SqlValue> values) override;
  void ForEachRow(Statement statement, std::span<const SqlValue> values,
                  const std::function<void(SqlRow)>& row) override;
  std::unique_ptr<StoreMaintenance> Maintenance() override;
  void BeginWrite() override;
  void CommitWrite() override;
  void RollbackWrite() noexcept override;
  std::optional<StoreStamp> ChangeStamp() override;
  void Close() override;
  void CloseKeepingConnection() override;
  std::unique_ptr<Database> Reopen() override;

  // A query in SQLite's own SQL, parameters written ":pName".
  std::unique_ptr<QueryDef> CreateQueryDef(std::string_view sql);
  // RunStatement and ForEachRow for a statement in SQLite's own SQL, its
  // parameters "?" (numbered in order) or ?1, ?2...
  std::int64_t RunSql(std::string_view sql, std::span<const SqlValue> values);
  void ForEachRowOfSql(std::string_view sql, std::span<const SqlValue> values, const std::function<void(SqlRow)>& row);

  sqlite3* Handle() const { return db_; }

 private:
  SqliteDatabase(sqlite3* db, std::string path, std::string displayName, KeptStore* kept,
                 SqliteKept::FileIdentity file);
  // Closes SQLite's connection `handle`, or gives it back to kept_.
  void Release(sqlite3* handle) noexcept;
  // The stamp as the store tells it now (ChangeStamp).
  std::optional<StoreStamp> ReadStamp();
  // The stamp read when a kept connection was taken: the stamp still, for
  // the pages made from this open, until the connection writes.
  std::optional<StoreStamp> openStamp_;
  sqlite3* db_;
  // Outlives the Database while statements or recordsets made from it do.
  std::shared_ptr<Connection> conn_;
  std::string path_;
  std::string displayName_;
  sqlite3* kept_ = nullptr;  // the connection CloseKeepingConnection kept
  KeptStore* keptStore_;     // where the connection goes when closed, or null
  SqliteKept::FileIdentity file_;
};

class SqliteQueryDef final : public QueryDef {
 public:
  ~SqliteQueryDef() override;
  void SetParameter(std::string_view name, std::string_view value) override;
  std::unique_ptr<Recordset> OpenRecordset() override;
  void Execute() override;
  Deferred ExecuteWhenFree() override;
  long long RowsAffected() const override { return rowsAffected_; }
  void Close() override;

 private:
  friend class SqliteDatabase;
  SqliteQueryDef(std::shared_ptr<PreparedQuery> stmt, std::optional<Statement> statement = {},
                 std::string_view sql = {});
  int Run(bool whenFree = false);        // SQLite's result code of one run, the statement left ready
  PreparedQuery& Use() const;            // raises when this or the database is closed
  std::shared_ptr<PreparedQuery> stmt_;  // released by Close
  // The named statement this runs, whose text may change with a parameter's
  // value (SqliteText), and the text prepared now.
  std::optional<Statement> statement_;
  std::string_view sql_;
  bool open_ = true;
  long long rowsAffected_ = 0;
};

class SqliteRecordset final : public Recordset {
 public:
  ~SqliteRecordset() override;
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
  friend class SqliteDatabase;
  friend class SqliteQueryDef;
  explicit SqliteRecordset(std::shared_ptr<PreparedQuery> stmt);  // query result
  explicit SqliteRecordset(std::shared_ptr<Connection> conn);     // table
  void Step();
  void RequireOpen() const;
  void RequireRow() const;
  void Release() noexcept;
  int Column(std::string_view name) const;  // index of a result column, or -1
  std::shared_ptr<Connection> conn_;
  std::shared_ptr<PreparedQuery> stmt_;  // null for a table recordset
  std::uint64_t run_ = 0;                // the statement run this result reads
  bool open_ = true;
  bool eof_ = true;
  PendingChange change_;
  // After an Update of an edited row the statement is reset, and the row
  // (name, value per column) is read from this copy instead; empty before.
  std::vector<std::pair<std::string, std::string>> held_;
  std::int64_t editId_ = 0;  // ID of the row being edited or held
  // The result's column names, read once: a result's columns are fixed for
  // the run it reads, and pages read eight or so fields of every row.
  mutable std::vector<std::string> columns_;
  // Names found by exact match: where the name's text lies and its column.
  // A hit is confirmed against the column's name, so text that has moved
  // or changed is simply looked up again.
  static constexpr std::size_t kRecentNames = 16;
  mutable std::vector<std::pair<const char*, int>> recent_;
};

// The SQLite store at `where.file`, which is every location that no other
// kind of store claims (storage/store_choice.cpp).
std::unique_ptr<Database> OpenSqliteStore(const StoreLocation& where, KeptStore* kept);
// The name of the store's file, without its directory.
std::string SqliteStoreLabel(const StoreLocation& where);

}  // namespace qb
