#pragma once
// The database layer: the few operations the handlers need from the ad store,
// in the shape of a classic record-set API (open, temporary parameter query,
// forward-only result with fields read by name, add/edit/update, execute,
// close). Two stores live behind it: a SQLite file beside the program (the
// default) and a PostgreSQL database that several web hosts share. Nothing
// above this layer knows which one it has.
//
// Every failure raises QbError, numbered alike on both stores for the same
// kind of failure (storage/store_failure.h: 3014 cannot open or reach the
// store, 3008 cannot write it, 3005 locked or busy too long).
// Closing an object twice raises kErrObjectClosed.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "storage/kept_store.h"
#include "storage/statement.h"

namespace qb {

class QbError;
class Recordset;
class QueryDef;
class StoreMaintenance;

// Whether `error` says that the store cannot be written here: its file or
// its directory is read-only to this process, or the database server
// refuses writes or cannot be reached.
bool CannotWriteStore(const QbError& error);

// How long a request waits on a database server. A statement (its waits
// for locks included) that has not finished after `statement` is ended by
// the server (error 3005); a server that sends nothing for `silence` while
// an answer is due, or while a connection is made, is given up (error 3014).
// The program waits 15 s and 30 s; tests shorten both.
struct ServerWaits {
  std::chrono::milliseconds statement{15000};
  std::chrono::milliseconds silence{30000};
};

// Where a site keeps its ads: the SQLite file at `file`, unless `server`
// holds a PostgreSQL connection string (libpq's key=value or URI form),
// waited on as `waits` says. `fileName` names the file in error
// descriptions (never the full server path, unless the caller says so).
// Unless `mayCreate`, a store that is not there yet is not made: opening it
// raises kErrFileNotFound (the operator's tool must not leave an empty store
// behind a mistyped site).
struct StoreLocation {
  std::string file;
  std::string server = {};
  ServerWaits waits = {};
  std::string fileName = "qb.db";
  bool mayCreate = true;
};

// How an operator's report names the store at `where`: its file's name, or
// the kind of server that holds it.
std::string StoreLabel(const StoreLocation& where);

// A value bound to a numbered parameter by Database::RunStatement and
// ForEachRow: a number, a text (taken as the parameter's type, text or
// bytea, on PostgreSQL), or NULL.
using SqlValue = std::variant<std::int64_t, std::string_view, std::nullptr_t>;
// A row as ForEachRow gives it: each column's text (numbers and dates as
// SQLite gives them), nullopt for NULL; valid during the call only.
using SqlRow = std::span<const std::optional<std::string_view>>;

// What a store's contents were at one moment, as seen on the connection a
// resident process keeps: two equal stamps mean that no change was committed
// to the store in between, by this process or any other. `connection` names
// the kept connection (a new one gets a new number), `others` counts what it
// has seen other connections commit, `own` what it has changed itself.
struct StoreStamp {
  std::uint64_t connection = 0;
  std::int64_t others = 0;
  std::int64_t own = 0;
  friend bool operator==(const StoreStamp&, const StoreStamp&) = default;
};

class Database {
 public:
  // Opens (and on first use creates) the store at `where`, in whichever kind
  // of store it names (storage/store_choice.cpp). With `kept`, the
  // connection that a resident process keeps between requests is used when
  // it is still good, and is given back to `kept` when this database closes.
  static std::unique_ptr<Database> Open(const StoreLocation& where, KeptStore* kept = nullptr);
  virtual ~Database() = default;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens table `name` (matched without regard to case, only "QB" exists) as
  // a recordset for AddNew/Update.
  virtual std::unique_ptr<Recordset> OpenTable(std::string_view name) = 0;

  // A temporary (unsaved) query: one of the handlers' statements, whose
  // parameters are named as storage/statement.h says.
  virtual std::unique_ptr<QueryDef> CreateQueryDef(Statement statement) = 0;

  // Runs `statement`, whose parameters are numbered from 1, with `values`
  // (text binds as text on SQLite, as bytea on PostgreSQL unless the
  // statement casts it); gives the first column of its first row as a
  // number, or 0 when it returns no row.
  virtual std::int64_t RunStatement(Statement statement, std::span<const SqlValue> values) = 0;
  // Runs `statement` with `values` bound as RunStatement binds them, and
  // calls `row` for each row it returns, in order. The statement has ended
  // (and holds no lock) before the first call.
  virtual void ForEachRow(Statement statement, std::span<const SqlValue> values,
                          const std::function<void(SqlRow)>& row) = 0;

  // The operator's tool's access to this store (storage/store_maintenance.h),
  // valid while this database is.
  virtual std::unique_ptr<StoreMaintenance> Maintenance() = 0;

  // The store's write lock, taken at once (waiting for other requests as
  // every write does) and held until CommitWrite; see WriteTransaction.
  virtual void BeginWrite() = 0;
  virtual void CommitWrite() = 0;
  // Rolls back the transaction BeginWrite opened, if it is still open.
  virtual void RollbackWrite() noexcept = 0;

  // The store's stamp (StoreStamp) now, or when this database was opened if
  // it has changed nothing since, on an open database with no transaction
  // of its own open; nullopt when this store or this connection
  // cannot tell (a connection not kept between requests, a store that keeps
  // no count of its changes), and then nothing may be kept on its account.
  virtual std::optional<StoreStamp> ChangeStamp() { return std::nullopt; }

  virtual void Close() = 0;

  // Closes the database as Close does (neither it nor anything made from it
  // can be used any more, and it holds no lock), but keeps the connection to
  // the store for Reopen, which then needs neither to connect nor to check
  // the schema again. A connection that Reopen does not take is closed with
  // this object.
  virtual void CloseKeepingConnection() = 0;
  // A new open Database on the same store, on the connection that
  // CloseKeepingConnection kept, or else opened as Open does. Raises
  // kErrInvalidArgument while this database is still open.
  virtual std::unique_ptr<Database> Reopen() = 0;

 protected:
  Database() = default;
};

class QueryDef {
 public:
  virtual ~QueryDef() = default;
  // Binds the named parameter (given without the ':'), always as text.
  // An unknown name raises kErrItemNotFound.
  virtual void SetParameter(std::string_view name, std::string_view value) = 0;
  // Runs the query and returns a forward-only, changeable result positioned
  // on the first row (Eof() when there is none).
  virtual std::unique_ptr<Recordset> OpenRecordset() = 0;
  // Runs a statement that returns no rows (DELETE); done when it returns.
  virtual void Execute() = 0;
  // What ExecuteWhenFree did.
  enum class Deferred { kDone, kCannotWrite, kOthersWriting };
  // Execute for work that a later request can do as well (the expiry purge),
  // which must not keep its request waiting: when the store cannot be written
  // here (CannotWriteStore), or other writers hold it or wait for it, returns
  // which, having changed nothing; other failures raise as Execute's do.
  virtual Deferred ExecuteWhenFree() = 0;
  // Rows changed by the last Execute.
  virtual long long RowsAffected() const = 0;
  virtual void Close() = 0;
};

class Recordset {
 public:
  virtual ~Recordset() = default;
  virtual bool Eof() const = 0;
  virtual void MoveNext() = 0;
  // The named field of the current row as text (a null field reads as empty
  // text). The view stays valid until the next MoveNext/Update/Close (or
  // until the QueryDef that opened the result sets a parameter or runs again,
  // which ends this result: reading it then raises kErrObjectClosed).
  // No current row raises kErrNoCurrentRecord; an unknown name
  // kErrItemNotFound.
  virtual std::string_view Field(std::string_view name) const = 0;
  // Whether the named field of the current row holds no value at all (as
  // opposed to empty text). Same errors as Field.
  virtual bool FieldIsNull(std::string_view name) const = 0;
  // The column of the named field in this result, found as Field finds it,
  // for FieldAt: a page that reads the same fields of every row looks each
  // name up once. An unknown name, or a recordset opened with OpenTable,
  // raises kErrItemNotFound; a closed recordset kErrObjectClosed.
  virtual int FieldColumn(std::string_view name) const = 0;
  // Field for a column that FieldColumn gave on this result: the same text
  // and the same errors (a column this result lacks: kErrItemNotFound).
  virtual std::string_view FieldAt(int column) const = 0;

  // AddNew (table recordsets) or Edit (query results) starts a change;
  // SetField gives a field its new text; Update stores the change. Edit with
  // no current row raises kErrNoCurrentRecord; an Update whose row has been
  // deleted meanwhile raises kErrNoCurrentRecord too. Update ends the query's
  // read before it writes (so no read lock is held while waiting for the
  // write lock): the recordset stays on the updated row, reading the stored
  // values, and may Edit it again, but MoveNext then raises. SetField or
  // Update without AddNew/Edit, AddNew on a query result and Edit on a result
  // without the ID column raise too.
  virtual void AddNew() = 0;
  virtual void Edit() = 0;
  virtual void SetField(std::string_view name, std::string_view value) = 0;
  virtual void Update() = 0;

  virtual void Close() = 0;
};

}  // namespace qb
