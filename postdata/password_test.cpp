#include "postdata/password_test.h"

#include <charconv>
#include <string>

#include "gateway/ascii_text.h"
#include "storage/guess_limit.h"

namespace qb {

namespace {

// Whether the password a seller typed unlocks the ad: both trimmed of blanks
// (the stored one keeps those it was placed with), the typed one upper-cased
// as the stored one was. A stored password that is null or blank matches
// nothing, so an ad without one cannot be unlocked at all.
bool PasswordMatches(const Recordset& ad, std::string_view typed) {
  if (ad.FieldIsNull("Password")) return false;
  const std::string stored = Trim(ad.Field("Password"));
  return !stored.empty() && stored == AsciiUpper(Trim(typed));
}

}  // namespace

PasswordTest TestPassword(Request& req, const Recordset& ad, std::string_view typed) {
  Database& db = *req.slots.database;
  const std::string_view idText = ad.Field("ID");
  std::int64_t adId = 0;
  std::from_chars(idText.data(), idText.data() + idText.size(), adId);
  const std::string address = guesses::GuessingAddress(req.cgi.REMOTE_ADDR);
  const std::int64_t now = req.host.now();
  const std::int64_t allowedFrom = guesses::AllowedFrom(db, address, adId, now);
  if (allowedFrom > now) return {Unlock::kTooManyTries, allowedFrom};
  if (PasswordMatches(ad, typed)) {
    guesses::ForgetWrongTries(db, address, adId);
    return {Unlock::kOpened};
  }
  guesses::CountWrongTry(db, address, adId, now);
  return {Unlock::kWrongPassword};
}

}  // namespace qb
