#pragma once
// The page handlers, one per action, each in the file named below.
#include "postdata/request.h"

namespace qb {

void MainPage(Request& req);         // main_page.cpp
void NewAdForm(Request& req);        // new_ad_form.cpp
void AddAd(Request& req);            // add_ad.cpp
void CategoryIndex(Request& req);    // category_index.cpp
void CategoryListing(Request& req);  // category_listing.cpp
void AllAdsListing(Request& req);    // all_ads_listing.cpp
void SellerAds(Request& req);        // seller_ads.cpp
void PasswordForm(Request& req);     // password_form.cpp
void PasswordCheck(Request& req);    // password_check.cpp
void DeleteAd(Request& req);         // delete_ad.cpp
void UpdateAd(Request& req);         // update_ad.cpp

}  // namespace qb
