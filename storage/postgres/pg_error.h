#pragma once
// PostgreSQL's failures as the store's errors: each of the kind of failure
// it is (storage/store_failure.h), and described without the connection
// string, host, user or password, which visitors see on the error page.
#include <string>
#include <string_view>

#include "gateway/qb_error.h"
#include "storage/store_failure.h"

struct pg_conn;
struct pg_result;

namespace qb {

// The connection could not be made, or was lost: the server cannot be
// reached, did not answer in time, has too many clients, refused the login
// (with the server's reason, names left out) or does not know the database
// or user. All StoreFailure::kCannotOpen.
QbError PgConnectionError(pg_conn* conn, const std::string& context);
// The kind of failure that a statement ending with SQLSTATE `state` met.
StoreFailure PgFailure(std::string_view state);
// Statement `result` failed on `conn` (result may be null when libpq had no
// memory or lost the connection before any answer).
QbError PgStatementError(pg_conn* conn, const pg_result* result, const std::string& context);

}  // namespace qb
