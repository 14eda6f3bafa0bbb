// The first hundred ads of all categories.
#include "postdata/ad_table.h"
#include "postdata/handlers.h"
#include "postdata/listing_frame.h"
#include "storage/statement.h"

namespace qb {

constexpr int kAllAdsLimit = 100;

void AllAdsListing(Request& req) {
  DatabaseSlots& slots = req.slots;
  slots.database = req.OpenStore();
  SendListingTop(req, "<HTML><HEAD><TITLE>Quaybill/32 - HTML</TITLE></HEAD>");
  req.out.SendLine({"<center><h1>Showing <font color=\"Maroon\">ALL</font> Ads</h1></center>"});

  slots.queryDef = slots.database->CreateQueryDef(Statement::kShowAll);
  slots.recordset = slots.queryDef->OpenRecordset();
  req.inStoreWork = true;
  Recordset& ads = *slots.recordset;
  const AdTableColumns columns(ads);
  int shown = 0;
  while (!ads.Eof()) {
    SendAdTable(req, ads, columns, AdTableForm::kAllAds);
    ads.MoveNext();
    if (++shown == kAllAdsLimit) {
      if (!ads.Eof()) {
        req.out.SendLine(
            {"<center><font size=\"+1\" color=\"red\">! There are more than 100 Ads in the database, "
             "only showing the first 100 !</font></center><p>"});
      }
      break;
    }
  }
  req.inStoreWork = false;
  ads.Close();
  slots.database->Close();
  SendListingBottom(req, "</table><center>");
}

}  // namespace qb
