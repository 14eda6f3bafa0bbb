#pragma once
// PostgreSQL's failures as the store's errors: numbered as SQLite numbers
// the same kind of failure (storage/database.h), and described without the
// connection string, host, user or password, which visitors see on the
// error page.
#include <string>

#include "gateway/qb_error.h"

struct pg_conn;
struct pg_result;

namespace qb {

// The connection could not be made, or was lost: the server cannot be
// reached, did not answer in time, has too many clients, refused the login
// (with the server's reason, names left out) or does not know the database
// or user. All 3014, the number of a store that cannot be opened.
QbError PgConnectionError(pg_conn* conn, const std::string& context);
// Statement `result` failed on `conn` (result may be null when libpq had no
// memory or lost the connection before any answer).
QbError PgStatementError(pg_conn* conn, const pg_result* result, const std::string& context);

}  // namespace qb
