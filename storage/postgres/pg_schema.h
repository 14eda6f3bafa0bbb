#pragma once
// The ad store's schema in PostgreSQL: table qb, its indexes, the tables of
// wrong passwords and of ads placed, and the functions that carry the ad
// record's comparison rules (storage/statement.h), in the first schema of
// the connection's search path.
#include <string>

namespace qb {
class PgLink;
}

namespace qb::pgschema {

// Kept in the comment of table qb. A store made by a newer build is left as it is.
// Version 2 adds tables qbplace and qbplaceexempt; every statement of the
// schema is written to be run again, so an older store is brought up to it
// by running the whole schema once more.
inline constexpr int kVersion = 2;

// Brings the store to kVersion; a current store costs one read. Safe when
// many processes, on many hosts, open a new store at once: they take turns
// on an advisory lock, and each looks again once it has the lock. Raises
// QbError when the server cannot answer (the caller may then connect
// afresh, unless the server was given up for its silence).
void EnsureCurrent(PgLink& link, const std::string& context);

}  // namespace qb::pgschema
