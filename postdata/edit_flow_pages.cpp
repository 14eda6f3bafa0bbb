// The seller's edit flow: his ads by name, the password form, the password
// check with the edit page, and the update and delete of one ad.
#include <charconv>
#include <cstdint>
#include <string>

#include "gateway/ascii_text.h"
#include "gateway/qb_error.h"
#include "gateway/request_capture.h"
#include "postdata/field_limits.h"
#include "postdata/handlers.h"
#include "postdata/page_furniture.h"
#include "postdata/text_utils.h"
#include "storage/ad_dates.h"
#include "storage/guess_limit.h"
#include "storage/statement.h"
#include "storage/write_transaction.h"

namespace qb {

constexpr int kSellerPageSize = 100;  // ads on one page of a seller's

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

void SellerAds(Request& req) {
  ResponseWriter& out = req.out;
  const std::string sellerName = Trim(req.GetFormValue("Name"));
  out.SendContentType();
  out.SendLine({"<HTML><HEAD><TITLE>Quaybill/32 - HTML</TITLE></HEAD>"});
  SendNoticeComment(req);
  SendListBodyLine(req);
  out.SendLine({"<center><h2>Ads placed by - <font color=\"maroon\"><i>", sellerName,
                "</i></font></h2></center><p>&nbsp;<br>"});
  out.SendLine({"<table>"});

  DatabaseSlots& slots = req.slots;
  slots.database = req.OpenStore();
  slots.queryDef = slots.database->CreateQueryDef(Statement::kSellerAds);
  // A seller's ads are shown a hundred at a time, as a category's are:
  // "Start" is the ID of the last ad of the page before.
  slots.queryDef->SetParameter("pName", sellerName);
  slots.queryDef->SetParameter("pStart", Trim(req.GetFormValue("Start")));
  slots.recordset = slots.queryDef->OpenRecordset();
  const Trusted script{req.config.ScriptUrl};
  std::string lastShown;
  bool more = false;
  int shown = 0;
  for (Recordset& ads = *slots.recordset; !ads.Eof(); ads.MoveNext()) {
    if (shown++ == kSellerPageSize) {
      more = true;
      break;
    }
    out.SendLine({"<tr><td><b>Item:</b></td><td><a href=\"", script, "?Action=Getpw&ID=", ads.Field("ID"), "\">",
                  ads.Field("Item"), "</a></td><td>&nbsp;&nbsp;</td><td><b>Category:</b></td><td>",
                  ads.Field("Category"), "</td></tr>"});
    lastShown = ads.Field("ID");
  }
  slots.recordset->Close();
  slots.database->Close();

  out.SendLine({"</table>"});
  if (more) {
    out.SendLine({"<center><font size=\"+1\"><b><a href=\"", script, "?Action=Getedit&Name=", FormEncode(sellerName),
                  "&Start=", lastShown, "\">Next 100 Ads</a></b></font></center><p>"});
  }
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kCentred);
  out.SendLine({"</font></center></body></html>"});
}

namespace {

// The error of an UPDATE or DELETE whose ID names no ad.
constexpr char kNoAdWithThatId[] = "No current record: there is no ad with that ID";

// Whether the password a seller typed unlocks the ad: both trimmed of blanks
// (the stored one keeps those it was placed with), the typed one upper-cased
// as the stored one was. A stored password that is null or blank matches
// nothing, so an ad without one cannot be unlocked at all.
bool PasswordMatches(const Recordset& ad, std::string_view typed) {
  if (ad.FieldIsNull("Password")) return false;
  const std::string stored = Trim(ad.Field("Password"));
  return !stored.empty() && stored == AsciiUpper(Trim(typed));
}

enum class Unlock { kOpened, kWrongPassword, kTooManyTries };

struct PasswordTest {
  Unlock result;
  std::int64_t allowedFrom = 0;  // for kTooManyTries: when to try again
};

// Tests the typed password on the ad within the guessing limit, counting a
// wrong one. Runs inside the request's write transaction. Reading a missing
// ad raises kErrNoCurrentRecord, before anything is counted.
PasswordTest TestPassword(Request& req, const Recordset& ad, std::string_view typed) {
  Database& db = *req.slots.database;
  const std::string_view idText = ad.Field("ID");
  std::int64_t adId = 0;
  std::from_chars(idText.data(), idText.data() + idText.size(), adId);
  const std::string address = guesses::GuessingAddress(req.cgi.REMOTE_ADDR);
  const std::int64_t now = req.now();
  const std::int64_t allowedFrom = guesses::AllowedFrom(db, address, adId, now);
  if (allowedFrom > now) return {Unlock::kTooManyTries, allowedFrom};
  if (PasswordMatches(ad, typed)) {
    guesses::ForgetWrongTries(db, address, adId);
    return {Unlock::kOpened};
  }
  guesses::CountWrongTry(db, address, adId, now);
  return {Unlock::kWrongPassword};
}

// The first lines of the short answer pages (invalid password, updated,
// deleted): header, title line with the site's colour, notice comment.
void SendAnswerPageTop(Request& req) {
  req.out.SendContentType();
  req.out.SendLine({"<html><head><title>Quaybill/32 - HTML</title></head><body bgcolor=\"", Trusted{req.config.BodyColor},
                    "\">"});
  SendNoticeComment(req);
}

void SendInvalidPasswordPage(Request& req) {
  ResponseWriter& out = req.out;
  SendAnswerPageTop(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  out.SendLine({"<h1>Invalid Password!</h1>"});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  out.SendLine({"</center></font></body></html>"});
}

void SendTooManyTriesPage(Request& req, std::int64_t allowedFrom) {
  ResponseWriter& out = req.out;
  const std::int64_t minutes = (allowedFrom - req.now() + 59) / 60;
  SendAnswerPageTop(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  out.SendLine({"<h1>Too many wrong passwords!</h1>"});
  out.SendLine({"<b>Too many wrong passwords were tried for this ad. Try again in ", std::to_string(minutes),
                minutes == 1 ? Trusted{" minute.</b>"} : Trusted{" minutes.</b>"}});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  out.SendLine({"</center></font></body></html>"});
}

// The page for a password that did not unlock the ad.
void SendRefusalPage(Request& req, const PasswordTest& test) {
  if (test.result == Unlock::kTooManyTries) {
    SendTooManyTriesPage(req, test.allowedFrom);
  } else {
    SendInvalidPasswordPage(req);
  }
}

// The edit page: the ad's fields in a form that posts to Update, and a second
// form that posts to Delete. Both carry the ad's ID and the password that
// unlocked it, since Update and Delete check it again; the delete form also
// carries the item's title for its confirmation.
void SendEditPage(Request& req, const Recordset& ad, const std::string& password) {
  ResponseWriter& out = req.out;
  const Trusted script{req.config.ScriptUrl};
  const Trusted valueEnd{"\"></td></tr>"};
  out.SendContentType();
  out.SendLine({"<html><head><title>Quaybill/32 - HTML - Edit Ads</title></head><body bgcolor=\"",
                Trusted{req.config.BodyColor}, "\">"});
  SendNoticeComment(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  out.SendLine({"<center><h1>Edit Ad</h1></center>"});
  out.SendLine({"<form method=post action=\"", script, "?Action=Update\">"});
  out.SendLine({"<center><table bgcolor=\"silver\" cellspacing=\"1\" border=\"1\"><tr><td "
                "align=\"right\">Category:</td><td><SELECT name=\"Category\">"});
  const std::string category(ad.Field("Category"));
  SendCategoryOptions(req, &category);
  out.SendLine({"<b><tr><td align=\"right\">Item:</td><td><input name=\"Item\" size=\"35\" maxlength=\"100\" value=\"",
                ad.Field("Item"), valueEnd});
  out.SendLine({"<tr><td align=\"right\">Your Email Address:</td><td><input name=\"Email\" size=\"35\" "
                "maxlength=\"100\" value=\"",
                ad.Field("Email"), valueEnd});
  out.SendLine({"<tr><td align=\"right\">Your Phone:</td><td><input name=\"Phone\" size=\"35\" maxlength=\"12\" "
                "value=\"",
                ad.Field("Phone"), valueEnd});
  out.SendLine({"<tr><td align=\"right\">Item Price: $ </td><td><b></b><input name=\"Price\" size=\"35\" "
                "maxlength=\"20\" value=\"",
                ad.Field("Price"), valueEnd});
  out.SendLine({"</b></table><br><b>Item Description:</b><br><textarea name=\"Desc\" cols=65 rows=5 wrap=on>",
                ad.Field("Desc"), "</textarea><br><p>"});
  const std::string id(ad.Field("ID"));
  out.SendLine({"<input type=\"hidden\" Name=\"ID\" Value=\"", id, "\"><input type=\"hidden\" Name=\"pw\" Value=\"",
                password, "\">"});
  out.SendLine({"<input type=submit value=\"Update Ad\"></form><br>"});
  out.SendLine({"<form method=\"post\" action=\"", script, "?Action=Delete\">"});
  out.SendLine({"<input type=\"hidden\" Name=\"ID\" Value=\"", id, "\"><input type=\"hidden\" Name=\"pw\" Value=\"",
                password, "\"><input type=\"hidden\" Name=\"Item\" Value=\"", ad.Field("Item"), "\">"});
  out.SendLine({"<input type=submit value=\"Delete Ad\"></form><br>"});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  out.SendLine({"</center></font></body></html>"});
}

}  // namespace

void PasswordCheck(Request& req) {
  DatabaseSlots& slots = req.slots;
  slots.database = req.OpenStore();
  WriteTransaction transaction(*slots.database);
  slots.queryDef = slots.database->CreateQueryDef(Statement::kAdByIdForEdit);
  slots.queryDef->SetParameter("pItem", Trim(req.GetFormValue("ID")));
  slots.recordset = slots.queryDef->OpenRecordset();
  const Recordset& ad = *slots.recordset;
  const std::string typed = req.GetFormValue("pw");
  // Reading a missing ad fails here, before any output.
  const PasswordTest test = TestPassword(req, ad, typed);
  transaction.Commit();
  if (test.result == Unlock::kOpened) {
    SendEditPage(req, ad, AsciiUpper(Trim(typed)));
  } else {
    SendRefusalPage(req, test);
  }
  slots.recordset->Close();
  slots.database->Close();
}

// UPDATE and DELETE test the password again, in the same write transaction
// as their change: no other request's change can come between the test and
// the change it allows.

void UpdateAd(Request& req) {
  RequireWholeBody(req);  // as when placing an ad
  if (RefuseOverlongField(req, {"Item", "Email", "Phone", "Price", "Desc"})) return;
  // All store work comes first; the page follows only when it has succeeded.
  DatabaseSlots& slots = req.slots;
  slots.database = req.OpenStore();
  WriteTransaction transaction(*slots.database);
  slots.queryDef = slots.database->CreateQueryDef(Statement::kAdById);
  slots.queryDef->SetParameter("pName", req.GetFormValue("ID"));
  slots.recordset = slots.queryDef->OpenRecordset();
  Recordset& ad = *slots.recordset;
  if (ad.Eof()) throw QbError(kErrNoCurrentRecord, kNoAdWithThatId);
  const PasswordTest test = TestPassword(req, ad, req.GetFormValue("pw"));
  if (test.result != Unlock::kOpened) {
    transaction.Commit();
    ad.Close();
    slots.database->Close();
    SendRefusalPage(req, test);
    return;
  }
  const CivilDate today = req.today();
  const CivilDate expire = AddDays(today, req.config.ExpireDays);
  ad.Edit();
  for (const char* field : {"Item", "Email", "Price", "Desc", "Phone"}) ad.SetField(field, req.GetFormValue(field));
  ad.SetField("Expire", IsoDateText(expire));
  ad.SetField("Date", UsDateText(today));
  ad.SetField("Category", req.GetFormValue("Category"));
  ad.SetField("RemoteHost", req.cgi.REMOTE_HOST);
  ad.SetField("RemoteAddr", req.cgi.REMOTE_ADDR);
  ad.SetField("RemoteUser", req.cgi.REMOTE_USER);
  ad.Update();
  transaction.Commit();
  ad.Close();
  slots.database->Close();

  ResponseWriter& out = req.out;
  SendAnswerPageTop(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\"><center>"});
  out.SendLine({"<H1><font color=\"maroon\"><i>", req.GetFormValue("Item"),
                "</i></font></h1><h1>was Updated successfully</H1>"});
  SendNavigationBar(req, NavBarForm::kUncentred);
  SendFooterNotice(req, FooterForm::kCentreFirst);
  out.SendLine({"</center></font></body></html>"});
}

void DeleteAd(Request& req) {
  DatabaseSlots& slots = req.slots;
  slots.database = req.OpenStore();
  slots.recordset = slots.database->OpenTable("QB");
  WriteTransaction transaction(*slots.database);
  const std::string id = req.GetFormValue("ID");

  // Only the seller who unlocked the ad may delete it. An ID that names no ad
  // (never placed, deleted before, or purged) is refused as UPDATE refuses it:
  // nothing was deleted, so nothing is confirmed.
  slots.queryDef = slots.database->CreateQueryDef(Statement::kAdById);
  slots.queryDef->SetParameter("pName", id);
  PasswordTest test{Unlock::kWrongPassword};
  {
    std::unique_ptr<Recordset> ad = slots.queryDef->OpenRecordset();
    if (ad->Eof()) throw QbError(kErrNoCurrentRecord, kNoAdWithThatId);
    test = TestPassword(req, *ad, req.GetFormValue("pw"));
    ad->Close();
  }
  if (test.result == Unlock::kOpened) {
    std::unique_ptr<QueryDef> erase = slots.database->CreateQueryDef(Statement::kDeleteAd);
    erase->SetParameter("pName", id);
    erase->Execute();
    erase->Close();
  }
  transaction.Commit();
  slots.queryDef->Close();
  slots.recordset->Close();
  slots.database->Close();
  if (test.result != Unlock::kOpened) {
    SendRefusalPage(req, test);
    return;
  }

  ResponseWriter& out = req.out;
  SendAnswerPageTop(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  out.SendLine({"<H1><font color=\"maroon\"><i>", req.GetFormValue("Item"), "</i></font> was deleted successfully</H1>"});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  out.SendLine({"</center></font></body></html>"});
}

}  // namespace qb
