#pragma once
// The operator's tool's access to a PostgreSQL store
// (storage/store_maintenance.h).
#include "storage/postgres/pg_database.h"
#include "storage/store_maintenance.h"

namespace qb {

class PgMaintenance final : public StoreMaintenance {
 public:
  explicit PgMaintenance(PgDatabase& db) : db_(db) {}
  std::int64_t Run(std::string_view sql, std::span<const SqlValue> values) override;
  void ForEachRow(std::string_view sql, std::span<const SqlValue> values,
                  const std::function<void(SqlRow)>& row) override;
  std::string Marker(std::size_t number) const override;
  std::string Column(std::size_t column) const override;
  std::string ValueFor(std::size_t column, const std::string& marker) const override;
  std::string Condition(AdCondition condition, const std::string& marker) const override;
  void BeforeImport() override {}
  void HoldOffNewAds() override;
  void AfterImport() override;
  // A PostgreSQL server's files are checked with its own tools.
  std::string_view CheckCovers() const override { return "schema and expiry dates"; }
  std::string_view TableName() const override { return "qb"; }
  std::vector<std::string> IntegrityProblems() override { return {}; }
  std::optional<std::string_view> RequiredType(std::size_t column) const override;
  std::string KeyProblem() const override { return "id is not the table's bigint identity primary key"; }
  void Backup(const std::string& file) override;

 private:
  PgDatabase& db_;
};

}  // namespace qb
