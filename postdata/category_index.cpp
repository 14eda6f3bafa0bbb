// The category index: one link to the listing of each of the eight
// categories, in two rows of four.
#include <string>

#include "postdata/handlers.h"
#include "postdata/page_furniture.h"

namespace qb {

namespace {

void SendCategoryRow(Request& req, int first) {
  const Trusted script{req.script};
  const Trusted cell{"</td><td align=\"center\">"};
  auto link = [&](int n) { return std::string("?Action=List&Cat=") + char('0' + n) + "\">"; };
  const std::string q1 = link(first), q2 = link(first + 1), q3 = link(first + 2), q4 = link(first + 3);
  const auto& names = req.site->CategoryList;
  req.out.SendLine({"<tr><td align=\"center\"><a href=\"",
                    script,
                    Trusted{q1},
                    Trusted{names[first]},
                    "</a>",
                    cell,
                    "<a href=\"",
                    script,
                    Trusted{q2},
                    Trusted{names[first + 1]},
                    "</a>",
                    cell,
                    "<a href=\"",
                    script,
                    Trusted{q3},
                    Trusted{names[first + 2]},
                    "</a>",
                    cell,
                    "<a href=\"",
                    script,
                    Trusted{q4},
                    Trusted{names[first + 3]},
                    "</a></td></tr>"});
}

}  // namespace

void CategoryIndex(Request& req) {
  ResponseWriter& out = req.out;
  out.SendContentType();
  out.SendLine({"<html><head><title>Quaybill/32-HTML - Catagory's</title></head><body bgcolor=\"",
                Trusted{req.site->config.BodyColor}, "\">"});
  SendNoticeComment(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  if (req.site->config.BannersEnabled) SendBannerBlock(req);
  out.SendLine({"<center><h1>Ad Category's</h1></center>"});
  out.SendLine({"<hr width=\"50%\" size=\"2\"><br><br>"});
  out.SendLine({"<center><table bgcolor=\"silver\" cellspacing=\"1\" cellpadding=\"5\" border=\"1\">"});
  SendCategoryRow(req, 1);
  SendCategoryRow(req, 5);
  out.SendLine({"</table>"});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kCentred);
  out.SendLine({"</center></font></body></html>"});
}

}  // namespace qb
