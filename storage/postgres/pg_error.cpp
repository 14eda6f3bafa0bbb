#include "storage/postgres/pg_error.h"

#include <libpq-fe.h>

#include <cstring>
#include <string_view>

namespace qb {
namespace {

// SQLite's primary result codes, which the store's error numbers are built on.
constexpr int kError = 1, kBusy = 5, kReadOnly = 8, kInterrupt = 9, kFull = 13, kCantOpen = 14, kTooBig = 18,
              kConstraint = 19;

int CodeOf(std::string_view state) {
  if (state.starts_with("08") || state == "57P01" || state == "57P02" || state == "57P03") return kCantOpen;
  if (state == "25006" || state == "42501") return kReadOnly;
  if (state == "55P03" || state == "40P01" || state == "40001") return kBusy;
  if (state == "57014") return kInterrupt;
  if (state.starts_with("53")) return kFull;
  if (state == "22001" || state == "54000") return kTooBig;
  if (state.starts_with("23")) return kConstraint;
  return kError;
}

}  // namespace

QbError PgConnectionError(pg_conn* conn, const std::string& context) {
  // libpq's own text names the host, port or socket and the user: it is
  // summed up instead.
  const char* message = conn != nullptr ? PQerrorMessage(conn) : "";
  const char* reason = std::strstr(message, "password") != nullptr || std::strstr(message, "authentication") != nullptr
                           ? "the database server refused the login"
                       : std::strstr(message, "does not exist") != nullptr
                           ? "the database or user named in the settings does not exist"
                           : "the database server cannot be reached";
  std::string description = context;
  description.append(": ").append(reason);
  return QbError(kErrStoreBase + kCantOpen, description);
}

QbError PgStatementError(pg_conn* conn, const pg_result* result, const std::string& context) {
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  if (PQstatus(conn) == CONNECTION_BAD || state == nullptr) {
    return QbError(kErrStoreBase + kCantOpen, context + ": the connection to the database server was lost");
  }
  const char* message = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
  return QbError(kErrStoreBase + CodeOf(state), context + ": " + (message != nullptr ? message : state));
}

}  // namespace qb
