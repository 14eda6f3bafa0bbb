// The password check: the ad's edit page for its right password, else a
// refusal.
#include <string>

#include "gateway/ascii_text.h"
#include "postdata/answer_pages.h"
#include "postdata/handlers.h"
#include "postdata/page_furniture.h"
#include "postdata/password_test.h"
#include "storage/statement.h"
#include "storage/write_transaction.h"

namespace qb {

namespace {

// The edit page: the ad's fields in a form that posts to Update, and a second
// form that posts to Delete. Both carry the ad's ID and the password that
// unlocked it, since Update and Delete check it again; the delete form also
// carries the item's title for its confirmation.
void SendEditPage(Request& req, const Recordset& ad, const std::string& password) {
  ResponseWriter& out = req.out;
  const Trusted script{req.script};
  const Trusted valueEnd{"\"></td></tr>"};
  out.SendContentType();
  out.SendLine({"<html><head><title>Quaybill/32 - HTML - Edit Ads</title></head><body bgcolor=\"",
                Trusted{req.site->config.BodyColor}, "\">"});
  SendNoticeComment(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  out.SendLine({"<center><h1>Edit Ad</h1></center>"});
  out.SendLine({"<form method=post action=\"", script, "?Action=Update\">"});
  out.SendLine(
      {"<center><table bgcolor=\"silver\" cellspacing=\"1\" border=\"1\"><tr><td "
       "align=\"right\">Category:</td><td><SELECT name=\"Category\">"});
  const std::string category(ad.Field("Category"));
  SendCategoryOptions(req, &category);
  out.SendLine({"<b><tr><td align=\"right\">Item:</td><td><input name=\"Item\" size=\"35\" maxlength=\"100\" value=\"",
                ad.Field("Item"), valueEnd});
  out.SendLine(
      {"<tr><td align=\"right\">Your Email Address:</td><td><input name=\"Email\" size=\"35\" "
       "maxlength=\"100\" value=\"",
       ad.Field("Email"), valueEnd});
  out.SendLine(
      {"<tr><td align=\"right\">Your Phone:</td><td><input name=\"Phone\" size=\"35\" maxlength=\"12\" "
       "value=\"",
       ad.Field("Phone"), valueEnd});
  out.SendLine(
      {"<tr><td align=\"right\">Item Price: $ </td><td><b></b><input name=\"Price\" size=\"35\" "
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
  WriteTransaction transaction = req.BeginWrite();
  slots.queryDef = slots.database->CreateQueryDef(Statement::kAdByIdForEdit);
  slots.queryDef->SetParameter("pItem", Trim(req.GetFormValue("ID")));
  slots.recordset = slots.queryDef->OpenRecordset();
  req.inStoreWork = true;
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
  req.inStoreWork = false;
  slots.recordset->Close();
  slots.database->Close();
}

}  // namespace qb
