#pragma once
// The limit on password guessing. Every wrong password tried on an ad is
// kept for a while in table QbGuess with the address it came from. While an
// address has tried kTriesPerAddress wrong passwords on an ad within
// kAddressWindow, it may try no more on that ad; while kTriesPerAd wrong
// passwords from any addresses have reached the ad within kAdWindow, nobody
// may. The first limit stops a guesser, the second a guesser who changes
// address, and keeps the seller (another address) locked out for at most
// kAdWindow after someone else's guessing.
//
// All three calls belong inside the request's WriteTransaction, so that the
// count, the password test and what it allows are one step.
#include <cstdint>
#include <string>
#include <string_view>

#include "storage/database.h"

namespace qb::guesses {

inline constexpr int kTriesPerAddress = 5;
inline constexpr std::int64_t kAddressWindow = 15 * 60;  // seconds
inline constexpr int kTriesPerAd = 10;
inline constexpr std::int64_t kAdWindow = 5 * 60;

// The address that tries are counted under: REMOTE_ADDR as it is, but for
// IPv6 its /64 network ("2001:db8:0:1::/64"), since a single host commonly
// has a whole /64 to change its address within.
std::string GuessingAddress(std::string_view remoteAddr);

// Times are whole seconds since 1970. The time from which `address` may try
// a password on ad `adId` again: `now` or earlier when it may try now.
std::int64_t AllowedFrom(Database& db, std::string_view address, std::int64_t adId, std::int64_t now);
// Counts a wrong password, and drops the tries too old to count.
void CountWrongTry(Database& db, std::string_view address, std::int64_t adId, std::int64_t now);
// Forgets the wrong tries of `address` on the ad (its right password came).
void ForgetWrongTries(Database& db, std::string_view address, std::int64_t adId);

}  // namespace qb::guesses
