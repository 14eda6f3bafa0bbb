#include "storage/database.h"

#include "gateway/qb_error.h"
#include "storage/store_failure.h"

namespace qb {

bool CannotWriteStore(const QbError& error) {
  return IsStoreFailure(error, StoreFailure::kReadOnly) || IsStoreFailure(error, StoreFailure::kCannotOpen) ||
         IsStoreFailure(error, StoreFailure::kPermissionDenied);
}

}  // namespace qb
