#include "storage/postgres/pg_error.h"

#include <libpq-fe.h>

#include <string>
#include <string_view>

namespace qb {
namespace {

// The reason the server (or libpq, when it had no password to send) gave
// for refusing a login, from a message such as `connection to server at
// "db", port 5432 failed: FATAL:  password authentication failed for user
// "qb"`: up to the first name it quotes, so that no user, host or database
// is shown ("password authentication failed", "no pg_hba.conf entry").
std::string LoginRefusal(std::string_view message) {
  std::size_t at = message.find("FATAL:  ");
  if (at != std::string_view::npos) {
    at += 8;
  } else if ((at = message.find("fe_sendauth: ")) != std::string_view::npos) {
    at += 13;
  } else {
    return "";
  }
  std::string_view reason = message.substr(at, message.find_first_of("\"\n", at) - at);
  while (reason.ends_with(' ')) reason.remove_suffix(1);
  for (const std::string_view named : {" for user", " for host", " for role"}) {
    if (reason.ends_with(named)) reason.remove_suffix(named.size());
  }
  return std::string(reason);
}

}  // namespace

StoreFailure PgFailure(std::string_view state) {
  if (state.starts_with("08") || state == "57P01" || state == "57P02" || state == "57P03") {
    return StoreFailure::kCannotOpen;
  }
  if (state == "25006" || state == "42501") return StoreFailure::kReadOnly;
  // 57014: a statement that outlasted statement_timeout, as PgLink sets it.
  if (state == "55P03" || state == "40P01" || state == "40001" || state == "57014") return StoreFailure::kBusy;
  if (state.starts_with("53")) return StoreFailure::kFull;
  if (state == "22001" || state == "54000") return StoreFailure::kTooBig;
  if (state.starts_with("23")) return StoreFailure::kConstraint;
  return StoreFailure::kFailed;
}

QbError PgConnectionError(pg_conn* conn, const std::string& context) {
  // libpq's own text names the host, port or socket and the user: it is
  // summed up instead.
  const std::string_view message = conn != nullptr ? PQerrorMessage(conn) : "";
  const auto says = [&message](std::string_view words) { return message.find(words) != std::string_view::npos; };
  std::string reason;
  if (says("too many clients") || says("connection slots are reserved")) {
    reason = "the database server has too many clients already";
  } else if (says("password") || says("authentication") || says("pg_hba.conf")) {
    reason = "the database server refused the login";
    if (const std::string why = LoginRefusal(message); !why.empty()) reason.append(": ").append(why);
  } else if (says("does not exist")) {
    reason = "the database or user named in the settings does not exist";
  } else if (says("timeout expired")) {
    reason = "the database server did not answer";
  } else {
    reason = "the database server cannot be reached";
  }
  return StoreError(StoreFailure::kCannotOpen, context + ": " + reason);
}

QbError PgStatementError(pg_conn* conn, const pg_result* result, const std::string& context) {
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  if (PQstatus(conn) == CONNECTION_BAD || state == nullptr) {
    return StoreError(StoreFailure::kCannotOpen, context + ": the connection to the database server was lost");
  }
  const char* message = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
  return StoreError(PgFailure(state), context + ": " + (message != nullptr ? message : state));
}

}  // namespace qb
