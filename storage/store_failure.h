#pragma once
// The kinds of failure a store reports, whichever store it is, and the one
// table that numbers them for pages and the log. Each backend says which
// kind a failure of its own is (storage/sqlite/sqlite_helpers.h,
// storage/postgres/pg_error.h) and raises it with StoreError; code above
// the backends asks for kinds, never for a backend's codes.
//
// The numbers are those operators already know: 3000 plus the SQLite result
// code of the same failure (3014 cannot open or reach the store, 3008 cannot
// write it, 3005 locked or busy too long). No two kinds share a number, so
// an error's number tells its kind (IsStoreFailure); only kMisuse's 3021 is
// also another error's, kErrNoCurrentRecord.
#include <cstdint>
#include <string>

#include "gateway/qb_error.h"

namespace qb {

enum class StoreFailure {
  kFailed,            // a statement failed for a reason of its own (an unknown table, bad SQL, a rolled back change)
  kPermissionDenied,  // the operating system refused the access the store needs
  kAborted,           // a read was cut short by a change rolled back on the same connection
  kBusy,              // other writers held the store, or a lock, longer than the wait allows
  kLocked,            // a table is in use by another statement of the same connection
  kOutOfMemory,       // the store ran out of memory
  kReadOnly,          // the store, or its server, refuses writes here
  kInterrupted,       // the statement was interrupted before it finished
  kIoError,           // reading or writing the store's file failed
  kCorrupt,           // the store's file is damaged
  kFull,              // no room left: the disk is full, or the server ran short of space, memory or connections
  kCannotOpen,        // the store cannot be opened or its server reached, or the connection was lost
  kLockProtocol,      // the store's locks could not be taken in order after many tries
  kSchemaChanged,     // the tables changed under a prepared statement
  kTooBig,            // a value or a row is larger than the store allows
  kConstraint,        // a key is taken (an ad ID already stored) or another rule of the tables is broken
  kTypeMismatch,      // a value is of a type its column cannot hold
  kMisuse,            // the store's interface was used in a way it does not allow
  kParameterRange,    // a statement was given a value for a parameter it does not have
  kNotAStore,         // the file is not a store at all
};

// The public error number of `kind`.
std::int32_t StoreFailureNumber(StoreFailure kind);

// The error for a failure of `kind`, described as `description`.
QbError StoreError(StoreFailure kind, const std::string& description);

// Whether `error` is a store failure of `kind`.
bool IsStoreFailure(const QbError& error, StoreFailure kind);

}  // namespace qb
