#pragma once
// What a resident process keeps of a PostgreSQL store between requests
// (storage/kept_store.h): its connection to the server, idle (no
// transaction open).
#include <string>

#include "storage/kept_store.h"

struct pg_conn;

namespace qb {

class PgKept final : public KeptConnection {
 public:
  PgKept() = default;
  ~PgKept() override;

  // The kept connection to the server that connection string `server`
  // names, which the caller now owns; null when there is none.
  pg_conn* Take(const std::string& server);
  // Keeps `conn`, connected with `server`, when it is at rest; one that is
  // broken or has a transaction open is closed instead (the server then
  // rolls the transaction back), as waiting here for a ROLLBACK could have
  // no end.
  void Keep(pg_conn* conn, const std::string& server) noexcept;

 private:
  pg_conn* conn_ = nullptr;
  std::string server_;
};

}  // namespace qb
