#include "postdata/notice_page.h"

#include "postdata/page_furniture.h"

namespace qb {

void SendNoticePage(Request& req, const char* title, const char* heading, std::initializer_list<Piece> message) {
  ResponseWriter& out = req.out;
  out.SendContentType();
  out.SendLine({"<HTML><HEAD><TITLE>Quaybill/32 - HTML - ", Trusted{title}, "</TITLE></HEAD>"});
  SendNoticeComment(req);
  SendListBodyLine(req);
  out.SendLine({"<center><h2><font color=\"maroon\">", Trusted{heading}, "</font></h2></center>"});
  out.SendLine(message);
  out.SendLine({"<center>"});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kCentred);
  out.SendLine({"</font></center></body></html>"});
}

}  // namespace qb
