#pragma once
// The query texts the handlers run against table QB, in the store's SQL.
// Parameters are bound as text; the store functions QbId() and QbDate() carry
// the comparison rules of the ad record:
//   QbId(text)   a text of decimal digits as that whole number, anything else
//                NULL (so it selects no row);
//   QbDate(text) a "m/d/yyyy" date as ISO 'YYYY-MM-DD' text, comparable with
//                the Expire column; anything else NULL.
// Name matches trimmed of blanks on both sides (the stored name may hold the
// blanks it was typed with) and without regard to ASCII letter case, Category by LIKE with the
// name as pattern (case ignored). Each query uses an index (see ad_schema).

namespace qb::queries {

// One page of a category: the first 101 ads (one more than a page shows, to
// tell whether another page follows) whose ID lies after :pStart (the last
// ad of the page before; none or not a number: from the first), in ID order,
// so that pages neither repeat nor skip an ad while ads come and go. The IDs
// are picked from the category's index alone before any ad is read.
inline constexpr char kListCategory[] =
    "SELECT * FROM QB WHERE ID IN (SELECT ID FROM QB WHERE Category LIKE :pCat "
    "AND ID > coalesce(QbId(:pStart), 0) ORDER BY ID LIMIT 101) ORDER BY ID";
inline constexpr char kAnyExpired[] = "SELECT ID FROM QB WHERE Expire < QbDate(:pName) LIMIT 1";
inline constexpr char kPurgeExpired[] = "DELETE FROM QB WHERE Expire < QbDate(:pName)";
inline constexpr char kShowAll[] = "SELECT * FROM QB";
inline constexpr char kSellerAds[] = "SELECT * FROM QB WHERE trim(Name) = trim(:pName) COLLATE NOCASE";
inline constexpr char kAdByIdForEdit[] = "SELECT * FROM QB WHERE ID = QbId(:pItem)";
inline constexpr char kAdById[] = "SELECT * FROM QB WHERE ID = QbId(:pName)";
inline constexpr char kDeleteAd[] = "DELETE FROM QB WHERE ID = QbId(:pName)";

}  // namespace qb::queries
