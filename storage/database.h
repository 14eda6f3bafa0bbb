#pragma once
// The database layer: the few operations the handlers need from the ad store,
// in the shape of a classic record-set API (open, temporary parameter query,
// forward-only result with fields read by name, add/edit/update, execute,
// close). SQLite lives behind it; nothing above this layer touches SQLite.
//
// Every failure raises QbError. Closing an object twice raises
// kErrObjectClosed; the request's database slots (database_slots.h) raise
// kErrObjectNotSet for an empty slot. The application error routine relies on
// both to choose its error page.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "storage/kept_store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qb {

class QbError;
class Recordset;
class QueryDef;
class Statement;   // shared prepared statement, defined in database.cpp
class Connection;  // connection state shared with statements, database.cpp

// Whether `error` says that the store cannot be written here: its file or
// its directory is read-only to this process (SQLite cannot write the file,
// or cannot create its journal beside it).
bool CannotWriteStore(const QbError& error);

class Database {
 public:
  // Opens (and on first use creates) the store file at `path`, shared with
  // other processes, with a busy timeout so that concurrent requests wait for
  // one another instead of failing. `displayName` names the file in error
  // descriptions (never the full server path).
  // With `kept`, the connection that a resident process keeps between
  // requests is used when it is still good for the file, and is given back
  // to `kept` when this database closes, instead of being closed.
  static std::unique_ptr<Database> Open(const std::string& path, const std::string& displayName = "qb.db",
                                        KeptStore* kept = nullptr);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens table `name` (matched without regard to case, only "QB" exists) as
  // a recordset for AddNew/Update.
  std::unique_ptr<Recordset> OpenTable(std::string_view name);

  // A temporary (unsaved) query. Parameters are written ":pName" in `sql`.
  std::unique_ptr<QueryDef> CreateQueryDef(std::string_view sql);

  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  sqlite3* Handle() const { return db_; }

  // Closes the database as Close does (neither it nor anything made from it
  // can be used any more, and it holds no lock), but keeps SQLite's
  // connection to the file for Reopen, which then needs neither to open the
  // file nor to read its schema again. A connection that Reopen does not
  // take is closed with this object.
  void CloseKeepingConnection();
  // A new open Database on the same file, on the connection that
  // CloseKeepingConnection kept, or else opened as Open does. Raises
  // kErrInvalidArgument while this database is still open.
  std::unique_ptr<Database> Reopen();

 private:
  Database(sqlite3* db, std::string path, std::string displayName, KeptStore* kept, KeptStore::FileIdentity file);
  // Closes SQLite's connection `handle`, or gives it back to kept_.
  void Release(sqlite3* handle) noexcept;
  sqlite3* db_;
  // Outlives the Database while statements or recordsets made from it do.
  std::shared_ptr<Connection> conn_;
  std::string path_;
  std::string displayName_;
  sqlite3* kept_ = nullptr;  // the connection CloseKeepingConnection kept
  KeptStore* keptStore_;     // where the connection goes when closed, or null
  KeptStore::FileIdentity file_;
};

class QueryDef {
 public:
  ~QueryDef();
  // Binds the named parameter (given without the ':'), always as text.
  // An unknown name raises kErrItemNotFound.
  void SetParameter(std::string_view name, std::string_view value);
  // Runs the query and returns a forward-only, changeable result positioned
  // on the first row (Eof() when there is none).
  std::unique_ptr<Recordset> OpenRecordset();
  // Runs a statement that returns no rows (DELETE); done when it returns.
  void Execute();
  // Execute for work that may wait: when the store cannot be written here
  // (CannotWriteStore), returns false having changed nothing; other failures
  // raise as Execute's do.
  bool ExecuteIfWritable();
  // Rows changed by the last Execute.
  long long RowsAffected() const { return rowsAffected_; }
  void Close();
  bool IsOpen() const { return open_; }

 private:
  friend class Database;
  explicit QueryDef(std::shared_ptr<Statement> stmt);
  int Run();  // SQLite's result code of one run, the statement left ready
  Statement& Use() const;  // raises when this or the database is closed
  std::shared_ptr<Statement> stmt_;  // released by Close
  bool open_ = true;
  long long rowsAffected_ = 0;
};

class Recordset {
 public:
  ~Recordset();
  bool Eof() const;
  void MoveNext();
  // The named field of the current row as text (a null field reads as empty
  // text). The view stays valid until the next MoveNext/Update/Close (or
  // until the QueryDef that opened the result sets a parameter or runs again,
  // which ends this result: reading it then raises kErrObjectClosed).
  // No current row raises kErrNoCurrentRecord; an unknown name
  // kErrItemNotFound.
  std::string_view Field(std::string_view name) const;
  // Whether the named field of the current row holds no value at all (as
  // opposed to empty text). Same errors as Field.
  bool FieldIsNull(std::string_view name) const;

  // AddNew (table recordsets) or Edit (query results) starts a change;
  // SetField gives a field its new text; Update stores the change. Edit with
  // no current row raises kErrNoCurrentRecord; an Update whose row has been
  // deleted meanwhile raises kErrNoCurrentRecord too. Update ends the query's
  // read before it writes (so no read lock is held while waiting for the
  // write lock): the recordset stays on the updated row, reading the stored
  // values, and may Edit it again, but MoveNext then raises. SetField or
  // Update without AddNew/Edit, AddNew on a query result and Edit on a result
  // without the ID column raise too.
  void AddNew();
  void Edit();
  void SetField(std::string_view name, std::string_view value);
  void Update();

  void Close();
  bool IsOpen() const { return open_; }

 private:
  friend class Database;
  friend class QueryDef;
  explicit Recordset(std::shared_ptr<Statement> stmt);  // query result
  explicit Recordset(std::shared_ptr<Connection> conn);  // table
  void Step();
  void RequireOpen() const;
  void RequireRow() const;
  void Release() noexcept;
  int Column(std::string_view name) const;  // index of a result column, or -1
  std::shared_ptr<Connection> conn_;
  std::shared_ptr<Statement> stmt_;  // null for a table recordset
  std::uint64_t run_ = 0;            // the statement run this result reads
  bool open_ = true;
  bool eof_ = true;
  enum class Mode { kNone, kAdding, kEditing } mode_ = Mode::kNone;
  std::vector<std::pair<int, std::string>> pending_;  // column index, value
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

}  // namespace qb
