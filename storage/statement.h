#pragma once
// The statements the board runs on its store, by name. Callers name what
// they want; each store has its own text of every statement (SQLite's in
// storage/sqlite/sqlite_statements.cpp, PostgreSQL's in
// storage/postgres/pg_statements.cpp).
//
// The handlers' queries (CreateQueryDef) take named parameters, bound as
// text, and follow the comparison rules of the ad record:
//   an ID parameter is a text of decimal digits as that whole number;
//     anything else selects no row;
//   a date parameter is a "m/d/yyyy" date as the day it names, compared
//     with the Expire column; anything else selects no row;
//   a seller's name matches trimmed of blanks on both sides (the stored name
//     may hold the blanks it was typed with) and without regard to ASCII
//     letter case;
//   a category matches as Category LIKE the name as pattern (ASCII case
//     ignored, "%" and "_" its only pattern characters).
// Each uses an index (see the stores' schemas). Texts are kept byte for
// byte as they came, and rows come in ID order, on both stores.
//
// The statements of RunStatement and ForEachRow take numbered values (1, 2,
// ...) as their comments say.
namespace qb {

enum class Statement {
  // One page of a category: the first 101 ads (one more than a page shows,
  // to tell whether another page follows) whose Category matches :pCat and
  // whose ID lies after the ID :pStart (the last ad of the page before; none
  // or not a number: from the first), in ID order, so that pages neither
  // repeat nor skip an ad while ads come and go.
  kListCategory,
  // The ID of an ad whose Expire lies before the date :pName, if any.
  kAnyExpired,
  // Deletes every ad whose Expire lies before the date :pName.
  kPurgeExpired,
  // All ads, at least the first 101 in ID order: the all-ads page shows 100
  // and looks whether a 101st follows.
  kShowAll,
  // One page of a seller's ads, as a category's: the first 101 whose Name
  // matches the seller's name :pName and whose ID lies after :pStart.
  kSellerAds,
  // The ad whose ID is :pItem.
  kAdByIdForEdit,
  // The ad whose ID is :pName.
  kAdById,
  // Deletes the ad whose ID is :pName.
  kDeleteAd,

  // When wrong tries at ad 1's password from address 2 may go on, given the
  // time 3 (seconds): 0 when they may now (storage/guess_limit.h).
  kGuessAllowedFrom,
  // Counts a wrong try at ad 1 from address 2 at time 3.
  kGuessCount,
  // Forgets the tries that no longer count at time 1.
  kGuessCleanup,
  // Forgets the wrong tries at ad 1 from address 2.
  kGuessForget,

  // When address 1 may place an ad again, given the time 2: 0 when it may
  // now, -1 for an exempt address (storage/place_limit.h).
  kPlaceAllowedFrom,
  // Counts an ad placed from address 1 at time 2.
  kPlaceCount,
  // Forgets the placings that no longer count at time 1.
  kPlaceCleanup,
  // Each address with its count of placings that still count at time 1.
  kPlaceCounts,
  // The exempt addresses.
  kPlaceExempts,
  // How many placings are counted for address 1; for all addresses.
  kPlaceCountOf,
  kPlaceCountAll,
  // Forgets the placings of address 1; of all addresses.
  kPlaceClearOf,
  kPlaceClearAll,
  // Makes address 1 exempt; no longer exempt. 1 when that changed anything,
  // otherwise 0.
  kPlaceExempt,
  kPlaceUnexempt,

  // The ad table's columns in order, each as its name, its type and whether
  // it is the ID key the board needs (1 or 0).
  kTableColumns,
  // Ads per day placed or last updated from day 1 to day 2 (both given as
  // "YYYY-MM-DD"): each day as "YYYY-MM-DD" and its count, in day order.
  kAdsPerDay,
  // Every ad's ID and its Expire as stored.
  kAllExpiryDays,
};

}  // namespace qb
