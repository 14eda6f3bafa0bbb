// The seller's edit flow: his ads by name, the password form, the password
// check with the edit page, and the update and delete of one ad.
#include <string>

#include "gateway/qb_error.h"
#include "postdata/field_limits.h"
#include "postdata/handlers.h"
#include "postdata/page_furniture.h"
#include "postdata/text_utils.h"
#include "storage/ad_dates.h"
#include "storage/ad_queries.h"

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
  slots.database = Database::Open(req.DatabasePath);
  slots.queryDef = slots.database->CreateQueryDef(queries::kSellerAds);
  slots.queryDef->SetParameter("pName", sellerName);
  slots.recordset = slots.queryDef->OpenRecordset();
  const Trusted script{req.config.ScriptUrl};
  for (Recordset& ads = *slots.recordset; !ads.Eof(); ads.MoveNext()) {
    out.SendLine({"<tr><td><b>Item:</b></td><td><a href=\"", script, "?Action=Getpw&ID=", ads.Field("ID"), "\">",
                  ads.Field("Item"), "</a></td><td>&nbsp;&nbsp;</td><td><b>Category:</b></td><td>",
                  ads.Field("Category"), "</td></tr>"});
  }
  slots.recordset->Close();
  slots.database->Close();

  out.SendLine({"</table>"});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kCentred);
  out.SendLine({"</font></center></body></html>"});
}

namespace {

// Whether the password a seller typed unlocks the ad: typed text trimmed and
// upper-cased against the stored (upper-cased, untrimmed) password. A stored
// password that is null matches nothing.
bool PasswordMatches(const Recordset& ad, std::string_view typed) {
  if (ad.FieldIsNull("Password")) return false;
  return ad.Field("Password") == AsciiUpper(Trim(typed));
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
  slots.database = Database::Open(req.DatabasePath);
  slots.queryDef = slots.database->CreateQueryDef(queries::kAdByIdForEdit);
  slots.queryDef->SetParameter("pItem", Trim(req.GetFormValue("ID")));
  slots.recordset = slots.queryDef->OpenRecordset();
  const Recordset& ad = *slots.recordset;
  const std::string typed = req.GetFormValue("pw");
  // Reading the password of a missing ad fails here, before any output.
  if (PasswordMatches(ad, typed)) {
    SendEditPage(req, ad, AsciiUpper(Trim(typed)));
  } else {
    SendInvalidPasswordPage(req);
  }
  slots.recordset->Close();
  slots.database->Close();
}

void UpdateAd(Request& req) {
  if (RefuseOverlongField(req, {"Item", "Email", "Phone", "Price", "Desc"})) return;
  // All store work comes first; the page follows only when it has succeeded.
  DatabaseSlots& slots = req.slots;
  slots.database = Database::Open(req.DatabasePath);
  slots.queryDef = slots.database->CreateQueryDef(queries::kAdById);
  slots.queryDef->SetParameter("pName", req.GetFormValue("ID"));
  slots.recordset = slots.queryDef->OpenRecordset();
  Recordset& ad = *slots.recordset;
  if (ad.Eof()) throw QbError(kErrNoCurrentRecord, "No current record: there is no ad with that ID");
  if (!PasswordMatches(ad, req.GetFormValue("pw"))) {
    ad.Close();
    slots.database->Close();
    SendInvalidPasswordPage(req);
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
  slots.database = Database::Open(req.DatabasePath);
  slots.recordset = slots.database->OpenTable("QB");
  const std::string id = req.GetFormValue("ID");

  // Only the seller who unlocked the ad may delete it. An ID that names no ad
  // (deleted before, or purged) deletes nothing and is confirmed all the same.
  bool allowed = true;
  {
    std::unique_ptr<QueryDef> lookup = slots.database->CreateQueryDef(queries::kAdById);
    lookup->SetParameter("pName", id);
    std::unique_ptr<Recordset> ad = lookup->OpenRecordset();
    if (!ad->Eof()) allowed = PasswordMatches(*ad, req.GetFormValue("pw"));
    ad->Close();
  }
  if (allowed) {
    slots.queryDef = slots.database->CreateQueryDef(queries::kDeleteAd);
    slots.queryDef->SetParameter("pName", id);
    slots.queryDef->Execute();
    slots.queryDef->Close();
  }
  slots.recordset->Close();
  slots.database->Close();
  if (!allowed) {
    SendInvalidPasswordPage(req);
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
