#pragma once
#include <vector>

#include "gateway/file_stamp.h"
#include "gateway/site.h"

namespace qb {

// Each adds what its file was to `stamps` when given (a site that is to be
// kept while its files are unchanged).

// Reads the eight category names of cat.lst into CategoryList 1 to 8.
void LoadCategoryList(Site& site, std::vector<FileStamp>* stamps = nullptr);
// Reads qbban.cfg: BannerCount, then that many pairs of image and link
// address into BannerList. More than ten banners (or a negative count) raise
// kErrSubscript when the eleventh entry is reached.
void LoadBannerList(Site& site, std::vector<FileStamp>* stamps = nullptr);

}  // namespace qb
