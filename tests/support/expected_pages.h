#pragma once
// Expected pages, built in the tests from the literal lines a visitor's
// browser receives, independently of the program's own page code.
#include <initializer_list>
#include <string>

#include "gateway/html_escape.h"
#include "support/ad_store.h"

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

inline std::string Esc(const std::string& s) { return qb::HtmlEscape(s); }

// The seven lines of one ad in a listing, values escaped as a browser must
// receive them.
inline std::string AdTable(const SeedAd& ad, bool allAds = false) {
  const std::string sep = "</td><td align=\"center\" bgcolor=\"white\">";
  return Lines({"<table width=\"90%\" align=\"center\" cellspacing=\"0\" cellpadding=\"2\" border=\"1\">",
                std::string(allAds ? "<tr><td  colspan=\"5\"" : "<tr><td colspan=\"5\"") +
                    " align=\"center\" bgcolor=\"white\"><font size=\"+1\" color=\"maroon\" bgcolor=\"white\"><b>" +
                    Esc(ad.Item) + "</b></font></td></tr>",
                "<tr><td bgcolor=\"silver\" Align=\"center\"><b>Price: </b></td><td bgcolor=\"silver\" "
                "Align=\"center\"><b>Date: </b></td><td bgcolor=\"silver\" Align=\"center\"><b>Seller: </b></td><td "
                "bgcolor=\"silver\" Align=\"center\"><b>Email: </b></td><td bgcolor=\"silver\" Align=\"center\"><b>Phone: "
                "</b></td></tr>",
                "<tr><td align=\"center\" bgcolor=\"white\">$" + Esc(ad.Price) + sep + Esc(ad.Date) + sep +
                    Esc(ad.Name) + sep + "<a href=\"mailto:" + Esc(ad.Email) + "\">" + Esc(ad.Email) + "</a>" + sep +
                    Esc(ad.Phone) + "</td></tr>",
                "<tr><td bgcolor=\"silver\" Align=\"center\" colspan=\"5\"><b>Description: </b></td></tr>",
                "<tr><td colspan=\"5\" bgcolor=\"white\">" + Esc(ad.Desc) + "</td></tr>", "</table><p>"});
}

// A category listing: its top (up to the ads), the line for no ads, and its
// bottom.
inline std::string ListingTop(const std::string& category) {
  return Lines({kHeader, "<HTML><HEAD><TITLE>Quaybill/32 - HTML - List</TITLE></HEAD>", kNotice,
                "<body bgcolor=\"#FFFFCC\"><font size=\"2\" face=\"verdana,arial,helvetica\">",
                "<center><h1>Ads for Category - <font color=\"Maroon\"><i>" + category + "</i></font></h1></center>",
                "<hr width=\"60%\" size=\"2\"><br><br>"});
}

inline const std::string kNoAds =
    "<center><h2><font color=\"maroon\">- No Ads have been placed in this Category! -</font></h2></center>\r\n";

inline std::string ListingBottom(const std::string& first) {
  return Lines({first, NavBar(), kFooterCentred, "</font></center></body></html>"});
}

inline std::string ShowAllPage(const std::string& tables) {
  return Lines({kHeader, "<HTML><HEAD><TITLE>Quaybill/32 - HTML</TITLE></HEAD>", kNotice,
                "<body bgcolor=\"#FFFFCC\"><font size=\"2\" face=\"verdana,arial,helvetica\">",
                "<center><h1>Showing <font color=\"Maroon\">ALL</font> Ads</h1></center>"}) +
         tables + ListingBottom("</table><center>");
}

// The confirmation of a placed ad, `name` as the page shows it.
inline std::string Confirmation(const std::string& name) {
  return Lines({kHeader,
                "<html><head><title>Quaybill/32-HTML - Enter New Add</title></head><body bgcolor=\"#FFFFCC\">",
                "<basefont size=\"3\" face=\"verdana,arial,helvetica\">",
                "<center><H2>" + name +
                    " , Your Ad has been Entered Successfully!</H2><b>This Ad will automatically Expire after <font "
                    "color=\"red\">30</font> Days unless you delete it first.</b>",
                NavBar(), kFooterPlain, "</center></font></body></html>"});
}

// The pages of the seller's edit flow.
inline std::string SellerPage(const std::string& heading, const std::string& rows) {
  return Lines({kHeader, "<HTML><HEAD><TITLE>Quaybill/32 - HTML</TITLE></HEAD>", kNotice,
                "<body bgcolor=\"#FFFFCC\"><font size=\"2\" face=\"verdana,arial,helvetica\">",
                "<center><h2>Ads placed by - <font color=\"maroon\"><i>" + heading +
                    "</i></font></h2></center><p>&nbsp;<br>",
                "<table>"}) +
         rows + Lines({"</table>", NavBar(), kFooterCentred, "</font></center></body></html>"});
}

inline std::string SellerRow(long long id, const std::string& item, const std::string& category) {
  return Lines({"<tr><td><b>Item:</b></td><td><a href=\"" + kScript + "?Action=Getpw&ID=" + std::to_string(id) +
                "\">" + item + "</a></td><td>&nbsp;&nbsp;</td><td><b>Category:</b></td><td>" + category +
                "</td></tr>"});
}

inline const std::string kInvalidPassword =
    Lines({kHeader, "<html><head><title>Quaybill/32 - HTML</title></head><body bgcolor=\"#FFFFCC\">", kNotice,
           "<basefont size=\"3\" face=\"verdana,arial,helvetica\">", "<h1>Invalid Password!</h1>", NavBar(),
           kFooterPlain, "</center></font></body></html>"});

inline std::string EditPage(long long idNumber, const SeedAd& ad, const std::string& pw) {
  const std::string id = std::to_string(idNumber);
  const std::string end = "\"></td></tr>";
  return Lines({
      kHeader, "<html><head><title>Quaybill/32 - HTML - Edit Ads</title></head><body bgcolor=\"#FFFFCC\">", kNotice,
      "<basefont size=\"3\" face=\"verdana,arial,helvetica\">", "<center><h1>Edit Ad</h1></center>",
      "<form method=post action=\"" + kScript + "?Action=Update\">",
      "<center><table bgcolor=\"silver\" cellspacing=\"1\" border=\"1\"><tr><td align=\"right\">Category:</td><td><SELECT name=\"Category\">",
      "<option>Cars<option>Boats<option>Houses<option>Jobs<option>Pets<option>Music<option>Computers<option>Other"
      "<Option Selected>" + Esc(ad.Category) + "</select></td></tr>",
      "<b><tr><td align=\"right\">Item:</td><td><input name=\"Item\" size=\"35\" maxlength=\"100\" value=\"" + Esc(ad.Item) + end,
      "<tr><td align=\"right\">Your Email Address:</td><td><input name=\"Email\" size=\"35\" maxlength=\"100\" value=\"" +
          Esc(ad.Email) + end,
      "<tr><td align=\"right\">Your Phone:</td><td><input name=\"Phone\" size=\"35\" maxlength=\"12\" value=\"" + Esc(ad.Phone) + end,
      "<tr><td align=\"right\">Item Price: $ </td><td><b></b><input name=\"Price\" size=\"35\" maxlength=\"20\" value=\"" +
          Esc(ad.Price) + end,
      "</b></table><br><b>Item Description:</b><br><textarea name=\"Desc\" cols=65 rows=5 wrap=on>" + Esc(ad.Desc) +
          "</textarea><br><p>",
      "<input type=\"hidden\" Name=\"ID\" Value=\"" + id + "\"><input type=\"hidden\" Name=\"pw\" Value=\"" + Esc(pw) + "\">",
      "<input type=submit value=\"Update Ad\"></form><br>",
      "<form method=\"post\" action=\"" + kScript + "?Action=Delete\">",
      "<input type=\"hidden\" Name=\"ID\" Value=\"" + id + "\"><input type=\"hidden\" Name=\"pw\" Value=\"" + Esc(pw) +
          "\"><input type=\"hidden\" Name=\"Item\" Value=\"" + Esc(ad.Item) + "\">",
      "<input type=submit value=\"Delete Ad\"></form><br>", NavBar(), kFooterPlain, "</center></font></body></html>"});
}

inline std::string UpdatedPage(const std::string& item) {
  return Lines({kHeader, "<html><head><title>Quaybill/32 - HTML</title></head><body bgcolor=\"#FFFFCC\">", kNotice,
                "<basefont size=\"3\" face=\"verdana,arial,helvetica\"><center>",
                "<H1><font color=\"maroon\"><i>" + item + "</i></font></h1><h1>was Updated successfully</H1>",
                NavBar(kScript, kHome, false), kFooterCentreFirst, "</center></font></body></html>"});
}

inline std::string DeletedPage(const std::string& item) {
  return Lines({kHeader, "<html><head><title>Quaybill/32 - HTML</title></head><body bgcolor=\"#FFFFCC\">", kNotice,
                "<basefont size=\"3\" face=\"verdana,arial,helvetica\">",
                "<H1><font color=\"maroon\"><i>" + item + "</i></font> was deleted successfully</H1>", NavBar(),
                kFooterPlain, "</center></font></body></html>"});
}

}  // namespace qbtest
