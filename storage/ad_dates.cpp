#include "storage/ad_dates.h"

#include <cstdio>
#include <ctime>

#include "gateway/qb_error.h"

namespace qb {
namespace {

bool IsLeapYear(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// A day of the years 1 to 9999 of the proleptic Gregorian calendar.
bool IsRealDay(const CivilDate& d) {
  return d.year >= 1 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
         d.day <= DaysInMonth(d.year, d.month);
}

// Days since 1970-01-01 (negative before it), counted in 400-year eras of
// 146097 days with March as the first month so the leap day ends the year.
std::int64_t DaysFromCivil(const CivilDate& d) {
  const std::int64_t y = d.month <= 2 ? d.year - 1 : d.year;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t dayOfYear = (153 * (d.month > 2 ? d.month - 3 : d.month + 9) + 2) / 5 + d.day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The inverse of DaysFromCivil.
CivilDate CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return CivilDate{static_cast<int>(year), month, static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1)};
}

constexpr CivilDate kFirstDay{1, 1, 1};
constexpr CivilDate kLastDay{9999, 12, 31};

// Reads `minDigits` to `maxDigits` decimal digits at `pos`, advancing it.
std::optional<int> ReadNumber(std::string_view text, std::size_t& pos, std::size_t minDigits, std::size_t maxDigits) {
  int value = 0;
  std::size_t n = 0;
  while (pos < text.size() && n < maxDigits && text[pos] >= '0' && text[pos] <= '9') {
    value = value * 10 + (text[pos] - '0');
    ++pos;
    ++n;
  }
  if (n < minDigits) return std::nullopt;
  return value;
}

}  // namespace

CivilDate LocalToday() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) {
    throw QbError(kErrInternal, "The local date could not be determined");
  }
  return CivilDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::string UsDateText(const CivilDate& d) {
  char text[32];
  std::snprintf(text, sizeof text, "%d/%d/%04d", d.month, d.day, d.year);
  return text;
}

std::string IsoDateText(const CivilDate& d) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
  return text;
}

CivilDate AddDays(const CivilDate& d, std::int64_t days) {
  if (!IsRealDay(d)) {
    throw QbError(kErrInvalidArgument, "Date " + IsoDateText(d) + " is not a calendar day");
  }
  // Both limits are a few million days from `start`, so the differences
  // cannot overflow; comparing before adding keeps any `days` safe.
  const std::int64_t start = DaysFromCivil(d);
  if (days < DaysFromCivil(kFirstDay) - start || days > DaysFromCivil(kLastDay) - start) {
    throw QbError(kErrOverflow, "Expiry date out of range: " + IsoDateText(d) + " plus " + std::to_string(days) +
                                    " days is outside the years 1 to 9999");
  }
  return CivilFromDays(start + days);
}

std::optional<CivilDate> ParseUsDate(std::string_view text) {
  std::size_t pos = 0;
  const auto month = ReadNumber(text, pos, 1, 2);
  if (!month || pos >= text.size() || text[pos++] != '/') return std::nullopt;
  const auto day = ReadNumber(text, pos, 1, 2);
  if (!day || pos >= text.size() || text[pos++] != '/') return std::nullopt;
  const auto year = ReadNumber(text, pos, 4, 4);
  if (!year || pos != text.size()) return std::nullopt;
  const CivilDate date{*year, *month, *day};
  if (!IsRealDay(date)) return std::nullopt;
  return date;
}

std::optional<CivilDate> ParseIsoDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  std::size_t pos = 0;
  const auto year = ReadNumber(text, pos, 4, 4);
  ++pos;
  const auto month = ReadNumber(text, pos, 2, 2);
  ++pos;
  const auto day = ReadNumber(text, pos, 2, 2);
  if (!year || !month || !day || pos != text.size()) return std::nullopt;
  const CivilDate date{*year, *month, *day};
  if (!IsRealDay(date)) return std::nullopt;
  return date;
}

}  // namespace qb
