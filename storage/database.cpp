#include "storage/database.h"

#include "gateway/qb_error.h"

namespace qb {

bool CannotWriteStore(const QbError& error) {
  // SQLite's READONLY, CANTOPEN and PERM, which the PostgreSQL store uses
  // too for a server that refuses writes or cannot be reached.
  const int rc = error.Number() - kErrStoreBase;
  return rc == 8 || rc == 14 || rc == 3;
}

}  // namespace qb
