#include "storage/database.h"

#include "gateway/qb_error.h"
#include "storage/postgres/pg_database.h"
#include "storage/sqlite/sqlite_database.h"
#include "storage/store_failure.h"

namespace qb {

bool CannotWriteStore(const QbError& error) {
  return IsStoreFailure(error, StoreFailure::kReadOnly) || IsStoreFailure(error, StoreFailure::kCannotOpen) ||
         IsStoreFailure(error, StoreFailure::kPermissionDenied);
}

std::unique_ptr<Database> Database::Open(const StoreLocation& where, KeptStore* kept) {
  if (!where.server.empty()) return PgDatabase::Open(where.server, where.waits, kept);
  return SqliteDatabase::Open(where.file, "qb.db", kept);
}

std::unique_ptr<Database> Database::Open(const std::string& path, const std::string& displayName, KeptStore* kept) {
  return SqliteDatabase::Open(path, displayName, kept);
}

}  // namespace qb
