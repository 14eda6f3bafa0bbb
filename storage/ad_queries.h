#pragma once
// The query texts the handlers run against table QB, in each store's SQL.
// Parameters are bound as text. The store functions carry the comparison
// rules of the ad record:
//   QbId(text)   a text of decimal digits as that whole number, anything else
//                NULL (so it selects no row);
//   QbDate(text) a "m/d/yyyy" date as the day it names, comparable with the
//                Expire column; anything else NULL.
// Name matches trimmed of blanks on both sides (the stored name may hold the
// blanks it was typed with) and without regard to ASCII letter case, Category
// by LIKE with the name as pattern (ASCII case ignored, "%" and "_" its only
// pattern characters). Each query uses an index (see the stores' schemas).
//
// PostgreSQL keeps the texts as bytea, byte for byte as SQLite does, and
// has the rules as functions of its schema (storage/postgres/pg_schema.cpp):
// qb_fold (ASCII case folded, as comparable text), qb_like (a LIKE pattern
// as an anchored regular expression over qb_fold's text). Rows come in ID
// order on both stores.
#include "storage/store_sql.h"

namespace qb::queries {

// One page of a category: the first 101 ads (one more than a page shows, to
// tell whether another page follows) whose ID lies after :pStart (the last
// ad of the page before; none or not a number: from the first), in ID order,
// so that pages neither repeat nor skip an ad while ads come and go. The IDs
// are picked from the category's index alone before any ad is read.
inline constexpr StoreSql kListCategory{
    "SELECT * FROM QB WHERE ID IN (SELECT ID FROM QB WHERE Category LIKE :pCat "
    "AND ID > coalesce(QbId(:pStart), 0) ORDER BY ID LIMIT 101) ORDER BY ID",
    "SELECT * FROM qb WHERE qb_fold(category) ~ qb_like(:pCat) "
    "AND id > coalesce(qb_id(:pStart), 0) ORDER BY id LIMIT 101"};
inline constexpr StoreSql kAnyExpired{"SELECT ID FROM QB WHERE Expire < QbDate(:pName) LIMIT 1",
                                      "SELECT id FROM qb WHERE expire < qb_date(:pName) LIMIT 1"};
inline constexpr StoreSql kPurgeExpired{"DELETE FROM QB WHERE Expire < QbDate(:pName)",
                                        "DELETE FROM qb WHERE expire < qb_date(:pName)"};
// The all-ads page shows 100 ads and looks whether a 101st follows. SQLite
// steps through the rows as they are read; PostgreSQL sends a result whole,
// so it is asked for no more than the page reads.
inline constexpr StoreSql kShowAll{"SELECT * FROM QB", "SELECT * FROM qb ORDER BY id LIMIT 101"};
// One page of a seller's ads, as a category's: the first 101 whose ID lies
// after :pStart, in ID order, read through the seller-name index.
inline constexpr StoreSql kSellerAds{
    "SELECT * FROM QB WHERE trim(Name) = trim(:pName) COLLATE NOCASE AND ID > coalesce(QbId(:pStart), 0) "
    "ORDER BY ID LIMIT 101",
    "SELECT * FROM qb WHERE qb_fold(btrim(name, ' '::bytea)) = qb_fold(btrim(:pName, ' '::bytea)) "
    "AND id > coalesce(qb_id(:pStart), 0) ORDER BY id LIMIT 101"};
inline constexpr StoreSql kAdByIdForEdit{"SELECT * FROM QB WHERE ID = QbId(:pItem)",
                                         "SELECT * FROM qb WHERE id = qb_id(:pItem)"};
inline constexpr StoreSql kAdById{"SELECT * FROM QB WHERE ID = QbId(:pName)", "SELECT * FROM qb WHERE id = qb_id(:pName)"};
inline constexpr StoreSql kDeleteAd{"DELETE FROM QB WHERE ID = QbId(:pName)", "DELETE FROM qb WHERE id = qb_id(:pName)"};

}  // namespace qb::queries
