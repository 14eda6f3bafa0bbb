#include "postdata/page_furniture.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>

#include "gateway/error_page.h"

namespace qb {

void SendNoticeComment(Request& req) {
  req.out.SendLine({"<!-- Quaybill/32-HTML classified ads board, published by the Quaybill project -->"});
}

void SendNavigationBar(Request& req, NavBarForm form) {
  const Trusted script{req.script};
  req.out.SendLine({form == NavBarForm::kUsual ? Trusted{"<p><center><font size=\"2\"><b><a href=\""}
                                               : Trusted{"<p><font size=\"2\"><b><a href=\""},
                    script, "?action=Main\">Main</a>&nbsp;&nbsp;&nbsp;<a href=\"", script,
                    "?action=Show\">Category's</a>&nbsp;&nbsp;&nbsp;<a href=\"", script,
                    "?action=NewItem\">Place Ad</a>&nbsp;&nbsp;&nbsp;<a href=\"", Trusted{req.site->config.HomeUrl},
                    "\">Home</a></b></font></center>"});
}

int BannerEntryFor(int bannerCount, float r) {
  int entry = static_cast<int>(std::floor(static_cast<double>(bannerCount) * r + 1.0));
  if (entry > bannerCount) entry = bannerCount;
  return entry < 1 ? 1 : entry;
}

void SendBannerBlock(Request& req) {
  // A fresh seed from the clock for every banner, mixed so that requests a
  // moment apart draw unrelated numbers.
  std::uint64_t x = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  x ^= x >> 31;
  float r = static_cast<float>(x >> 40) / 16777216.0f;  // 24 bits: uniform in [0, 1)
  const Banner& banner = req.site->BannerList[static_cast<std::size_t>(BannerEntryFor(req.site->BannerCount, r))];
  req.out.SendLine({"<center><a href=\"", Trusted{banner.LinkUrl}, "\"><img src=\"", Trusted{banner.ImageUrl},
                    "\" border=0></a></center><br><br>"});
}

void SendExpiryNote(Request& req) {
  req.out.SendLine(
      {"<p><center><font size=\"+1\"><b>NOTE: Ads placed on this system will expire in </b></font>"
       "<font size=\"+2\" color=\"red\">",
       std::to_string(req.site->config.ExpireDays), "</font><font size=\"+1\"><b> Days</b></font></center><p>"});
}

void SendListBodyLine(Request& req) {
  req.out.SendLine({"<body bgcolor=\"", Trusted{req.site->config.BodyColor},
                    "\"><font size=\"2\" face=\"verdana,arial,helvetica\">"});
}

void SendCategoryOptions(Request& req, const std::string* selected) {
  const auto& c = req.site->CategoryList;
  const Piece tail = selected ? Piece(*selected) : Piece(Trusted{});
  req.out.SendLine({"<option>", Trusted{c[1]}, "<option>", Trusted{c[2]}, "<option>", Trusted{c[3]}, "<option>",
                    Trusted{c[4]}, "<option>", Trusted{c[5]}, "<option>", Trusted{c[6]}, "<option>", Trusted{c[7]},
                    "<option>", Trusted{c[8]}, selected ? Trusted{"<Option Selected>"} : Trusted{}, tail,
                    "</select></td></tr>"});
}

void SendFooterNotice(Request& req, FooterForm form) {
  switch (form) {
    case FooterForm::kPlain: req.out.SendLine({"<p>&nbsp;<br><font size=\"1\">", kFooterNoticeText}); break;
    case FooterForm::kCentred:
      req.out.SendLine({"<p>&nbsp;<br><center><font size=\"1\">", kFooterNoticeText, "</center>"});
      break;
    case FooterForm::kCentreFirst:
      req.out.SendLine({"<center><p>&nbsp;<br><font size=\"1\">", kFooterNoticeText});
      break;
  }
}

}  // namespace qb
