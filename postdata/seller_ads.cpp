// A seller's ads, found by his name, each linking to its password form.
#include <string>

#include "gateway/ascii_text.h"
#include "postdata/form_encode.h"
#include "postdata/handlers.h"
#include "postdata/page_furniture.h"
#include "storage/statement.h"

namespace qb {

constexpr int kSellerPageSize = 100;  // ads on one page of a seller's

void SellerAds(Request& req) {
  ResponseWriter& out = req.out;
  const std::string sellerName = Trim(req.GetFormValue("Name"));
  out.SendContentType();
  out.SendLine({"<HTML><HEAD><TITLE>Quaybill/32 - HTML</TITLE></HEAD>"});
  SendNoticeComment(req);
  SendListBodyLine(req);
  out.SendLine(
      {"<center><h2>Ads placed by - <font color=\"maroon\"><i>", sellerName, "</i></font></h2></center><p>&nbsp;<br>"});
  out.SendLine({"<table>"});

  DatabaseSlots& slots = req.slots;
  slots.database = req.OpenStore();
  slots.queryDef = slots.database->CreateQueryDef(Statement::kSellerAds);
  // A seller's ads are shown a hundred at a time, as a category's are:
  // "Start" is the ID of the last ad of the page before.
  slots.queryDef->SetParameter("pName", sellerName);
  slots.queryDef->SetParameter("pStart", Trim(req.GetFormValue("Start")));
  slots.recordset = slots.queryDef->OpenRecordset();
  req.inStoreWork = true;
  const Trusted script{req.script};
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
  req.inStoreWork = false;
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

}  // namespace qb
