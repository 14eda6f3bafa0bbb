#include "postdata/run_application.h"

#include "gateway/ascii_text.h"
#include "gateway/error_log.h"
#include "gateway/error_page.h"
#include "gateway/qb_error.h"
#include "postdata/handlers.h"
#include "postdata/notice_page.h"
#include "postdata/page_furniture.h"

namespace qb {

namespace {

void SendApplicationErrorPage(Request& req, const std::string& description) {
  req.out.SendStatusOk();
  SendErrorPageBody(req, req.site->config, description);
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  req.out.SendLine({"</body></html>"});
}

// An action the board does not know: a page that is not there.
void SendUnknownActionPage(Request& req) {
  req.out.SendLine({"Status: 404 Not Found"});
  SendNoticePage(req, "Not Found", "- This page does not exist! -",
                 {"<center>The board has no such page. Start again from the <a href=\"", Trusted{req.script},
                  "?action=Main\">main page</a>.</center>"});
}

void Dispatch(Request& req) {
  req.ActionName = AsciiUpper(req.GetFormValue("Action"));
  req.script = req.site->config.ScriptUrl + req.host.program.file;
  // A bare address (no action at all) is a visit to the board: the main page.
  req.action = FindAction(req.ActionName.empty() ? std::string_view("MAIN") : std::string_view(req.ActionName));
  if (req.action == nullptr) {
    SendUnknownActionPage(req);
    return;
  }
  req.action->handler(req);
}

}  // namespace

void RunApplication(Request& req) {
  try {
    Dispatch(req);
  } catch (...) {
    QbError error = AsQbError(std::current_exception());
    const bool applicationPage =
        req.inStoreWork && req.action != nullptr && req.action->storeWorkFailure == ErrorPage::kApplication;
    // What the handler left open is closed either way, giving its store
    // connection back. The error reported is the one that stopped the
    // handler: that one tells the operator what went wrong, a failed close
    // does not. A close that fails sends the request to the gateway page.
    try {
      req.slots.CloseFilled();
    } catch (...) {
      throw error;
    }
    if (!applicationPage) throw error;
    LogErrorPage(req, error.Number(), error.Description());
    SendApplicationErrorPage(req, error.Description());
  }
}

}  // namespace qb
