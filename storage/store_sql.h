#pragma once
// A statement as each kind of store writes it. The handlers name what they
// run; the store they are given picks its own text.
#include <string_view>

namespace qb {

enum class StoreKind { kSqlite, kPostgres };

struct StoreSql {
  std::string_view sqlite;
  std::string_view postgres;
  constexpr std::string_view For(StoreKind kind) const { return kind == StoreKind::kSqlite ? sqlite : postgres; }
};

}  // namespace qb
