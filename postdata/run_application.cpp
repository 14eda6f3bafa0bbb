#include "postdata/run_application.h"

#include <string_view>

#include "gateway/ascii_text.h"
#include "gateway/error_log.h"
#include "gateway/error_page.h"
#include "gateway/qb_error.h"
#include "postdata/handlers.h"
#include "postdata/notice_page.h"
#include "postdata/page_furniture.h"
#include "postdata/site_lists.h"

namespace qb {

namespace {

struct Action {
  std::string_view name;
  void (*handler)(Request&);
};

// Compared in this order; the first equal name runs.
constexpr Action kActions[] = {
    {"NEWITEM", NewAdForm},      {"ADD", AddAd},         {"SHOW", CategoryIndex},
    {"LIST", CategoryListing},   {"SHOWALL", AllAdsListing}, {"GETEDIT", SellerAds},
    {"GETPW", PasswordForm},     {"EDIT", PasswordCheck}, {"DELETE", DeleteAd},
    {"MAIN", MainPage},          {"UPDATE", UpdateAd},
};

void SendApplicationErrorPage(Request& req, const std::string& description) {
  req.out.SendStatusOk();
  SendErrorPageBody(req, description);
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  req.out.SendLine({"</body></html>"});
}

// An action the board does not know: a page that is not there.
void SendUnknownActionPage(Request& req) {
  req.out.SendLine({"Status: 404 Not Found"});
  SendNoticePage(req, "Not Found", "- This page does not exist! -",
                 {"<center>The board has no such page. Start again from the <a href=\"",
                  Trusted{req.config.ScriptUrl}, "?action=Main\">main page</a>.</center>"});
}

void Dispatch(Request& req) {
  LoadCategoryList(req);
  if (req.config.BannersEnabled) LoadBannerList(req);
  req.ActionName = AsciiUpper(req.GetFormValue("Action"));
  req.config.ScriptUrl += req.programFile;
  // A bare address (no action at all) is a visit to the board: the main page.
  if (req.ActionName.empty()) {
    MainPage(req);
    return;
  }
  for (const Action& action : kActions) {
    if (req.ActionName == action.name) {
      action.handler(req);
      return;
    }
  }
  SendUnknownActionPage(req);
}

}  // namespace

void RunApplication(Request& req) {
  try {
    Dispatch(req);
  } catch (...) {
    QbError error = AsQbError(std::current_exception());
    // When a slot cannot be closed (never filled, or already closed) the
    // request goes on to the start-up error routine, whose page replaces the
    // whole response. It reports the error that stopped the handler: that one
    // tells the operator what went wrong, the failed close does not.
    try {
      req.slots.CloseRecordset();
      req.slots.CloseDatabase();
      req.slots.CloseQueryDef();
    } catch (...) {
      throw error;
    }
    LogErrorPage(req, error.Number(), error.Description());
    SendApplicationErrorPage(req, error.Description());
  }
}

}  // namespace qb
