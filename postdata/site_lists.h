#pragma once
#include "gateway/request.h"

namespace qb {

// Reads the eight category names of cat.lst into CategoryList 1 to 8.
void LoadCategoryList(Request& req);
// Reads qbban.cfg: BannerCount, then that many pairs of image and link
// address into BannerList. More than ten banners (or a negative count) raise
// kErrSubscript when the eleventh entry is reached.
void LoadBannerList(Request& req);

}  // namespace qb
