// Where the kind of store a site uses is chosen: each kind of store, asked in
// turn, opens a location it recognizes as its own and declines any other.
// SQLite, the default, takes every location and so comes last.
#include <memory>
#include <string>

#include "storage/database.h"
#include "storage/postgres/pg_database.h"
#include "storage/sqlite/sqlite_database.h"

namespace qb {
namespace {

// A kind of store: its opener, null for a location that is not its own,
// and the name an operator's report gives it, empty for such a location.
struct StoreKind {
  std::unique_ptr<Database> (*open)(const StoreLocation& where, KeptStore* kept);
  std::string (*label)(const StoreLocation& where);
};
constexpr StoreKind kStores[] = {
    {&OpenPgStore, &PgStoreLabel},
    {&OpenSqliteStore, &SqliteStoreLabel},
};

}  // namespace

std::unique_ptr<Database> Database::Open(const StoreLocation& where, KeptStore* kept) {
  for (const StoreKind& store : kStores) {
    if (std::unique_ptr<Database> db = store.open(where, kept)) return db;
  }
  return nullptr;  // not reached: SQLite takes every location
}

std::string StoreLabel(const StoreLocation& where) {
  for (const StoreKind& store : kStores) {
    if (std::string label = store.label(where); !label.empty()) return label;
  }
  return {};  // not reached: SQLite names every location
}

}  // namespace qb
