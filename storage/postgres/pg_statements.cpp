#include "storage/postgres/pg_statements.h"

#include <string>

#include "storage/guess_limit.h"
#include "storage/place_limit.h"

namespace qb {
namespace {

// PostgreSQL keeps the texts as bytea, byte for byte as SQLite does, and has
// the comparison rules as functions of its schema (pg_schema.cpp): qb_id and
// qb_date (NULL for anything but an ID or a date), qb_fold (ASCII case
// folded, as comparable text), qb_like (a LIKE pattern as an anchored
// regular expression over qb_fold's text).

// A try at time At counts until At plus its window. The limit of a window is
// reached when its kTries-th newest try still counts, and lasts until that
// try stops counting.
std::string GuessWindow(bool byAddress, std::int64_t window, int tries) {
  return "coalesce((SELECT At FROM QbGuess WHERE AdID = $1" + std::string(byAddress ? " AND Addr = $2" : "") +
         " AND At > $3 - " + std::to_string(window) + " ORDER BY At DESC LIMIT 1 OFFSET " + std::to_string(tries - 1) +
         ") + " + std::to_string(window) + ", 0)";
}
static_assert(guesses::kAddressWindow >= guesses::kAdWindow, "the cleanup keeps tries for the longer window");

// These texts are built the first time they are asked for, not as the
// program starts: most requests never run them, and building them in a
// static constructor costs every CGI process time and page faults.
const std::string& GuessAllowedFrom() {
  static const std::string text = "SELECT greatest(" +
                                  GuessWindow(true, guesses::kAddressWindow, guesses::kTriesPerAddress) + ", " +
                                  GuessWindow(false, guesses::kAdWindow, guesses::kTriesPerAd) + ")";
  return text;
}
const std::string& GuessCleanup() {
  static const std::string text = "DELETE FROM QbGuess WHERE At <= $1 - " + std::to_string(guesses::kAddressWindow);
  return text;
}

// The placing limit is reached when the kAdsPerAddress-th newest ad of the
// address still counts, and lasts until that ad stops counting.
const std::string& PlaceAllowedFrom() {
  static const std::string window = std::to_string(placing::kWindow);
  static const std::string text =
      "SELECT CASE WHEN EXISTS (SELECT 1 FROM QbPlaceExempt WHERE Addr = $1) THEN -1 ELSE coalesce((SELECT At FROM "
      "QbPlace WHERE Addr = $1 AND At > $2 - " +
      window + " ORDER BY At DESC LIMIT 1 OFFSET " + std::to_string(placing::kAdsPerAddress - 1) + ") + " + window +
      ", 0) END";
  return text;
}
const std::string& PlaceCleanup() {
  static const std::string text = "DELETE FROM QbPlace WHERE At <= $1 - " + std::to_string(placing::kWindow);
  return text;
}
const std::string& PlaceCounts() {
  static const std::string text =
      "SELECT Addr, count(*) FROM QbPlace WHERE At > $1 - " + std::to_string(placing::kWindow) + " GROUP BY Addr";
  return text;
}

}  // namespace

std::string_view PgText(Statement statement) {
  switch (statement) {
    case Statement::kListCategory:
      return "SELECT * FROM qb WHERE qb_fold(category) ~ qb_like(:pCat) "
             "AND id > coalesce(qb_id(:pStart), 0) ORDER BY id LIMIT 101";
    case Statement::kAnyExpired: return "SELECT id FROM qb WHERE expire < qb_date(:pName) LIMIT 1";
    case Statement::kPurgeExpired: return "DELETE FROM qb WHERE expire < qb_date(:pName)";
    // PostgreSQL sends a result whole: it is asked for no more than the page reads.
    case Statement::kShowAll: return "SELECT * FROM qb ORDER BY id LIMIT 101";
    case Statement::kSellerAds:
      return "SELECT * FROM qb WHERE qb_fold(btrim(name, ' '::bytea)) = qb_fold(btrim(:pName, ' '::bytea)) "
             "AND id > coalesce(qb_id(:pStart), 0) ORDER BY id LIMIT 101";
    case Statement::kAdByIdForEdit: return "SELECT * FROM qb WHERE id = qb_id(:pItem)";
    case Statement::kAdById: return "SELECT * FROM qb WHERE id = qb_id(:pName)";
    case Statement::kDeleteAd: return "DELETE FROM qb WHERE id = qb_id(:pName)";

    case Statement::kGuessAllowedFrom: return GuessAllowedFrom();
    case Statement::kGuessCount: return "INSERT INTO QbGuess (AdID, Addr, At) VALUES ($1, $2, $3)";
    case Statement::kGuessCleanup: return GuessCleanup();
    case Statement::kGuessForget: return "DELETE FROM QbGuess WHERE AdID = $1 AND Addr = $2";

    case Statement::kPlaceAllowedFrom: return PlaceAllowedFrom();
    case Statement::kPlaceCount: return "INSERT INTO QbPlace (Addr, At) VALUES ($1, $2)";
    case Statement::kPlaceCleanup: return PlaceCleanup();
    case Statement::kPlaceCounts: return PlaceCounts();
    case Statement::kPlaceExempts: return "SELECT Addr FROM QbPlaceExempt";
    case Statement::kPlaceCountOf: return "SELECT count(*) FROM QbPlace WHERE Addr = $1";
    case Statement::kPlaceCountAll: return "SELECT count(*) FROM QbPlace";
    case Statement::kPlaceClearOf: return "DELETE FROM QbPlace WHERE Addr = $1";
    case Statement::kPlaceClearAll: return "DELETE FROM QbPlace";
    case Statement::kPlaceExempt:
      return "INSERT INTO QbPlaceExempt (Addr) VALUES ($1) ON CONFLICT DO NOTHING RETURNING 1::bigint";
    case Statement::kPlaceUnexempt: return "DELETE FROM QbPlaceExempt WHERE Addr = $1 RETURNING 1::bigint";

    // The ID key is a bigint identity primary key.
    case Statement::kTableColumns:
      return "SELECT a.attname, format_type(a.atttypid, a.atttypmod), a.atttypid = 'bigint'::regtype AND "
             "a.attidentity <> '' AND EXISTS (SELECT FROM pg_index i WHERE i.indrelid = a.attrelid AND "
             "i.indisprimary AND i.indnkeyatts = 1 AND i.indkey[0] = a.attnum) "
             "FROM pg_attribute a WHERE a.attrelid = to_regclass('qb') AND a.attnum > 0 AND NOT a.attisdropped "
             "ORDER BY a.attnum";
    case Statement::kAdsPerDay:
      return "SELECT qb_date(\"date\"), count(*) FROM qb WHERE qb_date(\"date\") BETWEEN $1::text::date AND "
             "$2::text::date GROUP BY 1 ORDER BY 1";
    case Statement::kAllExpiryDays: return "SELECT id, expire FROM qb";
  }
  return {};
}

}  // namespace qb
