// The seller's edit flow: his ads by name, the password form, the password
// check with the edit page, and the update and delete of one ad.
#include <string>

#include "gateway/qb_error.h"
#include "postdata/handlers.h"
#include "postdata/page_furniture.h"
#include "postdata/text_utils.h"

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
  out.SendLine({"<form action=\"", Trusted{req.config.ScriptUrl}, "?Action=Edit\" method=\"Post\"><br>"});
  out.SendLine({"<input type=\"hidden\" name=\"ID\" Value=\"", id, "\"><br>"});
  out.SendLine({"<center><input type=\"text\" name=\"pw\" size=\"8\"><br><br>"});
  out.SendLine({"<input type=\"submit\" name=\"submit\" value=\"Get Item\">"});
  SendNavigationBar(req);
  out.SendLine({"</font></center></body></html>"});
}

void SellerAds(Request&) { throw QbError(kErrInternal, "The seller's ads are not available yet"); }
void PasswordCheck(Request&) { throw QbError(kErrInternal, "Editing ads is not available yet"); }
void UpdateAd(Request&) { throw QbError(kErrInternal, "Updating ads is not available yet"); }
void DeleteAd(Request&) { throw QbError(kErrInternal, "Deleting ads is not available yet"); }

}  // namespace qb
