#pragma once
// SQLite's text of each of the board's statements (storage/statement.h).
// The handlers' queries name their parameters ":pName"; the others number
// them ?1, ?2...
#include <string_view>

#include "storage/statement.h"

namespace qb {

std::string_view SqliteText(Statement statement);

}  // namespace qb
