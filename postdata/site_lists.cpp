#include "postdata/site_lists.h"

#include <limits>

#include "gateway/qb_error.h"
#include "gateway/value_list_reader.h"

namespace qb {

void LoadCategoryList(Request& req) {
  ValueListReader reader = ValueListReader::FromFile(req.programDir + "/cat.lst", "cat.lst", req.siteFiles);
  for (int i = 1; i <= 8; ++i) req.CategoryList[i] = reader.NextText();
}

void LoadBannerList(Request& req) {
  ValueListReader reader = ValueListReader::FromFile(req.programDir + "/qbban.cfg", "qbban.cfg", req.siteFiles);
  std::int32_t count = reader.NextNumber();
  if (count < std::numeric_limits<std::int16_t>::min() || count > std::numeric_limits<std::int16_t>::max()) {
    throw QbError(kErrOverflow, "Overflow: the banner count in qbban.cfg is out of range");
  }
  req.BannerCount = static_cast<std::int16_t>(count);
  for (std::int32_t i = 1; i != count + 1; ++i) {
    if (i > 10) throw QbError(kErrSubscript, "Subscript out of range: qbban.cfg lists more than 10 banners");
    req.BannerList[i].ImageUrl = reader.NextText();
    req.BannerList[i].LinkUrl = reader.NextText();
  }
}

}  // namespace qb
