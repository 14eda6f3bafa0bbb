#include "storage/postgres/pg_kept.h"

#include <libpq-fe.h>

#include <utility>

namespace qb {

PgKept::~PgKept() { PQfinish(conn_); }

PGconn* PgKept::Take(const std::string& server) {
  if (conn_ != nullptr && server != server_) PQfinish(std::exchange(conn_, nullptr));
  return std::exchange(conn_, nullptr);
}

void PgKept::Keep(PGconn* conn, const std::string& server) noexcept {
  if (conn == nullptr) return;
  if (PQstatus(conn) == CONNECTION_OK && PQtransactionStatus(conn) == PQTRANS_IDLE) {
    try {
      server_ = server;
      PQfinish(std::exchange(conn_, conn));
      return;
    } catch (...) {  // no memory for the string: the connection is closed
    }
  }
  PQfinish(conn);
}

}  // namespace qb
