#include "gateway/run_main.h"

#include "gateway/error_log.h"
#include "gateway/error_page.h"
#include "gateway/qb_error.h"
#include "gateway/request_capture.h"
#include "postdata/run_application.h"

namespace qb {

namespace {

void StartupErrorRoutine(Request& req, std::exception_ptr error) {
  QbError e = AsQbError(error);
  req.ErrorText = BuildErrorText(e.Description(), e.Number());
  LogErrorPage(req, e.Number(), e.Description());
  SendErrorPage(req);
}

}  // namespace

void RunMain(Request& req) {
  try {
    LoadSiteConfig(req.programDir, req.config, req.siteFiles);
    req.DatabasePath = req.programDir + "/qb.db";
    LoadCgiEnvironment(req);
    ReadFormData(req);
    RunApplication(req);
  } catch (...) {
    StartupErrorRoutine(req, std::current_exception());
  }
  req.out.Flush();
}

}  // namespace qb
