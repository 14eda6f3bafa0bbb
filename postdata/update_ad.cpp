// Updating an ad: the fields of its edit page stored over it, once its
// password is tested again, in the same write transaction as the change, so
// that no other request's change comes between the test and the change.
#include <string>

#include "gateway/qb_error.h"
#include "gateway/request_capture.h"
#include "postdata/answer_pages.h"
#include "postdata/field_limits.h"
#include "postdata/handlers.h"
#include "postdata/page_furniture.h"
#include "postdata/password_test.h"
#include "storage/ad_dates.h"
#include "storage/statement.h"
#include "storage/write_transaction.h"

namespace qb {

void UpdateAd(Request& req) {
  RequireWholeBody(req);  // as when placing an ad
  if (RefuseOverlongField(req, {"Item", "Email", "Phone", "Price", "Desc"})) return;
  // All store work comes first; the page follows only when it has succeeded.
  DatabaseSlots& slots = req.slots;
  slots.database = req.OpenStore();
  WriteTransaction transaction = req.BeginWrite();
  slots.queryDef = slots.database->CreateQueryDef(Statement::kAdById);
  slots.queryDef->SetParameter("pName", req.GetFormValue("ID"));
  slots.recordset = slots.queryDef->OpenRecordset();
  req.inStoreWork = true;
  Recordset& ad = *slots.recordset;
  if (ad.Eof()) throw QbError(kErrNoCurrentRecord, kNoAdWithThatId);
  const PasswordTest test = TestPassword(req, ad, req.GetFormValue("pw"));
  if (test.result != Unlock::kOpened) {
    transaction.Commit();
    req.inStoreWork = false;
    ad.Close();
    slots.database->Close();
    SendRefusalPage(req, test);
    return;
  }
  const CivilDate today = req.host.today();
  const CivilDate expire = AddDays(today, req.site->config.ExpireDays);
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
  req.inStoreWork = false;
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

}  // namespace qb
