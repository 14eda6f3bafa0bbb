#include "storage/sqlite/sqlite_statements.h"

#include <algorithm>
#include <string>

#include "storage/guess_limit.h"
#include "storage/place_limit.h"

namespace qb {
namespace {

// QbId(text) and QbDate(text) (sqlite_schema.h) carry the ID and date rules:
// anything but an ID or a date is NULL, so it selects no row. The category's
// LIKE ignores ASCII case by SQLite's own rule; the seller's name is
// compared with NOCASE.

// A try at time At counts until At plus its window. The limit of a window is
// reached when its kTries-th newest try still counts, and lasts until that
// try stops counting.
std::string GuessWindow(bool byAddress, std::int64_t window, int tries) {
  return "coalesce((SELECT At FROM QbGuess WHERE AdID = ?1" + std::string(byAddress ? " AND Addr = ?2" : "") +
         " AND At > ?3 - " + std::to_string(window) + " ORDER BY At DESC LIMIT 1 OFFSET " + std::to_string(tries - 1) +
         ") + " + std::to_string(window) + ", 0)";
}
static_assert(guesses::kAddressWindow >= guesses::kAdWindow, "the cleanup keeps tries for the longer window");

// These texts are built the first time they are asked for, not as the
// program starts: most requests never run them, and building them in a
// static constructor costs every CGI process time and page faults.
const std::string& GuessAllowedFrom() {
  static const std::string text = "SELECT max(" +
                                  GuessWindow(true, guesses::kAddressWindow, guesses::kTriesPerAddress) + ", " +
                                  GuessWindow(false, guesses::kAdWindow, guesses::kTriesPerAd) + ")";
  return text;
}
const std::string& GuessCleanup() {
  static const std::string text = "DELETE FROM QbGuess WHERE At <= ?1 - " + std::to_string(guesses::kAddressWindow);
  return text;
}

// The placing limit is reached when the kAdsPerAddress-th newest ad of the
// address still counts, and lasts until that ad stops counting.
const std::string& PlaceAllowedFrom() {
  static const std::string window = std::to_string(placing::kWindow);
  static const std::string text =
      "SELECT CASE WHEN EXISTS (SELECT 1 FROM QbPlaceExempt WHERE Addr = ?1) THEN -1 ELSE coalesce((SELECT At FROM "
      "QbPlace WHERE Addr = ?1 AND At > ?2 - " +
      window + " ORDER BY At DESC LIMIT 1 OFFSET " + std::to_string(placing::kAdsPerAddress - 1) + ") + " + window +
      ", 0) END";
  return text;
}
const std::string& PlaceCleanup() {
  static const std::string text = "DELETE FROM QbPlace WHERE At <= ?1 - " + std::to_string(placing::kWindow);
  return text;
}
const std::string& PlaceCounts() {
  static const std::string text =
      "SELECT Addr, count(*) FROM QbPlace WHERE At > ?1 - " + std::to_string(placing::kWindow) + " GROUP BY Addr";
  return text;
}

}  // namespace

std::string_view SqliteText(Statement statement) {
  switch (statement) {
    case Statement::kListCategory:
      // For a plain name (SqliteText below) LIKE is equality ignoring ASCII
      // case: the category's index then holds the ads in ID order, so the
      // page reads from the start ID on and stops after 101, and no
      // pattern makes SQLite plan the statement again once it is bound.
      return "SELECT * FROM QB WHERE Category = :pCat COLLATE NOCASE AND ID > coalesce(QbId(:pStart), 0) "
             "ORDER BY ID LIMIT 101";
    case Statement::kAnyExpired: return "SELECT ID FROM QB WHERE Expire < QbDate(:pName) LIMIT 1";
    case Statement::kPurgeExpired: return "DELETE FROM QB WHERE Expire < QbDate(:pName)";
    // SQLite steps through the rows as they are read: the page stops reading.
    case Statement::kShowAll: return "SELECT * FROM QB";
    case Statement::kSellerAds:
      return "SELECT * FROM QB WHERE trim(Name) = trim(:pName) COLLATE NOCASE AND ID > coalesce(QbId(:pStart), 0) "
             "ORDER BY ID LIMIT 101";
    case Statement::kAdByIdForEdit: return "SELECT * FROM QB WHERE ID = QbId(:pItem)";
    case Statement::kAdById: return "SELECT * FROM QB WHERE ID = QbId(:pName)";
    case Statement::kDeleteAd: return "DELETE FROM QB WHERE ID = QbId(:pName)";

    case Statement::kGuessAllowedFrom: return GuessAllowedFrom();
    case Statement::kGuessCount: return "INSERT INTO QbGuess (AdID, Addr, At) VALUES (?1, ?2, ?3)";
    case Statement::kGuessCleanup: return GuessCleanup();
    case Statement::kGuessForget: return "DELETE FROM QbGuess WHERE AdID = ?1 AND Addr = ?2";

    case Statement::kPlaceAllowedFrom: return PlaceAllowedFrom();
    case Statement::kPlaceCount: return "INSERT INTO QbPlace (Addr, At) VALUES (?1, ?2)";
    case Statement::kPlaceCleanup: return PlaceCleanup();
    case Statement::kPlaceCounts: return PlaceCounts();
    case Statement::kPlaceExempts: return "SELECT Addr FROM QbPlaceExempt";
    case Statement::kPlaceCountOf: return "SELECT count(*) FROM QbPlace WHERE Addr = ?1";
    case Statement::kPlaceCountAll: return "SELECT count(*) FROM QbPlace";
    case Statement::kPlaceClearOf: return "DELETE FROM QbPlace WHERE Addr = ?1";
    case Statement::kPlaceClearAll: return "DELETE FROM QbPlace";
    case Statement::kPlaceExempt:
      return "INSERT INTO QbPlaceExempt (Addr) VALUES (?1) ON CONFLICT DO NOTHING RETURNING 1";
    case Statement::kPlaceUnexempt: return "DELETE FROM QbPlaceExempt WHERE Addr = ?1 RETURNING 1";

    // The ID key is SQLite's INTEGER PRIMARY KEY.
    case Statement::kTableColumns:
      return "SELECT name, type, pk = 1 AND type = 'INTEGER' COLLATE NOCASE FROM pragma_table_info('QB')";
    case Statement::kAdsPerDay:
      return "SELECT QbDate(Date) AS Day, count(*) FROM QB WHERE Day BETWEEN ?1 AND ?2 GROUP BY Day ORDER BY Day";
    case Statement::kAllExpiryDays: return "SELECT ID, Expire FROM QB";
  }
  return {};
}

std::string_view SqliteText(Statement statement, std::string_view name, std::string_view value) {
  // A name with a pattern character, a byte outside ASCII (which LIKE reads
  // as UTF-8) or a NUL is matched by LIKE itself. Its IDs are picked from the
  // category's index alone before any ad is read.
  const auto plain = [](unsigned char c) { return c != '%' && c != '_' && c != 0 && c < 0x80; };
  if (statement == Statement::kListCategory && name == "pCat" && !std::ranges::all_of(value, plain)) {
    return "SELECT * FROM QB WHERE ID IN (SELECT ID FROM QB WHERE Category LIKE :pCat "
           "AND ID > coalesce(QbId(:pStart), 0) ORDER BY ID LIMIT 101) ORDER BY ID";
  }
  return SqliteText(statement);
}

}  // namespace qb
