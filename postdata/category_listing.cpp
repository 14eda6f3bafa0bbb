// The ads of one category, a hundred at a time, followed by the expiry purge.
#include <optional>
#include <string>

#include "gateway/ascii_text.h"
#include "gateway/error_log.h"
#include "gateway/qb_error.h"
#include "postdata/ad_table.h"
#include "postdata/category_number.h"
#include "postdata/handlers.h"
#include "postdata/kept_pages.h"
#include "postdata/listing_frame.h"
#include "postdata/page_furniture.h"
#include "storage/statement.h"

namespace qb {

namespace {

constexpr int kPageSize = 100;  // ads on one page of a category

// Deletes every ad, of any category, whose expiry day lies before today.
// Most listings find nothing expired: an indexed read tells, so that the
// write, which would queue behind other requests for the store's write lock,
// only happens when there is something to delete. Runs on the connection
// the listing kept when it closed its database. A resident process notes
// the store's stamp once nothing expired is left, and skips the check while
// that stamp and the day stay the same.
void PurgeExpiredAds(Request& req, const CivilDate& today) {
  DatabaseSlots& slots = req.slots;
  slots.database = slots.database->Reopen();
  const std::string todayText = UsDateText(today);
  bool anyExpired = false;
  bool purged = true;
  {
    std::unique_ptr<QueryDef> check = slots.database->CreateQueryDef(Statement::kAnyExpired);
    check->SetParameter("pName", todayText);
    std::unique_ptr<Recordset> found = check->OpenRecordset();
    anyExpired = !found->Eof();
    found->Close();
  }
  if (anyExpired) {
    slots.queryDef = slots.database->CreateQueryDef(Statement::kPurgeExpired);
    slots.queryDef->SetParameter("pName", todayText);
    // A store this site may not write (a read-only file or directory) keeps
    // its expired ads until a listing that can write comes by. The visitor
    // has his page; the operator reads why in the server's error log. Nor
    // does a listing wait behind other writers (a resident process holds its
    // page until the request ends): the next quiet listing purges.
    const QueryDef::Deferred done = slots.queryDef->ExecuteWhenFree();
    purged = done == QueryDef::Deferred::kDone;
    if (done == QueryDef::Deferred::kCannotWrite) {
      LogForRequest(
          req,
          "expired ads not purged: the store cannot be written (a read-only file or directory, or a database server that refuses writes)");
    }
    slots.queryDef->Close();
  }
  if (KeptPages* pages = req.host.Pages(); pages != nullptr && purged) {
    if (const std::optional<StoreStamp> stamp = slots.database->ChangeStamp()) pages->Purged(today, *stamp);
  }
  slots.database->Close();
}

// The page's store part written again when this process kept it, made from
// the same site and store on the same day for the same inputs.
bool SendKeptPage(Request& req, const PageKey& key, const std::optional<PageBasis>& basis) {
  const std::string* kept = basis ? req.host.Pages()->Find(key, *basis) : nullptr;
  if (kept != nullptr) req.out.SendWritten(*kept);
  return kept != nullptr;
}

// Closed before the page ends, as every handler closes its database; only
// SQLite's connection stays for a purge to come, saving a second open.
void CloseStore(Request& req, bool purgeDue) {
  if (purgeDue) {
    req.slots.database->CloseKeepingConnection();
  } else {
    req.slots.database->Close();
  }
}

// The page from its heading to its end, read from the store; closes the
// database as CloseStore does.
void SendStorePart(Request& req, std::int16_t category, const std::string& start, bool purgeDue) {
  DatabaseSlots& slots = req.slots;
  const std::string& name = req.site->CategoryList[static_cast<std::size_t>(category)];
  req.out.SendLine(
      {"<center><h1>Ads for Category - <font color=\"Maroon\"><i>", Trusted{name}, "</i></font></h1></center>"});
  req.out.SendLine({"<hr width=\"60%\" size=\"2\"><br><br>"});

  slots.queryDef = slots.database->CreateQueryDef(Statement::kListCategory);
  slots.queryDef->SetParameter("pCat", name);
  slots.queryDef->SetParameter("pStart", start);
  slots.recordset = slots.queryDef->OpenRecordset();
  req.inStoreWork = true;

  Recordset& ads = *slots.recordset;
  if (ads.Eof()) {
    req.out.SendLine({start.empty() ? Trusted{"<center><h2><font color=\"maroon\">- No Ads have been placed in this "
                                              "Category! -</font></h2></center>"}
                                    : Trusted{"<center><h2><font color=\"maroon\">- No more Ads in this Category! "
                                              "-</font></h2></center>"}});
  }
  const AdTableColumns columns(ads);
  const int id = ads.FieldColumn("ID");
  std::string lastShown;
  for (int shown = 0; !ads.Eof(); ads.MoveNext()) {
    if (shown++ == kPageSize) {
      req.out.SendLine({"<center><font size=\"+1\"><b><a href=\"", Trusted{req.script}, "?Action=List&Cat=",
                        std::to_string(category), "&Start=", lastShown, "\">Next 100 Ads</a></b></font></center><p>"});
      break;
    }
    SendAdTable(req, ads, columns, AdTableForm::kCategory);
    lastShown = ads.FieldAt(id);
  }
  req.inStoreWork = false;
  ads.Close();
  CloseStore(req, purgeDue);
  SendListingBottom(req, "<center>");
}

}  // namespace

void CategoryListing(Request& req) {
  const std::int16_t category = CategoryNumber(req.GetFormValue("Cat"));
  DatabaseSlots& slots = req.slots;
  slots.database = req.OpenStore();

  SendListingTop(req, "<HTML><HEAD><TITLE>Quaybill/32 - HTML - List</TITLE></HEAD>");
  if (category < 1 || category > 8) {
    throw QbError(kErrSubscript, "Subscript out of range: there is no category " + std::to_string(category));
  }
  // A category is shown a hundred ads at a time; "Start" is the ID of the
  // last ad of the page before.
  const std::string start = Trim(req.GetFormValue("Start"));
  const CivilDate today = req.host.today();
  // Everything from here to the page's end hangs on the site, the store and
  // the inputs alone: a resident process keeps it (the banner above is drawn
  // for every request).
  const PageKey key{'L', category, start};
  std::optional<PageBasis> basis;
  if (req.host.Pages() != nullptr) {
    if (std::optional<StoreStamp> stamp = slots.database->ChangeStamp()) basis = PageBasis{req.site, today, *stamp};
  }
  // Nothing has expired since the last look when neither the store nor the day has changed.
  const bool purgeDue = !basis || !req.host.Pages()->PurgedFor(today, basis->store);
  if (SendKeptPage(req, key, basis)) {
    CloseStore(req, purgeDue);
  } else {
    const std::size_t pageStart = req.out.Held().size();
    SendStorePart(req, category, start, purgeDue);
    if (basis) req.host.Pages()->Keep(key, *basis, req.out.Held().substr(pageStart));
  }
  if (!purgeDue) return;
  // The page is complete: let the visitor have it before the purge.
  req.out.Flush();
  PurgeExpiredAds(req, today);
}

}  // namespace qb
