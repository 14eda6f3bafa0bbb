#pragma once
// The operator's tool's access to a SQLite store (storage/store_maintenance.h).
#include "storage/sqlite/sqlite_database.h"
#include "storage/store_maintenance.h"

namespace qb {

class SqliteMaintenance final : public StoreMaintenance {
 public:
  explicit SqliteMaintenance(SqliteDatabase& db) : db_(db) {}
  std::int64_t Run(std::string_view sql, std::span<const SqlValue> values) override;
  void ForEachRow(std::string_view sql, std::span<const SqlValue> values,
                  const std::function<void(SqlRow)>& row) override;
  std::string Marker(std::size_t number) const override;
  std::string Column(std::size_t column) const override;
  std::string ValueFor(std::size_t column, const std::string& marker) const override;
  std::string Condition(AdCondition condition, const std::string& marker) const override;
  void BeforeImport() override;
  void HoldOffNewAds() override {}
  void AfterImport() override {}
  std::string_view CheckCovers() const override { return "integrity, schema and expiry dates"; }
  std::string_view TableName() const override { return "QB"; }
  std::vector<std::string> IntegrityProblems() override;
  std::optional<std::string_view> RequiredType(std::size_t) const override { return std::nullopt; }
  std::string KeyProblem() const override { return "ID is not the table's INTEGER PRIMARY KEY"; }
  void Backup(const std::string& file) override;

 private:
  SqliteDatabase& db_;
};

}  // namespace qb
