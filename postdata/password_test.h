#pragma once
// The password test that unlocks an ad for its seller (the edit step, and
// again update and delete), within the guessing limit.
#include <cstdint>
#include <string_view>

#include "postdata/request.h"
#include "storage/database.h"

namespace qb {

// The error of an UPDATE or DELETE whose ID names no ad.
inline constexpr char kNoAdWithThatId[] = "No current record: there is no ad with that ID";

enum class Unlock { kOpened, kWrongPassword, kTooManyTries };

struct PasswordTest {
  Unlock result;
  std::int64_t allowedFrom = 0;  // for kTooManyTries: when to try again
};

// Tests the typed password on the ad within the guessing limit, counting a
// wrong one. Runs inside the request's write transaction. Reading a missing
// ad raises kErrNoCurrentRecord, before anything is counted.
PasswordTest TestPassword(Request& req, const Recordset& ad, std::string_view typed);

}  // namespace qb
