#include "storage/guess_limit.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "storage/store_sqlite.h"

namespace qb::guesses {
namespace {

// A try at time At counts until At plus its window. The limit of a window is
// reached when its kTries-th newest try still counts, and lasts until that
// try stops counting.
const std::string kAllowedFromSql =
    "SELECT max(ifnull((SELECT At FROM QbGuess WHERE AdID = ?1 AND Addr = ?2 AND At > ?3 - " +
    std::to_string(kAddressWindow) + " ORDER BY At DESC LIMIT 1 OFFSET " + std::to_string(kTriesPerAddress - 1) +
    ") + " + std::to_string(kAddressWindow) + ", 0), ifnull((SELECT At FROM QbGuess WHERE AdID = ?1 AND At > ?3 - " +
    std::to_string(kAdWindow) + " ORDER BY At DESC LIMIT 1 OFFSET " + std::to_string(kTriesPerAd - 1) + ") + " +
    std::to_string(kAdWindow) + ", 0))";
static_assert(kAddressWindow >= kAdWindow, "the cleanup keeps tries for the longer window");
const std::string kCountSql = "INSERT INTO QbGuess (AdID, Addr, At) VALUES (?1, ?2, ?3)";
const std::string kCleanupSql = "DELETE FROM QbGuess WHERE At <= ?3 - " + std::to_string(kAddressWindow);
const std::string kForgetSql = "DELETE FROM QbGuess WHERE AdID = ?1 AND Addr = ?2";

// Runs `sql` with the ad, the address and the time bound to ?1, ?2 and ?3
// (as far as it uses them); gives the first column of its row, or 0.
std::int64_t Run(Database& db, const std::string& sql, std::string_view address, std::int64_t adId,
                 std::int64_t now) {
  sqlite3* handle = db.Handle();
  const std::string context = "Counting wrong passwords";
  const StmtHandle stmt = PrepareStatement(handle, sql, context);
  sqlite3_stmt* s = stmt.get();
  const int count = sqlite3_bind_parameter_count(s);
  int rc = sqlite3_bind_int64(s, 1, adId);
  if (rc == SQLITE_OK && count >= 2) {
    rc = sqlite3_bind_text64(s, 2, address.data(), address.size(), SQLITE_STATIC, SQLITE_UTF8);
  }
  if (rc == SQLITE_OK && count >= 3) rc = sqlite3_bind_int64(s, 3, now);
  if (rc == SQLITE_OK) rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) return sqlite3_column_int64(s, 0);
  if (rc != SQLITE_DONE) throw StoreError(handle, rc, context);
  return 0;
}

}  // namespace

std::string GuessingAddress(std::string_view remoteAddr) {
  const std::string text(remoteAddr);
  unsigned char bytes[16];
  if (text.find(':') == std::string::npos || ::inet_pton(AF_INET6, text.c_str(), bytes) != 1) return text;
  static constexpr unsigned char kMappedV4[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (std::equal(kMappedV4, kMappedV4 + 12, bytes)) return text;  // an IPv4 client of a dual-stack server
  char network[32];
  std::snprintf(network, sizeof network, "%x:%x:%x:%x::/64", bytes[0] << 8 | bytes[1], bytes[2] << 8 | bytes[3],
                bytes[4] << 8 | bytes[5], bytes[6] << 8 | bytes[7]);
  return network;
}

std::int64_t AllowedFrom(Database& db, std::string_view address, std::int64_t adId, std::int64_t now) {
  return Run(db, kAllowedFromSql, address, adId, now);
}

void CountWrongTry(Database& db, std::string_view address, std::int64_t adId, std::int64_t now) {
  Run(db, kCountSql, address, adId, now);
  Run(db, kCleanupSql, address, adId, now);
}

void ForgetWrongTries(Database& db, std::string_view address, std::int64_t adId) {
  Run(db, kForgetSql, address, adId, 0);
}

}  // namespace qb::guesses
