// Placing an ad: storing the ad the new-ad form posts, or telling why not.
#include <string>

#include "gateway/ascii_text.h"
#include "gateway/request_capture.h"
#include "postdata/field_limits.h"
#include "postdata/handlers.h"
#include "postdata/page_furniture.h"
#include "postdata/placing_title.h"
#include "storage/ad_dates.h"
#include "storage/guess_limit.h"
#include "storage/place_limit.h"
#include "storage/write_transaction.h"

namespace qb {

// The answer to an ad placed without a password: it is not stored, since
// nobody could ever change or delete it (and an ad with an empty password
// would be anyone's to change).
static void SendPasswordNeededPage(Request& req) {
  ResponseWriter& out = req.out;
  out.SendContentType();
  SendPlacingTitleLine(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  out.SendLine(
      {"<center><H2>Please choose a password for your Ad</H2><b>Your Ad has not been entered. Its password "
       "lets you change or delete it later: go back, type a password and place the Ad again.</b>"});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  out.SendLine({"</center></font></body></html>"});
}

// The answer to an ad from an address that has placed as many ads as it may
// within the hour: it is not stored.
static void SendTooManyAdsPage(Request& req, std::int64_t allowedFrom) {
  ResponseWriter& out = req.out;
  const std::int64_t minutes = (allowedFrom - req.host.now() + 59) / 60;
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
  WriteTransaction transaction = req.BeginWrite();
  const CivilDate today = req.host.today();
  const CivilDate expire = AddDays(today, req.site->config.ExpireDays);
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
          : placing::Admit(*slots.database, guesses::GuessingAddress(req.cgi.REMOTE_ADDR), req.host.now());
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
                std::to_string(req.site->config.ExpireDays), "</font> Days unless you delete it first.</b>"});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  out.SendLine({"</center></font></body></html>"});
}

}  // namespace qb
