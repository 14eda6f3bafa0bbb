#pragma once
// PostgreSQL's text of each of the board's statements (storage/statement.h).
// The handlers' queries name their parameters ":pName" (PgDatabase turns
// them into $1, $2...); the others number them $1, $2...
#include <string_view>

#include "storage/statement.h"

namespace qb {

std::string_view PgText(Statement statement);

}  // namespace qb
