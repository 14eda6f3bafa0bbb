#pragma once
// SQLite's text of each of the board's statements (storage/statement.h).
// The handlers' queries name their parameters ":pName"; the others number
// them ?1, ?2...
#include <string_view>

#include "storage/statement.h"

namespace qb {

std::string_view SqliteText(Statement statement);
// The text to run once the parameter `name` holds `value`: a statement whose
// best plan depends on a parameter has a text for each kind of value, with
// the same parameters in the same order. Any other gives SqliteText above.
std::string_view SqliteText(Statement statement, std::string_view name, std::string_view value);

}  // namespace qb
