#include "gateway/error_page.h"

namespace qb {

std::string BuildErrorText(const std::string& description, std::int32_t number) {
  std::string text = description + " Error Number = ";
  if (number >= 0) text += ' ';
  text += std::to_string(number);
  return text;
}

void SendErrorPageBody(CgiRequest& req, const SiteConfig& config, const std::string& errorText) {
  ResponseWriter& out = req.out;
  out.SendContentType();
  out.SendLine({"<HTML>"});
  out.SendLine({"<Head></head>"});
  out.SendLine({"<title></title><body bgcolor=\"white\">"});
  out.SendLine({"<Basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  out.SendLine({"<H1>Error in ", req.cgi.SCRIPT_NAME, "</H1>"});
  out.SendLine({"The following internal error has occurred:"});
  out.SendLine({"<PRE>", errorText, "</PRE>"});
  out.SendLine({"<I>Please</I> note what you were doing when this problem occurred, "});
  out.SendLine({"so we can identify and correct it. Write down the Web page you were "});
  out.SendLine({"using, any data you may have entered into a form or search box, "});
  out.SendLine({"and anything else that may help us duplicate the problem."});
  out.SendLine({"Then contact the administrator of this service: "});
  out.SendLine({"<A HREF=\"mailto:", Trusted{config.AdminEmail}, "\">"});
  out.SendLine({"<ADDRESS>&lt;", Trusted{config.AdminEmail}, "&gt;</ADDRESS></A>"});
}

void SendErrorPage(CgiRequest& req, const SiteConfig& config) {
  ResponseWriter& out = req.out;
  out.Rewind();
  out.SendStatusOk();
  SendErrorPageBody(req, config, req.ErrorText);
  out.SendLine({"<p>&nbsp;<br><font size=\"1\">", kFooterNoticeText});
  out.SendLine({"</body></html>"});
  out.CutHere();
}

}  // namespace qb
