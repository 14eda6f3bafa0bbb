#include "storage/write_transaction.h"

#include "storage/store_sqlite.h"

namespace qb {
namespace {

void Exec(sqlite3* db, const char* sql, const char* what) {
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) throw StoreError(db, rc, what);
}

}  // namespace

WriteTransaction::WriteTransaction(Database& db) : db_(db) {
  Exec(db_.Handle(), "BEGIN IMMEDIATE", "Locking the ad store");
}

WriteTransaction::~WriteTransaction() {
  // A database closed meanwhile has rolled back already.
  if (open_ && db_.IsOpen() && sqlite3_get_autocommit(db_.Handle()) == 0) {
    sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

void WriteTransaction::Commit() {
  Exec(db_.Handle(), "COMMIT", "Storing a change");
  open_ = false;
}

}  // namespace qb
