#include "storage/guess_limit.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace qb::guesses {
namespace {

// A try at time At counts until At plus its window. The limit of a window is
// reached when its kTries-th newest try still counts, and lasts until that
// try stops counting. Parameter 1 is the ad, 2 the address, 3 the time;
// `p` marks a parameter in the store's SQL ("?" or "$").
std::string Window(const std::string& p, bool byAddress, std::int64_t window, int tries) {
  return "coalesce((SELECT At FROM QbGuess WHERE AdID = " + p + "1" + (byAddress ? " AND Addr = " + p + "2" : "") +
         " AND At > " + p + "3 - " + std::to_string(window) + " ORDER BY At DESC LIMIT 1 OFFSET " +
         std::to_string(tries - 1) + ") + " + std::to_string(window) + ", 0)";
}
std::string AllowedFromSql(const std::string& p, const char* greatest) {
  return std::string("SELECT ") + greatest + "(" + Window(p, true, kAddressWindow, kTriesPerAddress) + ", " +
         Window(p, false, kAdWindow, kTriesPerAd) + ")";
}
static_assert(kAddressWindow >= kAdWindow, "the cleanup keeps tries for the longer window");
std::string CleanupSql(const std::string& p) {  // parameter 1: the time
  return "DELETE FROM QbGuess WHERE At <= " + p + "1 - " + std::to_string(kAddressWindow);
}
const std::string kAllowedFromSqlite = AllowedFromSql("?", "max"), kAllowedFromPostgres = AllowedFromSql("$", "greatest");
const std::string kCleanupSqlite = CleanupSql("?"), kCleanupPostgres = CleanupSql("$");
const StoreSql kAllowedFrom{kAllowedFromSqlite, kAllowedFromPostgres};
const StoreSql kCount{"INSERT INTO QbGuess (AdID, Addr, At) VALUES (?1, ?2, ?3)",
                      "INSERT INTO QbGuess (AdID, Addr, At) VALUES ($1, $2, $3)"};
const StoreSql kCleanup{kCleanupSqlite, kCleanupPostgres};
const StoreSql kForget{"DELETE FROM QbGuess WHERE AdID = ?1 AND Addr = ?2",
                       "DELETE FROM QbGuess WHERE AdID = $1 AND Addr = $2"};

// Runs `sql` with the ad, the address and the time, or as many of them as
// it uses (PostgreSQL wants a type for every value it is given).
std::int64_t Run(Database& db, const StoreSql& sql, std::string_view address, std::int64_t adId, std::int64_t now,
                 std::size_t used = 3) {
  const SqlValue values[] = {adId, address, now};
  return db.RunStatement(sql, std::span(values, used));
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
  return Run(db, kAllowedFrom, address, adId, now);
}

void CountWrongTry(Database& db, std::string_view address, std::int64_t adId, std::int64_t now) {
  Run(db, kCount, address, adId, now);
  const SqlValue time[] = {now};
  db.RunStatement(kCleanup, time);
}

void ForgetWrongTries(Database& db, std::string_view address, std::int64_t adId) {
  Run(db, kForget, address, adId, 0, 2);
}

}  // namespace qb::guesses
