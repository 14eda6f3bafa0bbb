#pragma once
// Expected pages, built in the tests from the literal lines a visitor's
// browser receives, independently of the program's own page code.
#include <initializer_list>
#include <string>

#include "gateway/html_escape.h"

namespace qbtest {

inline const std::string kHeader = "Content-type: text/html\n\n";
inline const std::string kScript = "http://example.com/cgi-bin/qbcgi.exe";
inline const std::string kHome = "http://example.com/";
inline const std::string kNotice =
    "<!-- Quaybill/32-HTML classified ads board, published by the Quaybill project -->";
inline const std::string kFooterText = "&quot;Quaybill/32-HTML&quot; classified ads &copy; the Quaybill project";
inline const std::string kFooterPlain = "<p>&nbsp;<br><font size=\"1\">" + kFooterText;
inline const std::string kFooterCentred = "<p>&nbsp;<br><center><font size=\"1\">" + kFooterText + "</center>";
inline const std::string kFooterCentreFirst = "<center><p>&nbsp;<br><font size=\"1\">" + kFooterText;

inline std::string Esc(const std::string& s) { return qb::HtmlEscape(s); }

// Each line followed by CR LF.
inline std::string Lines(std::initializer_list<std::string> lines) {
  std::string page;
  for (const std::string& line : lines) page += line + "\r\n";
  return page;
}

inline std::string NavBar(const std::string& script = kScript, const std::string& home = kHome,
                          bool centred = true) {
  return std::string(centred ? "<p><center><font size=\"2\"><b><a href=\"" : "<p><font size=\"2\"><b><a href=\"") +
         script + "?action=Main\">Main</a>&nbsp;&nbsp;&nbsp;<a href=\"" + script +
         "?action=Show\">Category's</a>&nbsp;&nbsp;&nbsp;<a href=\"" + script +
         "?action=NewItem\">Place Ad</a>&nbsp;&nbsp;&nbsp;<a href=\"" + home + "\">Home</a></b></font></center>";
}

// The lines both error pages share, from the status line to the address.
inline std::string ErrorPageTop(const std::string& scriptName, const std::string& errorText,
                                const std::string& admin) {
  return Lines({"Status: 200 OK", kHeader, "<HTML>", "<Head></head>", "<title></title><body bgcolor=\"white\">",
                "<Basefont size=\"3\" face=\"verdana,arial,helvetica\">", "<H1>Error in " + scriptName + "</H1>",
                "The following internal error has occurred:", "<PRE>" + errorText + "</PRE>",
                "<I>Please</I> note what you were doing when this problem occurred, ",
                "so we can identify and correct it. Write down the Web page you were ",
                "using, any data you may have entered into a form or search box, ",
                "and anything else that may help us duplicate the problem.",
                "Then contact the administrator of this service: ", "<A HREF=\"mailto:" + admin + "\">",
                "<ADDRESS>&lt;" + admin + "&gt;</ADDRESS></A>"});
}

inline std::string GatewayErrorPage(const std::string& errorText, const std::string& scriptName = "/cgi-bin/qbcgi.exe",
                                    const std::string& admin = "admin@example.com") {
  return ErrorPageTop(scriptName, errorText, admin) + Lines({kFooterPlain, "</body></html>"});
}

inline std::string ApplicationErrorPage(const std::string& description,
                                        const std::string& scriptName = "/cgi-bin/qbcgi.exe",
                                        const std::string& admin = "admin@example.com") {
  return ErrorPageTop(scriptName, description, admin) + Lines({NavBar(), kFooterPlain, "</body></html>"});
}

// The start of a gateway error page, for tests that check the kind of error
// but not its wording.
inline const std::string kGatewayErrorStart = "Status: 200 OK\r\n" + kHeader + "\r\n<HTML>\r\n";

}  // namespace qbtest
