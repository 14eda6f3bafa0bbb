#include "postdata/answer_pages.h"

#include <string>

#include "postdata/page_furniture.h"

namespace qb {

void SendAnswerPageTop(Request& req) {
  req.out.SendContentType();
  req.out.SendLine({"<html><head><title>Quaybill/32 - HTML</title></head><body bgcolor=\"",
                    Trusted{req.site->config.BodyColor}, "\">"});
  SendNoticeComment(req);
}

namespace {

void SendInvalidPasswordPage(Request& req) {
  ResponseWriter& out = req.out;
  SendAnswerPageTop(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  out.SendLine({"<h1>Invalid Password!</h1>"});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  out.SendLine({"</center></font></body></html>"});
}

void SendTooManyTriesPage(Request& req, std::int64_t allowedFrom) {
  ResponseWriter& out = req.out;
  const std::int64_t minutes = (allowedFrom - req.host.now() + 59) / 60;
  SendAnswerPageTop(req);
  out.SendLine({"<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  out.SendLine({"<h1>Too many wrong passwords!</h1>"});
  out.SendLine({"<b>Too many wrong passwords were tried for this ad. Try again in ", std::to_string(minutes),
                minutes == 1 ? Trusted{" minute.</b>"} : Trusted{" minutes.</b>"}});
  SendNavigationBar(req);
  SendFooterNotice(req, FooterForm::kPlain);
  out.SendLine({"</center></font></body></html>"});
}

}  // namespace

void SendRefusalPage(Request& req, const PasswordTest& test) {
  if (test.result == Unlock::kTooManyTries) {
    SendTooManyTriesPage(req, test.allowedFrom);
  } else {
    SendInvalidPasswordPage(req);
  }
}

}  // namespace qb
