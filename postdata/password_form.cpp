// The password form: the seller types the password of the ad he chose.
#include <string>

#include "gateway/ascii_text.h"
#include "postdata/handlers.h"
#include "postdata/page_furniture.h"

namespace qb {

void PasswordForm(Request& req) {
  ResponseWriter& out = req.out;
  const std::string id = Trim(req.GetFormValue("ID"));
  out.SendContentType();
  out.SendLine({"<HTML><HEAD><TITLE>Quaybill/32 - HTML - Get Password</TITLE></HEAD>"});
  SendNoticeComment(req);
  SendListBodyLine(req);
  out.SendLine({"<p>&nbsp;<br>"});
  out.SendLine({"<center><h2>Enter The Password you chose for this Item</h2></center><br>"});
  out.SendLine({"<form action=\"", Trusted{req.script}, "?Action=Edit\" method=\"Post\"><br>"});
  out.SendLine({"<input type=\"hidden\" name=\"ID\" Value=\"", id, "\"><br>"});
  out.SendLine({"<center><input type=\"text\" name=\"pw\" size=\"8\"><br><br>"});
  out.SendLine({"<input type=\"submit\" name=\"submit\" value=\"Get Item\">"});
  SendNavigationBar(req);
  out.SendLine({"</font></center></body></html>"});
}

}  // namespace qb
