#include "storage/postgres/pg_link.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <climits>

#include "gateway/qb_error.h"
#include "storage/postgres/pg_error.h"
#include "storage/store_failure.h"

namespace qb {
namespace {

using Clock = std::chrono::steady_clock;

// Waits until the connection's socket is ready for `events`; false when
// `deadline` passed first.
bool Ready(PGconn* conn, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd socket{PQsocket(conn), events, 0};
    const int ready = ::poll(&socket, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
    if (ready > 0 || (ready < 0 && errno != EINTR)) return true;  // a failure libpq then reports
  }
}

bool Failed(const PGresult* result) {
  const ExecStatusType status = PQresultStatus(result);
  return status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_PIPELINE_SYNC;
}

}  // namespace

void PgResultDeleter::operator()(pg_result* result) const { PQclear(result); }

PgLink::PgLink(PGconn* conn, const ServerWaits& waits) : conn_(conn), waits_(waits) {
  // An operator's shorter limit (for the server, database or user) stays.
  std::string limit(1, '\'');
  limit.append(std::to_string(waits_.statement.count())).append("ms'");
  limitSql_ = "SELECT set_config('statement_timeout', " + limit +
              ", true) WHERE current_setting('statement_timeout')::interval NOT BETWEEN '1ms' AND " + limit;
  PQsetnonblocking(conn_, 1);
}

void PgLink::Await(const std::string& context) {
  auto deadline = Clock::now() + waits_.silence;
  for (;;) {
    const int unsent = PQflush(conn_);  // 1: more to send, -1: failed (the result says why)
    if (unsent < 0 || (unsent == 0 && PQisBusy(conn_) == 0)) return;
    if (!Ready(conn_, unsent != 0 ? POLLIN | POLLOUT : POLLIN, deadline)) break;
    if (PQconsumeInput(conn_) == 0) return;    // the connection failed
    deadline = Clock::now() + waits_.silence;  // the server sent or took something
  }
  // Closing the socket marks the connection broken, so that nothing waits on
  // it again; the server rolls back what it had begun.
  gaveUp_ = true;
  ::shutdown(PQsocket(conn_), SHUT_RDWR);
  PQconsumeInput(conn_);
  throw StoreError(StoreFailure::kCannotOpen, context + ": the database server stopped answering");
}

PgResultPtr PgLink::Next(const std::string& context) {
  Await(context);
  return PgResultPtr(PQgetResult(conn_));
}

void PgLink::Fail(const PGresult* result, const std::string& context) {
  throw PgStatementError(conn_, result, context);
}

PgResultPtr PgLink::Exec(const std::string& sql, const std::string& context) {
  if (PQsendQuery(conn_, sql.c_str()) == 0) Fail(nullptr, context);
  // The results of the statements in turn; after one fails the server runs
  // none of the rest.
  PgResultPtr last, failed;
  while (PgResultPtr result = Next(context)) {
    if (!failed && Failed(result.get())) {
      failed = std::move(result);
    } else {
      last = std::move(result);
    }
    if (PQstatus(conn_) == CONNECTION_BAD) break;
  }
  if (failed || !last) Fail(failed.get(), context);
  return last;
}

void PgLink::Begin(const std::string& context, const std::string& first) {
  Exec(first.empty() ? "BEGIN; " + limitSql_ : "BEGIN; " + limitSql_ + "; " + first, context);
}

PgResultPtr PgLink::Run(const std::string& sql, const PgValues& values, int resultFormat, const std::string& context) {
  const auto send = [&] {
    return PQsendQueryParams(conn_, sql.c_str(), values.count, values.types, values.data, values.lengths,
                             values.formats, resultFormat) != 0;
  };
  if (PQtransactionStatus(conn_) != PQTRANS_IDLE) {  // the transaction's limit holds
    if (!send()) Fail(nullptr, context);
    PgResultPtr result = Next(context);
    while (PgResultPtr more = Next(context)) {
    }
    if (result == nullptr || Failed(result.get())) Fail(result.get(), context);
    return result;
  }
  // The limit, the statement, the end of the pipeline (which commits): each
  // result followed by a null, then the pipeline's end.
  if (PQenterPipelineMode(conn_) == 0 ||
      PQsendQueryParams(conn_, limitSql_.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) == 0 || !send() ||
      PQpipelineSync(conn_) == 0) {
    Fail(nullptr, context);
  }
  PgResultPtr failed, result;
  for (int step = 0; step < 5 && PQstatus(conn_) != CONNECTION_BAD; ++step) {
    PgResultPtr next = Next(context);
    if (next != nullptr && !failed && Failed(next.get())) {
      failed = std::move(next);
    } else if (step == 2) {
      result = std::move(next);
    }
  }
  PQexitPipelineMode(conn_);
  if (failed || result == nullptr) Fail(failed.get(), context);
  return result;
}

}  // namespace qb
