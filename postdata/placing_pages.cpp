// Placing an ad: the new-ad form, and storing the ad it posts.
#include <string>

#include "gateway/ascii_text.h"
#include "gateway/request_capture.h"
#include "storage/ad_dates.h"
#include "postdata/field_limits.h"
#include "postdata/handlers.h"
#include "postdata/page_furniture.h"
#include "storage/guess_limit.h"
#include "storage/place_limit.h"
#include "storage/write_transaction.h"

namespace qb {

// "<html><head><title>...Enter New Add</title></head><body bgcolor="...">",
// the title line of both placing pages.
static void SendPlacingTitleLine(Request& req) {
  req.out.SendLine({"<html><head><title>Quaybill/32-HTML - Enter New Add</title></head><body bgcolor=\"",
                    Trusted{req.config.BodyColor}, "\">"});
}

void NewAdForm(Request& req) {
  ResponseWriter& out = req.out;
  out.SendContentType();
  SendNoticeComment(req);
  SendPlacingTitleLine(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  out.SendLine({"<center><h1>Enter New Classified Ad</h1></center>"});
  SendExpiryNote(req);
  out.SendLine({"<form method=post action=\"", Trusted{req.config.ScriptUrl}, "?Action=ADD\">"});
  out.SendLine({"<center><table bgcolor=\"silver\" cellspacing=\"1\" border=\"1\"><tr><td align=\"right\">Category:</td><td><SELECT name=\"Category\">"});
  SendCategoryOptions(req, nullptr);
  out.SendLine({"<b><tr><td align=\"right\">Item:</td><td><input name=\"Item\" size=\"35\" maxlength=\"100\"></td></tr>"});
  out.SendLine({"<tr><td align=\"right\">Your Name:</td><td><input name=\"Name\" size=\"35\" maxlength=\"50\"></td></tr>"});
  out.SendLine({"<tr><td align=\"right\">Your Email Address:</td><td><input name=\"Email\" size=\"35\" maxlength=\"100\"></td></tr>"});
  out.SendLine({"<tr><td align=\"right\">Your Phone:</td><td><input name=\"Phone\" size=\"35\" maxlength=\"12\"></td></tr>"});
  out.SendLine({"<tr><td align=\"right\">Item Price: $ </td><td><b></b><input name=\"Price\" size=\"35\" maxlength=\"20\"></td></tr>"});
  out.SendLine({"<tr><td align=\"right\">Item Password: </td><td><b></b><input name=\"Password\" size=\"8\" maxlength=\"8\"></td></tr>"});
  out.SendLine({"</b></table><br>"});
  out.SendLine({"(Password required for later access to edit your Ad)<br><br>"});
  out.SendLine({"<b>Item Description:</b><br><textarea name=\"Desc\" cols=65 rows=5 wrap=on></textarea><br>"});
  out.SendLine({"<input type=submit value=\"Place Ad\">&nbsp;&nbsp;<input type=reset value=\"Reset\"></form>"});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  out.SendLine({"</center></font></body></html>"});
}

// The answer to an ad placed without a password: it is not stored, since
// nobody could ever change or delete it (and an ad with an empty password
// would be anyone's to change).
static void SendPasswordNeededPage(Request& req) {
  ResponseWriter& out = req.out;
  out.SendContentType();
  SendPlacingTitleLine(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  out.SendLine({"<center><H2>Please choose a password for your Ad</H2><b>Your Ad has not been entered. Its password "
                "lets you change or delete it later: go back, type a password and place the Ad again.</b>"});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  out.SendLine({"</center></font></body></html>"});
}

// The answer to an ad from an address that has placed as many ads as it may
// within the hour: it is not stored.
static void SendTooManyAdsPage(Request& req, std::int64_t allowedFrom) {
  ResponseWriter& out = req.out;
  const std::int64_t minutes = (allowedFrom - req.now() + 59) / 60;
  out.SendContentType();
  SendPlacingTitleLine(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  out.SendLine({"<center><H2>Too many Ads from your address</H2><b>Your Ad has not been entered: at most ",
                std::to_string(placing::kAdsPerAddress), " Ads an hour may be placed from one address. Try again in ",
                std::to_string(minutes), minutes == 1 ? Trusted{" minute.</b>"} : Trusted{" minutes.</b>"}});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  out.SendLine({"</center></font></body></html>"});
}

// Stores the ad of the request's form, unless its address has placed as many
// ads as it may: then nothing is stored, and the result is the time from
// which the address may place again (0: the ad is stored). The ad is written
// first, so that a store that cannot be written fails as it always has; its
// address is then counted (or refused) in the same transaction. A request
// without an address (the program run by hand) is not limited.
static std::int64_t StoreAd(Request& req) {
  DatabaseSlots& slots = req.slots;
  slots.database = req.OpenStore();
  slots.recordset = slots.database->OpenTable("qb");
  WriteTransaction transaction(*slots.database);
  const CivilDate today = req.today();
  const CivilDate expire = AddDays(today, req.config.ExpireDays);
  Recordset& table = *slots.recordset;
  table.AddNew();
  for (const char* field : {"Item", "Name", "Email", "Price", "Desc", "Phone", "Category"}) {
    table.SetField(field, req.GetFormValue(field));
  }
  table.SetField("Expire", IsoDateText(expire));
  table.SetField("Date", UsDateText(today));
  table.SetField("Password", AsciiUpper(req.GetFormValue("Password")));
  table.SetField("RemoteHost", req.cgi.REMOTE_HOST);
  table.SetField("RemoteAddr", req.cgi.REMOTE_ADDR);
  table.SetField("RemoteUser", req.cgi.REMOTE_USER);
  table.Update();
  const std::int64_t allowedFrom =
      req.cgi.REMOTE_ADDR.empty()
          ? 0
          : placing::Admit(*slots.database, guesses::GuessingAddress(req.cgi.REMOTE_ADDR), req.now());
  if (allowedFrom == 0) transaction.Commit();
  return allowedFrom;  // a refused ad is rolled back here
}

void AddAd(Request& req) {
  // A body cut short holds the front of the ad only: stored, it would be
  // confirmed to a seller who never sees the page.
  RequireWholeBody(req);
  if (RefuseOverlongField(req, {"Item", "Name", "Email", "Phone", "Price", "Password", "Desc"})) return;
  // A form without a password (or a body that decoded to no fields at all)
  // stores nothing.
  if (Trim(req.GetFormValue("Password")).empty()) {
    SendPasswordNeededPage(req);
    return;
  }
  // All store work comes first: a failure leaves no row, and its error page
  // is the whole response.
  const std::int64_t allowedFrom = StoreAd(req);
  req.slots.recordset->Close();
  req.slots.database->Close();
  if (allowedFrom != 0) {
    SendTooManyAdsPage(req, allowedFrom);
    return;
  }

  ResponseWriter& out = req.out;
  out.SendContentType();
  SendPlacingTitleLine(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  out.SendLine({"<center><H2>", req.GetFormValue("Name"),
                " , Your Ad has been Entered Successfully!</H2><b>This Ad will automatically Expire after <font "
                "color=\"red\">",
                std::to_string(req.config.ExpireDays), "</font> Days unless you delete it first.</b>"});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  out.SendLine({"</center></font></body></html>"});
}

}  // namespace qb
