// The board's front page: terms, expiry period, the ways in, and the form
// with which a seller asks for his ads.
#include "postdata/handlers.h"
#include "postdata/page_furniture.h"

namespace qb {

void MainPage(Request& req) {
  ResponseWriter& out = req.out;
  const Trusted script{req.script};
  out.SendContentType();
  out.SendLine({"<HTML><HEAD><TITLE>Quaybill/32 - HTML - Main Page</TITLE></HEAD>"});
  SendNoticeComment(req);
  out.SendLine({"<BODY bgcolor=\"White\"><Basefont size=\"3\" face=\"arial,verdana,helvetica\">"});
  if (req.site->config.BannersEnabled) SendBannerBlock(req);
  out.SendLine(
      {"<center><h1><font color=\"maroon\"><i>Quaybill/32</i></font><font color=\"navy\"> - HTML</font></h1></center>"});
  out.SendLine({"<hr width=\"60%\" size=\"3\"><br>"});
  out.SendLine(
      {"<p><center><font size=\"+2\">Welcome to <font color=\"maroon\"><b><i>Quaybill/32 - HTML</i></b></font></font>",
       " by <a href=\"", kPublisherUrl, "\">", kPublisherName, "</a>!</center><p>"});
  out.SendLine({"<center><table width=\"80%\"><tr><td>"});
  out.SendLine(
      {"Here you can place an Item Online for Sale. You can later Edit this item or Delete it if you sell the item."});
  out.SendLine(
      {"The Administrator will set an amount of days for the Ad to expire at which time your Ad will be deleted from"});
  out.SendLine(
      {"the database. The Administrator will assume NO RESPONSIBILITY for any Ads placed Online! All Ads are AS IS"});
  out.SendLine(
      {"unless the SELLER makes any Warranty's or Guarantees. Place or Purchase from these ads AT YOUR OWN RISK."});
  out.SendLine({"</tr></td></table></center>"});
  SendExpiryNote(req);
  out.SendLine({"<center><table cellpadding=\"6\" cellspacing=\"6\" border=\"0\">"});
  out.SendLine({"<tr><td><font size=\"+1\"><a href=\"", script, "?Action=Show\"><b>Show Ads</b></a></font></td>"});
  out.SendLine({"<td><font size=\"+1\"><a href=\"", script, "?Action=ShowAll\"><b>Show ALL Ads</b></a></font></td>"});
  out.SendLine(
      {"<td><font size=\"+1\"><a href=\"", script, "?Action=NewItem\"><b>Place an Ad</b></a></font></td></tr>"});
  out.SendLine({"</table></center>"});
  out.SendLine({"<p><hr width=\"60%\" size=\"2\">"});
  out.SendLine({"<center><h1><font color=\"Maroon\">Edit Ads</font></h1>"});
  out.SendLine({"<h4>You Must enter your Name and remember the Password you chose in order to edit your ads!</h4>"});
  out.SendLine({"<form action=\"", script, "?Action=Getedit\" method=\"POST\">"});
  out.SendLine({"<b>Your Name:</b> <input type=\"Text\" name=\"Name\" size=\"20\">"});
  out.SendLine({"<input type=\"Submit\" name=\"Submit\" value=\"Get Ads\"></form>"});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  out.SendLine({"</center></BODY></HTML>"});
}

}  // namespace qb
