#pragma once
// The page handlers, one per action, grouped by page family in the files
// named below.
#include "gateway/request.h"

namespace qb {

void MainPage(Request& req);            // main_page.cpp
void NewAdForm(Request& req);           // placing_pages.cpp
void AddAd(Request& req);               // placing_pages.cpp
void CategoryIndex(Request& req);       // category_index.cpp
void CategoryListing(Request& req);     // listing_pages.cpp
void AllAdsListing(Request& req);       // listing_pages.cpp
void SellerAds(Request& req);           // edit_flow_pages.cpp
void PasswordForm(Request& req);        // edit_flow_pages.cpp
void PasswordCheck(Request& req);       // edit_flow_pages.cpp
void DeleteAd(Request& req);            // edit_flow_pages.cpp
void UpdateAd(Request& req);            // edit_flow_pages.cpp

}  // namespace qb
