#pragma once
// The limit on placing ads. Every ad placed is kept for an hour in table
// QbPlace with the address it came from, counted as wrong passwords are
// (guesses::GuessingAddress: an IPv6 client by its /64 network). An address
// that has placed kAdsPerAddress ads within kWindow places no more until the
// oldest of them is kWindow old: a seller places a few ads at a time, a
// flood of spam from one address stops at the limit.
//
// Addresses in table QbPlaceExempt are neither limited nor counted; only the
// operator puts them there (qbadmin limits --exempt), for a host he trusts
// to place many ads, such as the load tests' client.
//
// Admit belongs inside the request's WriteTransaction, with the insert of
// the ad it admits: a crowd from one address takes its turns, and each sees
// the count the ones before it left.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/database.h"

namespace qb::placing {

inline constexpr int kAdsPerAddress = 20;
inline constexpr std::int64_t kWindow = 60 * 60;  // seconds

// Times are whole seconds since 1970. Counts an ad placed from `address`
// now and returns 0; or, when the address has reached the limit, counts
// nothing and returns the time from which it may place again.
std::int64_t Admit(Database& db, std::string_view address, std::int64_t now);

// For the operator: each address that placed ads within the window or is
// exempt, in address order.
struct AddressCount {
  std::string address;
  std::int64_t ads = 0;          // placed within the window
  std::int64_t allowedFrom = 0;  // > now while it is refused
  bool exempt = false;
};
std::vector<AddressCount> ListCounts(Database& db, std::int64_t now);
// Forgets the ads counted for `address`, or for every address; returns how
// many counted ads were forgotten.
std::int64_t ClearCounts(Database& db, std::optional<std::string_view> address);
// Exempts `address` from the limit, or ends its exemption; false when it
// already was, or was not, exempt.
bool SetExempt(Database& db, std::string_view address, bool exempt);

}  // namespace qb::placing
