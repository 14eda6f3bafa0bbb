#include "storage/guess_limit.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace qb::guesses {
namespace {

// Runs `statement` with the ad, the address and the time, or as many of them
// as it uses (PostgreSQL wants a type for every value it is given).
std::int64_t Run(Database& db, Statement statement, std::string_view address, std::int64_t adId, std::int64_t now,
                 std::size_t used = 3) {
  const SqlValue values[] = {adId, address, now};
  return db.RunStatement(statement, std::span(values, used));
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
  return Run(db, Statement::kGuessAllowedFrom, address, adId, now);
}

void CountWrongTry(Database& db, std::string_view address, std::int64_t adId, std::int64_t now) {
  Run(db, Statement::kGuessCount, address, adId, now);
  const SqlValue time[] = {now};
  db.RunStatement(Statement::kGuessCleanup, time);
}

void ForgetWrongTries(Database& db, std::string_view address, std::int64_t adId) {
  Run(db, Statement::kGuessForget, address, adId, 0, 2);
}

}  // namespace qb::guesses
