#include "storage/database.h"

#include "gateway/qb_error.h"
#include "storage/postgres/pg_database.h"
#include "storage/sqlite/sqlite_database.h"

namespace qb {

bool CannotWriteStore(const QbError& error) {
  // SQLite's READONLY, CANTOPEN and PERM, which the PostgreSQL store uses
  // too for a server that refuses writes or cannot be reached.
  const int rc = error.Number() - kErrStoreBase;
  return rc == 8 || rc == 14 || rc == 3;
}

std::unique_ptr<Database> Database::Open(const StoreLocation& where, KeptStore* kept) {
  if (!where.server.empty()) return PgDatabase::Open(where.server, where.waits, kept);
  return SqliteDatabase::Open(where.file, "qb.db", kept);
}

std::unique_ptr<Database> Database::Open(const std::string& path, const std::string& displayName, KeptStore* kept) {
  return SqliteDatabase::Open(path, displayName, kept);
}

}  // namespace qb
