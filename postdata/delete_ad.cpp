// Deleting an ad, once its password is tested again, in the same write
// transaction as the delete.
#include <memory>
#include <string>

#include "gateway/qb_error.h"
#include "postdata/answer_pages.h"
#include "postdata/handlers.h"
#include "postdata/page_furniture.h"
#include "postdata/password_test.h"
#include "storage/statement.h"
#include "storage/write_transaction.h"

namespace qb {

void DeleteAd(Request& req) {
  DatabaseSlots& slots = req.slots;
  slots.database = req.OpenStore();
  WriteTransaction transaction = req.BeginWrite();
  const std::string id = req.GetFormValue("ID");

  // Only the seller who unlocked the ad may delete it. An ID that names no ad
  // (never placed, deleted before, or purged) is refused as UPDATE refuses it:
  // nothing was deleted, so nothing is confirmed.
  slots.queryDef = slots.database->CreateQueryDef(Statement::kAdById);
  req.inStoreWork = true;
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
  req.inStoreWork = false;
  slots.queryDef->Close();
  slots.database->Close();
  if (test.result != Unlock::kOpened) {
    SendRefusalPage(req, test);
    return;
  }

  ResponseWriter& out = req.out;
  SendAnswerPageTop(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  out.SendLine(
      {"<H1><font color=\"maroon\"><i>", req.GetFormValue("Item"), "</i></font> was deleted successfully</H1>"});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  out.SendLine({"</center></font></body></html>"});
}

}  // namespace qb
