#include "storage/postgres/pg_maintenance.h"

#include "gateway/ascii_text.h"
#include "gateway/qb_error.h"
#include "storage/ad_record.h"

namespace qb {
namespace {

constexpr std::size_t kExpireColumn = 8;

}  // namespace

std::unique_ptr<StoreMaintenance> PgDatabase::Maintenance() { return std::make_unique<PgMaintenance>(*this); }

std::int64_t PgMaintenance::Run(std::string_view sql, std::span<const SqlValue> values) {
  return db_.RunSql(sql, values);
}

void PgMaintenance::ForEachRow(std::string_view sql, std::span<const SqlValue> values,
                               const std::function<void(SqlRow)>& row) {
  db_.ForEachRowOfSql(sql, values, row);
}

std::string PgMaintenance::Marker(std::size_t number) const { return std::string("$").append(std::to_string(number)); }

// Quoted, as Desc and Date are SQL words; PostgreSQL names its columns in
// lower case.
std::string PgMaintenance::Column(std::size_t column) const { return '"' + AsciiLower(kAdColumns[column]) + '"'; }

// Texts are bound as their bytes; Expire takes its text as a date.
std::string PgMaintenance::ValueFor(std::size_t column, const std::string& marker) const {
  return column == kExpireColumn ? marker + "::text::date" : marker;
}

// A day is bound as "YYYY-MM-DD", which PostgreSQL reads as a date in every
// DateStyle. An email is searched as bytes (qb_fold's text decoded back,
// ASCII letters folded), so that the text cannot match inside an escape such
// as \201.
std::string PgMaintenance::Condition(AdCondition condition, const std::string& p) const {
  switch (condition) {
    case AdCondition::kCategoryLike: return "qb_fold(category) ~ qb_like(" + p + ")";
    case AdCondition::kListedUnder: return "qb_fold(coalesce(category, ''::bytea)) ~ qb_like(" + p + ")";
    case AdCondition::kSellerIs: return "qb_fold(btrim(name, ' '::bytea)) = qb_fold(btrim(" + p + ", ' '::bytea))";
    case AdCondition::kEmailContains:
      return "position(decode(qb_fold(" + p + "), 'escape') in decode(qb_fold(email), 'escape')) > 0";
    case AdCondition::kPlacedSince: return "qb_date(\"date\") >= " + p + "::text::date";
    case AdCondition::kExpiresBefore: return "expire < " + p + "::text::date";
  }
  return "FALSE";
}

// The board's requests add ads without the write lock: the table lock keeps
// them (not readers) waiting until the IDs are settled.
void PgMaintenance::HoldOffNewAds() { db_.RunSql("LOCK TABLE qb IN SHARE ROW EXCLUSIVE MODE", {}); }

// Ads placed later take IDs after the largest one now stored (SQLite's
// AUTOINCREMENT does this itself); the sequence never goes back.
void PgMaintenance::AfterImport() {
  db_.RunSql(
      "SELECT setval(s, greatest((SELECT max(id) FROM qb), nextval(s) - 1, 1)) "
      "FROM pg_get_serial_sequence('qb', 'id') AS s",
      {});
}

// Texts must be bytea to hold any byte, Expire a date.
std::optional<std::string_view> PgMaintenance::RequiredType(std::size_t column) const {
  return column == kExpireColumn ? "date" : "bytea";
}

void PgMaintenance::Backup(const std::string&) {
  throw QbError(kErrInvalidArgument,
                "backup copies the SQLite file qb.db; this site keeps its ads in PostgreSQL, "
                "so back them up with PostgreSQL's pg_dump (qbadmin export gives a CSV copy)");
}

}  // namespace qb
