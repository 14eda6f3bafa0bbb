#include "storage/ad_maintenance.h"

#include <algorithm>
#include <deque>
#include <set>
#include <span>

#include "gateway/ascii_text.h"
#include "gateway/qb_error.h"
#include "storage/ad_record.h"
#include "storage/store_failure.h"
#include "storage/store_maintenance.h"
#include "storage/write_transaction.h"

namespace qb::maintenance {
namespace {

// Rows read per batch: small enough that each read holds the store's shared
// lock for a moment only. Changes by ID go in batches of as many.
constexpr std::size_t kBatchRows = 500;
// Rows per INSERT of an import (14 values each, well within both stores'
// limits on a statement's parameters).
constexpr std::size_t kImportRows = 100;
const std::string kContext = "The ad store";

// A statement put together at run time in the SQL of the store at hand,
// with the values of its parameters; each marker goes into the text as its
// value is bound.
class BuiltStatement {
 public:
  explicit BuiltStatement(StoreMaintenance& store) : store_(store) {}
  BuiltStatement& Sql(std::string_view text) {
    sql_.append(text);
    return *this;
  }
  // Adds a parameter holding `value`; returns its marker.
  std::string Bind(SqlValue value) {
    values_.push_back(value);
    return store_.Marker(values_.size());
  }
  std::string Bind(std::string text) {
    texts_.push_back(std::move(text));
    return Bind(std::string_view(texts_.back()));
  }
  // Adds `condition` on `value`, after `joiner`.
  BuiltStatement& Condition(std::string_view joiner, AdCondition condition, std::string value) {
    const std::string marker = Bind(std::move(value));
    return Sql(joiner).Sql(store_.Condition(condition, marker));
  }
  std::string Column(std::size_t i) const { return store_.Column(i); }
  std::string Columns(std::size_t first = 0) const {
    std::string list;
    for (std::size_t i = first; i < kAdColumns.size(); ++i) list += (i > first ? ", " : "") + Column(i);
    return list;
  }
  std::string ValueFor(std::size_t column, const std::string& marker) const { return store_.ValueFor(column, marker); }
  std::vector<SqlValue>& Values() { return values_; }

  std::int64_t Run() const { return store_.Run(sql_, values_); }
  void ForEachRow(const std::function<void(SqlRow)>& row) const { store_.ForEachRow(sql_, values_, row); }

 private:
  StoreMaintenance& store_;
  std::string sql_;
  std::deque<std::string> texts_;  // the texts values_ views; a deque keeps them in place
  std::vector<SqlValue> values_;
};

// Appends the filter's conditions, each after AND.
void AddConditions(BuiltStatement& s, const AdFilter& f, const CivilDate& today) {
  if (f.category) s.Condition(" AND ", AdCondition::kCategoryLike, *f.category);
  if (f.seller) s.Condition(" AND ", AdCondition::kSellerIs, *f.seller);
  if (f.email) s.Condition(" AND ", AdCondition::kEmailContains, *f.email);
  if (f.address) s.Sql(" AND " + s.Column(12) + " = " + s.Bind(*f.address));
  if (f.since) s.Condition(" AND ", AdCondition::kPlacedSince, IsoDateText(*f.since));
  if (f.expired) s.Condition(" AND ", AdCondition::kExpiresBefore, IsoDateText(today));
}

AdRow ReadRow(SqlRow row) {
  AdRow ad;
  for (std::size_t i = 0; i < ad.values.size() && i < row.size(); ++i) {
    if (row[i]) ad.values[i].emplace(*row[i]);
  }
  return ad;
}

std::int64_t Number(const std::optional<std::string_view>& text) { return text ? std::stoll(std::string(*text)) : 0; }

// Adds `ids` to `s` as a parenthesized list of parameters.
void AddIdList(BuiltStatement& s, std::span<const std::int64_t> ids) {
  s.Sql(" (");
  for (std::size_t i = 0; i < ids.size(); ++i) s.Sql((i > 0 ? ", " : "") + s.Bind(ids[i]));
  s.Sql(")");
}

// The first of the rows' IDs that the store holds already.
std::optional<std::int64_t> FirstTaken(StoreMaintenance& store, std::span<const AdRow> rows) {
  std::vector<std::int64_t> ids;
  for (const AdRow& row : rows) ids.push_back(Number(row.values[0]));
  BuiltStatement s(store);
  s.Sql("SELECT ID FROM QB WHERE ID IN");
  AddIdList(s, ids);
  std::set<std::int64_t> present;
  s.ForEachRow([&](SqlRow row) { present.insert(Number(row[0])); });
  for (const std::int64_t id : ids) {
    if (present.contains(id)) return id;
  }
  return std::nullopt;
}

// Adds the rows in one statement, with their IDs or (`renumber`) new ones.
// A text is bound as its bytes, which each column takes as the store says.
void Insert(StoreMaintenance& store, std::span<const AdRow> rows, bool renumber) {
  const std::size_t first = renumber ? 1 : 0;
  BuiltStatement s(store);
  s.Sql("INSERT INTO QB (" + s.Columns(first) + ") VALUES ");
  for (const AdRow& row : rows) {
    s.Sql(&row == rows.data() ? "(" : ", (");
    for (std::size_t i = first; i < row.values.size(); ++i) {
      const std::optional<std::string>& value = row.values[i];
      const std::string p = !value   ? s.Bind(SqlValue(nullptr))
                            : i == 0 ? s.Bind(Number(*value))
                                     : s.Bind(std::string_view(*value));
      s.Sql(i > first ? ", " : "").Sql(s.ValueFor(i, p));
    }
    s.Sql(")");
  }
  s.Run();
}

// What is wrong with table QB's columns and key.
void CheckColumns(Database& db, StoreMaintenance& store, std::vector<std::string>& problems) {
  const std::string table(store.TableName());
  std::vector<std::string> columns;
  bool idIsKey = false;
  db.ForEachRow(Statement::kTableColumns, {}, [&](SqlRow row) {
    const std::string name(row[0].value_or("")), type(row[1].value_or(""));
    const std::size_t i = columns.size();
    if (EqualsIgnoreCase(name, "ID")) idIsKey = row[2] == "1";
    const auto wanted = i > 0 && i < kAdColumns.size() ? store.RequiredType(i) : std::nullopt;
    if (wanted && type != *wanted) {
      problems.push_back("schema: column " + name + " of table " + table + " should be " + std::string(*wanted) +
                         ", is " + type);
    }
    columns.push_back(name);
  });
  for (std::size_t i = 0; i < kAdColumns.size(); ++i) {
    if (i >= columns.size() || !EqualsIgnoreCase(columns[i], kAdColumns[i])) {
      problems.push_back("schema: column " + std::to_string(i + 1) + " of table " + table + " should be " +
                         std::string(kAdColumns[i]) + ", is " + (i < columns.size() ? columns[i] : "missing"));
    }
  }
  if (columns.size() > kAdColumns.size()) {
    problems.push_back("schema: table " + table + " has columns the board does not know");
  }
  if (!columns.empty() && !idIsKey) problems.push_back("schema: " + store.KeyProblem());
}

}  // namespace

void ForEachAd(Database& db, const AdFilter& filter, const CivilDate& today,
               const std::function<void(const AdRow&)>& sink) {
  const auto store = db.Maintenance();
  BuiltStatement s(*store);
  const std::string after = s.Bind(std::int64_t{-1});
  s.Sql("SELECT " + s.Columns() + " FROM QB WHERE ID > " + after);
  AddConditions(s, filter, today);
  s.Sql(" ORDER BY ID LIMIT " + std::to_string(kBatchRows));
  for (std::size_t read = kBatchRows; read == kBatchRows;) {
    read = 0;
    // Each batch's read has ended before the sink sees its first row.
    s.ForEachRow([&](SqlRow row) {
      s.Values()[0] = Number(row[0]);
      ++read;
      sink(ReadRow(row));
    });
  }
}

std::vector<std::int64_t> MatchingIds(Database& db, const AdFilter& filter, const CivilDate& today) {
  const auto store = db.Maintenance();
  BuiltStatement s(*store);
  s.Sql("SELECT ID FROM QB WHERE TRUE");
  AddConditions(s, filter, today);
  s.Sql(" ORDER BY ID");
  std::vector<std::int64_t> ids;
  s.ForEachRow([&](SqlRow row) { ids.push_back(Number(row[0])); });
  return ids;
}

long long CountMatching(Database& db, const AdFilter& filter, const CivilDate& today) {
  const auto store = db.Maintenance();
  BuiltStatement s(*store);
  s.Sql("SELECT count(*) FROM QB WHERE TRUE");
  AddConditions(s, filter, today);
  return s.Run();
}

std::optional<AdRow> FindAd(Database& db, std::int64_t id) {
  const auto store = db.Maintenance();
  BuiltStatement s(*store);
  s.Sql("SELECT " + s.Columns() + " FROM QB WHERE ID = " + s.Bind(id));
  std::optional<AdRow> ad;
  s.ForEachRow([&](SqlRow row) { ad = ReadRow(row); });
  return ad;
}

std::vector<std::int64_t> DeleteAds(Database& db, const std::vector<std::int64_t>& ids) {
  const auto store = db.Maintenance();
  std::multiset<std::int64_t> deleted;
  WriteTransaction transaction(db);
  for (std::size_t at = 0; at < ids.size(); at += kBatchRows) {
    BuiltStatement s(*store);
    s.Sql("DELETE FROM QB WHERE ID IN");
    AddIdList(s, std::span(ids).subspan(at, std::min(kBatchRows, ids.size() - at)));
    s.Sql(" RETURNING ID");
    s.ForEachRow([&](SqlRow row) { deleted.insert(Number(row[0])); });
  }
  transaction.Commit();
  // An ID given twice is deleted once; the second is missing, as it would
  // be deleted one by one.
  std::vector<std::int64_t> missing;
  for (const std::int64_t id : ids) {
    if (const auto found = deleted.find(id); found != deleted.end()) {
      deleted.erase(found);
    } else {
      missing.push_back(id);
    }
  }
  return missing;
}

long long PurgeExpired(Database& db, const CivilDate& today) {
  // The very query the category listing runs after its page.
  const std::unique_ptr<QueryDef> purge = db.CreateQueryDef(Statement::kPurgeExpired);
  purge->SetParameter("pName", UsDateText(today));
  purge->Execute();
  return purge->RowsAffected();
}

bool SetPassword(Database& db, std::int64_t id, std::string_view password) {
  const auto store = db.Maintenance();
  BuiltStatement s(*store);
  const std::string p = s.Bind(password);
  s.Sql("UPDATE QB SET Password = " + p + " WHERE ID = " + s.Bind(id) + " RETURNING 1");
  WriteTransaction transaction(db);
  const bool found = s.Run() == 1;
  transaction.Commit();
  return found;
}

void ImportAds(Database& db, const std::vector<AdRow>& rows, bool renumber) {
  const auto store = db.Maintenance();
  store->BeforeImport();
  std::optional<std::int64_t> taken;
  try {
    WriteTransaction transaction(db);
    store->HoldOffNewAds();
    for (std::size_t at = 0; at < rows.size(); at += kImportRows) {
      const std::span batch = std::span(rows).subspan(at, std::min(kImportRows, rows.size() - at));
      if (!renumber && (taken = FirstTaken(*store, batch))) break;
      Insert(*store, batch, renumber);
    }
    if (!renumber && !rows.empty() && !taken) store->AfterImport();
    if (!taken) transaction.Commit();
  } catch (const QbError& e) {
    throw QbError(e.Number(), kContext + ": importing ads, nothing was imported: " + e.Description());
  }
  if (taken) {
    throw StoreError(StoreFailure::kConstraint,
                     "Ad " + std::to_string(*taken) + " is already in the store; nothing was imported");
  }
}

StoreStats CollectStats(Database& db, const CivilDate& today, int days) {
  StoreStats stats;
  stats.total = CountMatching(db, {}, today);
  AdFilter expired;
  expired.expired = true;
  stats.expired = CountMatching(db, expired, today);
  const std::string from = IsoDateText(AddDays(today, 1 - days)), to = IsoDateText(today);
  const SqlValue period[] = {from, to};
  db.ForEachRow(Statement::kAdsPerDay, period, [&](SqlRow row) {
    if (const auto date = row[0] ? ParseIsoDate(std::string(*row[0])) : std::nullopt) {
      stats.perDay.emplace_back(*date, Number(row[1]));
    }
  });
  return stats;
}

std::vector<std::string> CheckStore(Database& db) {
  const auto store = db.Maintenance();
  std::vector<std::string> problems = store->IntegrityProblems();
  CheckColumns(db, *store, problems);
  if (problems.empty()) {
    long long badExpire = 0;
    std::string example;
    db.ForEachRow(Statement::kAllExpiryDays, {}, [&](SqlRow row) {
      if (!row[1] || !ParseIsoDate(std::string(*row[1]))) {
        if (badExpire++ == 0) example = std::string(row[0].value_or(""));
      }
    });
    if (badExpire > 0) {
      const bool one = badExpire == 1;
      problems.push_back("data: " + std::to_string(badExpire) + (one ? " ad (ad " : " ads (ad ") + example +
                         (one ? ") has" : " among them) have") + " an Expire that is not a YYYY-MM-DD date and " +
                         (one ? "is" : "are") + " never purged");
    }
  }
  return problems;
}

std::string CheckCovers(Database& db) { return std::string(db.Maintenance()->CheckCovers()); }

long long CountUnlisted(Database& db, const std::vector<std::string>& names) {
  const auto store = db.Maintenance();
  BuiltStatement s(*store);
  s.Sql("SELECT count(*) FROM QB WHERE NOT (FALSE");
  for (const std::string& name : names) s.Condition(" OR ", AdCondition::kListedUnder, name);
  return s.Sql(")").Run();
}

void BackupStore(Database& db, const std::string& file) { db.Maintenance()->Backup(file); }

}  // namespace qb::maintenance
