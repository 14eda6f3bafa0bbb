// Where the kind of store a site uses is chosen: each kind of store, asked in
// turn, opens a location it recognizes as its own and declines any other.
// SQLite, the default, takes every location and so comes last.
#include <memory>

#include "storage/database.h"
#include "storage/postgres/pg_database.h"
#include "storage/sqlite/sqlite_database.h"

namespace qb {
namespace {

using StoreOpener = std::unique_ptr<Database> (*)(const StoreLocation& where, KeptStore* kept);
constexpr StoreOpener kStores[] = {
    &OpenPgStore,
    &OpenSqliteStore,
};

}  // namespace

std::unique_ptr<Database> Database::Open(const StoreLocation& where, KeptStore* kept) {
  for (const StoreOpener open : kStores) {
    if (std::unique_ptr<Database> db = open(where, kept)) return db;
  }
  return nullptr;  // not reached: SQLite takes every location
}

}  // namespace qb
