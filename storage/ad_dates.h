#pragma once
// Calendar dates of an ad: today's date text "m/d/yyyy" stamps Date, and
// Expire is that day plus ExpireDays, stored as ISO 'YYYY-MM-DD' text.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qb {

struct CivilDate {
  int year = 1970;
  int month = 1;
  int day = 1;
  friend bool operator==(const CivilDate&, const CivilDate&) = default;
};

CivilDate LocalToday();                       // today in local time
std::string UsDateText(const CivilDate& d);   // "m/d/yyyy", no leading zeros
std::string IsoDateText(const CivilDate& d);  // "YYYY-MM-DD"
// d plus `days` days; a result outside the years 1 to 9999 raises QbError
// (kErrOverflow).
CivilDate AddDays(const CivilDate& d, std::int64_t days);
// "m/d/yyyy" (one or two digits for month and day, four for the year) of a
// real calendar day; anything else gives nothing.
std::optional<CivilDate> ParseUsDate(std::string_view text);
// "YYYY-MM-DD" of a real calendar day, as Expire is stored; anything else
// gives nothing.
std::optional<CivilDate> ParseIsoDate(std::string_view text);

}  // namespace qb
