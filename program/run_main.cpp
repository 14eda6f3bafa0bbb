#include "program/run_main.h"

#include "gateway/error_log.h"
#include "gateway/error_page.h"
#include "gateway/qb_error.h"
#include "gateway/request_capture.h"
#include "gateway/site_lists.h"
#include "postdata/run_application.h"

namespace qb {

namespace {

void StartupErrorRoutine(Request& req, std::exception_ptr error) {
  QbError e = AsQbError(error);
  req.ErrorText = BuildErrorText(e.Description(), e.Number());
  LogErrorPage(req, e.Number(), e.Description());
  // Settings read before a failure show on the page (the administrator's address).
  SendErrorPage(req, req.site ? req.site->config : SiteConfig{});
}

}  // namespace

void RunMain(Request& req) {
  try {
    // The settings come first, the lists after the request is decoded, so
    // that each failure is reported in that order.
    std::shared_ptr<Site> reading;
    std::vector<FileStamp>* stamps = nullptr;
    req.site = req.host.UnchangedSite();
    if (!req.site) {
      reading = std::make_shared<Site>();
      reading->directory = req.host.program.directory;
      req.site = reading;
      // Only a resident process, the one that keeps a store connection,
      // keeps the site too and needs to know what its files were; a CGI
      // process spares itself their status.
      if (req.host.Kept() != nullptr) stamps = &reading->files;
      LoadSiteConfig(reading->directory, reading->config, stamps);
    }
    LoadCgiEnvironment(req);
    ReadFormData(req);
    if (reading) {
      LoadCategoryList(*reading, stamps);
      if (reading->config.BannersEnabled) LoadBannerList(*reading, stamps);
      req.host.KeepSite(reading);
    }
    RunApplication(req);
  } catch (...) {
    StartupErrorRoutine(req, std::current_exception());
  }
  req.out.Flush();
}

}  // namespace qb
