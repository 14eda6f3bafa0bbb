// The new-ad form, which posts to the ADD action.
#include "postdata/handlers.h"
#include "postdata/page_furniture.h"
#include "postdata/placing_title.h"

namespace qb {

void NewAdForm(Request& req) {
  ResponseWriter& out = req.out;
  out.SendContentType();
  SendNoticeComment(req);
  SendPlacingTitleLine(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  out.SendLine({"<center><h1>Enter New Classified Ad</h1></center>"});
  SendExpiryNote(req);
  out.SendLine({"<form method=post action=\"", Trusted{req.script}, "?Action=ADD\">"});
  out.SendLine(
      {"<center><table bgcolor=\"silver\" cellspacing=\"1\" border=\"1\"><tr><td align=\"right\">Category:</td><td><SELECT name=\"Category\">"});
  SendCategoryOptions(req, nullptr);
  out.SendLine(
      {"<b><tr><td align=\"right\">Item:</td><td><input name=\"Item\" size=\"35\" maxlength=\"100\"></td></tr>"});
  out.SendLine(
      {"<tr><td align=\"right\">Your Name:</td><td><input name=\"Name\" size=\"35\" maxlength=\"50\"></td></tr>"});
  out.SendLine(
      {"<tr><td align=\"right\">Your Email Address:</td><td><input name=\"Email\" size=\"35\" maxlength=\"100\"></td></tr>"});
  out.SendLine(
      {"<tr><td align=\"right\">Your Phone:</td><td><input name=\"Phone\" size=\"35\" maxlength=\"12\"></td></tr>"});
  out.SendLine(
      {"<tr><td align=\"right\">Item Price: $ </td><td><b></b><input name=\"Price\" size=\"35\" maxlength=\"20\"></td></tr>"});
  out.SendLine(
      {"<tr><td align=\"right\">Item Password: </td><td><b></b><input name=\"Password\" size=\"8\" maxlength=\"8\"></td></tr>"});
  out.SendLine({"</b></table><br>"});
  out.SendLine({"(Password required for later access to edit your Ad)<br><br>"});
  out.SendLine({"<b>Item Description:</b><br><textarea name=\"Desc\" cols=65 rows=5 wrap=on></textarea><br>"});
  out.SendLine({"<input type=submit value=\"Place Ad\">&nbsp;&nbsp;<input type=reset value=\"Reset\"></form>"});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  out.SendLine({"</center></font></body></html>"});
}

}  // namespace qb
