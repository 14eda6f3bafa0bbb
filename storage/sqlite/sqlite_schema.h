#pragma once
// The store file's schema as this program keeps it, and the SQL functions its
// queries rely on. Both are applied by Database::Open to every connection.
#include <string>

struct sqlite3;

namespace qb::schema {

// Kept in the file as PRAGMA user_version. A file made by an outside tool
// with only the bare table reads 0. Version 2 matches sellers by trimmed name
// and adds table QbGuess; version 3 adds tables QbPlace and QbPlaceExempt.
// An older store is brought up to the current version on first use.
inline constexpr int kVersion = 3;

// Registers QbId(text) and QbDate(text) (see storage/statement.h) on `db`.
void RegisterFunctions(sqlite3* db, const std::string& context);

// Brings the store at `db` to kVersion: the table (when missing), its
// indexes, the table of wrong passwords and those of placing. Does nothing
// but read user_version when the file is current.
// Safe when several processes open a new store at once.
void EnsureCurrent(sqlite3* db, const std::string& context);

}  // namespace qb::schema
