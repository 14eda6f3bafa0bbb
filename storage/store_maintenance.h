#pragma once
// What the operator's tool's store operations (storage/ad_maintenance.h)
// need from a store besides the board's named statements: the pieces of the
// statements they put together at run time (a filter's conditions, lists of
// IDs, rows to import), in the store's own SQL, and the steps in which stores
// differ. Each store supplies its own (Database::Maintenance).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/database.h"

namespace qb {

// A condition on an ad, on one value (bound by the caller, which gives its
// marker). Texts compare as the board's queries compare them
// (storage/statement.h); days are given as "YYYY-MM-DD".
enum class AdCondition {
  kCategoryLike,   // Category matches the value as a category page matches it
  kListedUnder,    // the same, an ad without a Category taken as having an empty one
  kSellerIs,       // Name matches the value as the seller lookup matches it
  kEmailContains,  // Email contains the value, ASCII case ignored
  kPlacedSince,    // Date (placed or last updated) on the value's day or later
  kExpiresBefore,  // Expire before the value's day
};

class StoreMaintenance {
 public:
  virtual ~StoreMaintenance() = default;

  // Runs `sql`, a statement in this store's SQL put together from the pieces
  // below, with `values` bound to its markers; as Database::RunStatement and
  // Database::ForEachRow run theirs.
  virtual std::int64_t Run(std::string_view sql, std::span<const SqlValue> values) = 0;
  virtual void ForEachRow(std::string_view sql, std::span<const SqlValue> values,
                          const std::function<void(SqlRow)>& row) = 0;

  // The marker of the `number`-th value (from 1); markers go into a
  // statement's text in the order of their values.
  virtual std::string Marker(std::size_t number) const = 0;
  // Column `column` of table QB (kAdColumns), quoted.
  virtual std::string Column(std::size_t column) const = 0;
  // The text bound at `marker` as column `column` stores it.
  virtual std::string ValueFor(std::size_t column, const std::string& marker) const = 0;
  // `condition` on the value bound at `marker`.
  virtual std::string Condition(AdCondition condition, const std::string& marker) const = 0;

  // An import's steps. BeforeImport comes before its transaction begins;
  // HoldOffNewAds first thing in it, so that ads placed meanwhile wait (not
  // readers) until the IDs are settled; AfterImport before it commits, when
  // the rows kept their IDs, so that ads placed later take IDs after the
  // largest one stored.
  virtual void BeforeImport() = 0;
  virtual void HoldOffNewAds() = 0;
  virtual void AfterImport() = 0;

  // What CheckStore looks at on this store, for the operator.
  virtual std::string_view CheckCovers() const = 0;
  // The table's name as the store reports it.
  virtual std::string_view TableName() const = 0;
  // What the store's own check of its files finds wrong, each as
  // "integrity: ..."; empty when it finds nothing or the store's files are
  // left to the server's own tools.
  virtual std::vector<std::string> IntegrityProblems() = 0;
  // The type column `column` of table QB must have (as Statement::
  // kTableColumns reports it), or none when any type will do.
  virtual std::optional<std::string_view> RequiredType(std::size_t column) const = 0;
  // What is wrong when the ID column is not the key the board needs.
  virtual std::string KeyProblem() const = 0;

  // A consistent copy of the store in `file`, taken while other processes
  // keep using the store, or a refusal (kErrInvalidArgument) when the store
  // is backed up with its own tools.
  virtual void Backup(const std::string& file) = 0;
};

}  // namespace qb
