#pragma once
// Small helpers over the SQLite C API shared by the store's sources (not for
// use above the database layer).
#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

#include "gateway/qb_error.h"
#include "storage/store_failure.h"

namespace qb {

struct StmtFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using StmtHandle = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// The kind of failure SQLite result `rc` reports (its primary code decides).
// Codes SQLite does not return from the calls the store makes (NOTFOUND,
// EMPTY, NOLFS, AUTH, FORMAT, NOTICE, WARNING; INTERNAL, which no working
// SQLite returns; ROW or DONE where a statement cannot give them) count as
// a plain failure.
inline StoreFailure SqliteFailure(int rc) {
  switch (rc & 0xff) {
    case SQLITE_PERM: return StoreFailure::kPermissionDenied;
    case SQLITE_ABORT: return StoreFailure::kAborted;
    case SQLITE_BUSY: return StoreFailure::kBusy;
    case SQLITE_LOCKED: return StoreFailure::kLocked;
    case SQLITE_NOMEM: return StoreFailure::kOutOfMemory;
    case SQLITE_READONLY: return StoreFailure::kReadOnly;
    case SQLITE_INTERRUPT: return StoreFailure::kInterrupted;
    case SQLITE_IOERR: return StoreFailure::kIoError;
    case SQLITE_CORRUPT: return StoreFailure::kCorrupt;
    case SQLITE_FULL: return StoreFailure::kFull;
    case SQLITE_CANTOPEN: return StoreFailure::kCannotOpen;
    case SQLITE_PROTOCOL: return StoreFailure::kLockProtocol;
    case SQLITE_SCHEMA: return StoreFailure::kSchemaChanged;
    case SQLITE_TOOBIG: return StoreFailure::kTooBig;
    case SQLITE_CONSTRAINT: return StoreFailure::kConstraint;
    case SQLITE_MISMATCH: return StoreFailure::kTypeMismatch;
    case SQLITE_MISUSE: return StoreFailure::kMisuse;
    case SQLITE_RANGE: return StoreFailure::kParameterRange;
    case SQLITE_NOTADB: return StoreFailure::kNotAStore;
    default: return StoreFailure::kFailed;
  }
}

// The error for SQLite result `rc` on connection `db`: its kind of failure,
// described as `context` followed by SQLite's message. Build it before
// anything else runs on `db`, which would replace the message.
inline QbError StoreError(sqlite3* db, int rc, const std::string& context) {
  const char* message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  return StoreError(SqliteFailure(rc), context + ": " + message);
}

// Prepares `sql`, which must hold exactly one statement.
inline StmtHandle PrepareStatement(sqlite3* db, std::string_view sql, const std::string& context) {
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  const int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), 0, &raw, &tail);
  StmtHandle stmt(raw);
  if (rc != SQLITE_OK) throw StoreError(db, rc, context);
  if (stmt == nullptr) throw QbError(kErrInvalidArgument, context + ": the query text is empty");
  for (const char* end = sql.data() + sql.size(); tail != end; ++tail) {
    if (*tail != ' ' && *tail != '\t' && *tail != '\r' && *tail != '\n') {
      throw QbError(kErrInvalidArgument, context + ": the query text holds more than one statement");
    }
  }
  return stmt;
}

}  // namespace qb
