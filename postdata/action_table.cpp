#include "postdata/action_table.h"

#include "postdata/handlers.h"

namespace qb {

namespace {

constexpr StoreUse kNone = StoreUse::kNone, kReads = StoreUse::kReads, kWrites = StoreUse::kWrites;
constexpr ErrorPage kGateway = ErrorPage::kGateway, kApplication = ErrorPage::kApplication;

// Compared in this order; the first equal name runs. Placing an ad stores
// it before any line is written, and whatever stops it gets the gateway
// page; the listings and the seller's pages answer a failure while they
// read with the application page after what they have written; the edit
// step, update and delete answer a failure of their change or password test
// with the application page too. The purge after a category listing (a
// write of its own, after the listing's store work) fails to the gateway
// page.
constexpr Action kActions[] = {
    {"NEWITEM", NewAdForm, kNone, kGateway},          {"ADD", AddAd, kWrites, kGateway},
    {"SHOW", CategoryIndex, kNone, kGateway},         {"LIST", CategoryListing, kWrites, kApplication},
    {"SHOWALL", AllAdsListing, kReads, kApplication}, {"GETEDIT", SellerAds, kReads, kApplication},
    {"GETPW", PasswordForm, kNone, kGateway},         {"EDIT", PasswordCheck, kWrites, kApplication},
    {"DELETE", DeleteAd, kWrites, kApplication},      {"MAIN", MainPage, kNone, kGateway},
    {"UPDATE", UpdateAd, kWrites, kApplication},
};

}  // namespace

const Action* FindAction(std::string_view name) {
  for (const Action& action : kActions) {
    if (action.name == name) return &action;
  }
  return nullptr;
}

}  // namespace qb
