#include "postdata/listing_frame.h"

#include "postdata/page_furniture.h"

namespace qb {

void SendListingTop(Request& req, const char* title) {
  ResponseWriter& out = req.out;
  out.SendContentType();
  out.SendLine({Trusted{title}});
  SendNoticeComment(req);
  SendListBodyLine(req);
  if (req.site->config.BannersEnabled) SendBannerBlock(req);
}

void SendListingBottom(Request& req, const char* firstLine) {
  req.out.SendLine({Trusted{firstLine}});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kCentred);
  req.out.SendLine({"</font></center></body></html>"});
}

}  // namespace qb
