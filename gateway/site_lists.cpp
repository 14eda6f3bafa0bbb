#include "gateway/site_lists.h"

#include <limits>

#include "gateway/qb_error.h"
#include "gateway/value_list_reader.h"

namespace qb {

void LoadCategoryList(Site& site, std::vector<FileStamp>* stamps) {
  ValueListReader reader = ValueListReader::FromFile(site.directory + "/cat.lst", "cat.lst", stamps);
  for (int i = 1; i <= 8; ++i) site.CategoryList[i] = reader.NextText();
}

void LoadBannerList(Site& site, std::vector<FileStamp>* stamps) {
  ValueListReader reader = ValueListReader::FromFile(site.directory + "/qbban.cfg", "qbban.cfg", stamps);
  std::int32_t count = reader.NextNumber();
  if (count < std::numeric_limits<std::int16_t>::min() || count > std::numeric_limits<std::int16_t>::max()) {
    throw QbError(kErrOverflow, "Overflow: the banner count in qbban.cfg is out of range");
  }
  site.BannerCount = static_cast<std::int16_t>(count);
  for (std::int32_t i = 1; i != count + 1; ++i) {
    if (i > 10) throw QbError(kErrSubscript, "Subscript out of range: qbban.cfg lists more than 10 banners");
    site.BannerList[i].ImageUrl = reader.NextText();
    site.BannerList[i].LinkUrl = reader.NextText();
  }
}

}  // namespace qb
