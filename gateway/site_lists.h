#pragma once
#include "gateway/site.h"

namespace qb {

// Reads the eight category names of cat.lst into CategoryList 1 to 8.
void LoadCategoryList(Site& site);
// Reads qbban.cfg: BannerCount, then that many pairs of image and link
// address into BannerList. More than ten banners (or a negative count) raise
// kErrSubscript when the eleventh entry is reached.
void LoadBannerList(Site& site);

}  // namespace qb
