#include <gtest/gtest.h>

#include <ctime>
#include <limits>

#include "storage/ad_dates.h"
#include "support/store_support.h"

namespace qb {
namespace {

constexpr CivilDate kEpoch{1970, 1, 1};

TEST(AdDates, AddDaysAgreesWithTheCLibraryFromYear1To9999) {
  for (std::int64_t n = -719162; n <= 2932896; n += 37) {  // gmtime counts on its own
    const std::time_t t = static_cast<std::time_t>(n) * 86400;
    std::tm tm{};
    ASSERT_NE(gmtime_r(&t, &tm), nullptr);
    const CivilDate expected{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
    ASSERT_EQ(AddDays(kEpoch, n), expected) << n;
    ASSERT_EQ(AddDays(expected, -n), kEpoch) << n;
  }
  EXPECT_EQ(AddDays({2024, 2, 28}, 1), (CivilDate{2024, 2, 29}));
  EXPECT_EQ(AddDays({1900, 2, 28}, 1), (CivilDate{1900, 3, 1}));
  EXPECT_EQ(AddDays({2026, 12, 31}, 1), (CivilDate{2027, 1, 1}));
}

TEST(AdDates, AddDaysStopsAtYears1And9999WithoutOverflowing) {
  EXPECT_EQ(AddDays({9999, 12, 30}, 1), (CivilDate{9999, 12, 31}));
  EXPECT_EQ(AddDays({1, 1, 2}, -1), (CivilDate{1, 1, 1}));
  const std::pair<CivilDate, std::int64_t> outside[] = {
      {{9999, 12, 31}, 1}, {{1, 1, 1}, -1}, {{2026, 6, 1}, 3000000},
      {{2026, 6, 1}, std::numeric_limits<std::int64_t>::max()},
      {{2026, 6, 1}, std::numeric_limits<std::int64_t>::min()}};
  for (const auto& [date, days] : outside) {
    // Copied into the lambda: clang 14 cannot capture structured bindings.
    const std::string text = testsupport::ErrorOf([date = date, days = days] { AddDays(date, days); }, kErrOverflow);
    EXPECT_NE(text.find("Expiry date out of range"), std::string::npos) << text;
  }
}

TEST(AdDates, DateTextsAndStrictParsing) {
  EXPECT_EQ(UsDateText({2026, 1, 5}), "1/5/2026");
  EXPECT_EQ(UsDateText({999, 12, 31}), "12/31/0999");
  EXPECT_EQ(IsoDateText({5, 3, 9}), "0005-03-09");
  EXPECT_EQ(ParseUsDate("01/05/2026"), (CivilDate{2026, 1, 5}));
  for (const CivilDate d : {CivilDate{2024, 2, 29}, CivilDate{1, 1, 1}, CivilDate{999, 12, 31}, CivilDate{9999, 12, 31}}) {
    EXPECT_EQ(ParseUsDate(UsDateText(d)), d) << UsDateText(d);
  }
  for (const char* bad : {"2/29/2023", "2/29/1900", "13/1/2026", "0/1/2026", "1/0/2026", "4/31/2026",
                          "1/1/0000", "1/5/26", "1/5/02026", "001/5/2026", " 1/5/2026", "1/5/2026 ",
                          "+1/5/2026", "1-5-2026", "1/5/", "", "2026-01-05"}) {
    EXPECT_FALSE(ParseUsDate(bad).has_value()) << bad;
  }
}

TEST(AdDates, LocalTodayIsWithinADayOfTheUtcDate) {
  const std::int64_t utcDays = static_cast<std::int64_t>(std::time(nullptr)) / 86400;
  const CivilDate today = LocalToday();
  EXPECT_TRUE(today == AddDays(kEpoch, utcDays - 1) || today == AddDays(kEpoch, utcDays) ||
              today == AddDays(kEpoch, utcDays + 1))
      << IsoDateText(today);
}

}  // namespace
}  // namespace qb
