#pragma once
// A connection to the PostgreSQL server on which every wait has an end.
//
// libpq runs non-blocking here: a statement is sent, and its answer awaited
// with poll(), at most ServerWaits::silence after the server last sent or
// took a byte; a server that stays silent longer (its backend stopped, its
// host gone) is given up, the connection closed, and the request ends with
// error StoreFailure::kCannotOpen. A statement that the server works on, or that waits for a
// lock, is ended by the server itself after ServerWaits::statement: each
// statement outside a transaction runs in a pipeline after a set_config of
// statement_timeout, both in the one implicit transaction that lasts until
// the pipeline's end, and a transaction sets it when it begins (Begin).
// Both hold with a pooler such as pgbouncer in front of the server, which
// hands each transaction whichever server connection is free: nothing is
// set for the session.
#include <memory>
#include <string>

#include "storage/database.h"

struct pg_conn;
struct pg_result;

namespace qb {

struct PgResultDeleter {
  void operator()(pg_result* result) const;
};
using PgResultPtr = std::unique_ptr<pg_result, PgResultDeleter>;

// The values of one statement, as PQexecParams takes them.
struct PgValues {
  int count = 0;
  const unsigned int* types = nullptr;
  const char* const* data = nullptr;
  const int* lengths = nullptr;
  const int* formats = nullptr;
};

class PgLink {
 public:
  // `conn` stays the caller's; it is made non-blocking.
  PgLink(pg_conn* conn, const ServerWaits& waits);

  pg_conn* Conn() const { return conn_; }
  // Whether a wait on this connection outlasted the silence limit, which
  // closed it.
  bool GaveUp() const { return gaveUp_; }

  // Runs `sql` (one or more statements, no values) and gives the result of
  // the last; a statement that fails raises its error, described as
  // `context`'s.
  PgResultPtr Exec(const std::string& sql, const std::string& context);
  // Opens a transaction whose statements each end after the statement
  // limit, and runs `first` in it (no values), in the same round trip.
  void Begin(const std::string& context, const std::string& first = "");
  // Runs one statement with `values`, its result in `resultFormat`; outside
  // a transaction it ends after the statement limit.
  PgResultPtr Run(const std::string& sql, const PgValues& values, int resultFormat, const std::string& context);

 private:
  // Sends what libpq holds and waits until the next result can be read
  // without blocking; raises StoreFailure::kCannotOpen when the server
  // stays silent too long.
  void Await(const std::string& context);
  PgResultPtr Next(const std::string& context);
  [[noreturn]] void Fail(const pg_result* result, const std::string& context);

  pg_conn* conn_;
  ServerWaits waits_;
  std::string limitSql_;  // sets statement_timeout for the transaction
  bool gaveUp_ = false;
};

}  // namespace qb
