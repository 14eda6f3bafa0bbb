#pragma once
// Small helpers over the SQLite C API shared by the store's sources (not for
// use above the database layer).
#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

#include "gateway/qb_error.h"

namespace qb {

struct StmtFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using StmtHandle = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// The error for SQLite result `rc` on connection `db`: numbered kErrStoreBase
// plus the primary result code and described as `context` followed by
// SQLite's message. Build it before anything else runs on `db`, which would
// replace the message.
inline QbError StoreError(sqlite3* db, int rc, const std::string& context) {
  const char* message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  return QbError(kErrStoreBase + (rc & 0xff), context + ": " + message);
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
