// Whole requests through the real program: the pages that need no ads, the
// gateway error page, and the empty response.
#include <gtest/gtest.h>

#include "support/cgi_process.h"
#include "support/expected_pages.h"
#include "support/site_request.h"

namespace qbtest {
namespace {

const std::string kExpiryNote =
    "<p><center><font size=\"+1\"><b>NOTE: Ads placed on this system will expire in </b></font><font size=\"+2\" "
    "color=\"red\">30</font><font size=\"+1\"><b> Days</b></font></center><p>";

std::string MainPage(const std::string& banner = "") {
  std::string page = Lines({kHeader, "<HTML><HEAD><TITLE>Quaybill/32 - HTML - Main Page</TITLE></HEAD>", kNotice,
                            "<BODY bgcolor=\"White\"><Basefont size=\"3\" face=\"arial,verdana,helvetica\">"});
  if (!banner.empty()) page += Lines({banner});
  return page + Lines({
      "<center><h1><font color=\"maroon\"><i>Quaybill/32</i></font><font color=\"navy\"> - HTML</font></h1></center>",
      "<hr width=\"60%\" size=\"3\"><br>",
      "<p><center><font size=\"+2\">Welcome to <font color=\"maroon\"><b><i>Quaybill/32 - HTML</i></b></font></font>"
      " by <a href=\"https://quaybill.org/\">the Quaybill project</a>!</center><p>",
      "<center><table width=\"80%\"><tr><td>",
      "Here you can place an Item Online for Sale. You can later Edit this item or Delete it if you sell the item.",
      "The Administrator will set an amount of days for the Ad to expire at which time your Ad will be deleted from",
      "the database. The Administrator will assume NO RESPONSIBILITY for any Ads placed Online! All Ads are AS IS",
      "unless the SELLER makes any Warranty's or Guarantees. Place or Purchase from these ads AT YOUR OWN RISK.",
      "</tr></td></table></center>",
      kExpiryNote,
      "<center><table cellpadding=\"6\" cellspacing=\"6\" border=\"0\">",
      "<tr><td><font size=\"+1\"><a href=\"" + kScript + "?Action=Show\"><b>Show Ads</b></a></font></td>",
      "<td><font size=\"+1\"><a href=\"" + kScript + "?Action=ShowAll\"><b>Show ALL Ads</b></a></font></td>",
      "<td><font size=\"+1\"><a href=\"" + kScript + "?Action=NewItem\"><b>Place an Ad</b></a></font></td></tr>",
      "</table></center>",
      "<p><hr width=\"60%\" size=\"2\">",
      "<center><h1><font color=\"Maroon\">Edit Ads</font></h1>",
      "<h4>You Must enter your Name and remember the Password you chose in order to edit your ads!</h4>",
      "<form action=\"" + kScript + "?Action=Getedit\" method=\"POST\">",
      "<b>Your Name:</b> <input type=\"Text\" name=\"Name\" size=\"20\">",
      "<input type=\"Submit\" name=\"Submit\" value=\"Get Ads\"></form>",
      NavBar(), kFooterPlain, "</center></BODY></HTML>"});
}

std::string Link(int n, const std::string& name) {
  return "<a href=\"" + kScript + "?Action=List&Cat=" + std::to_string(n) + "\">" + name + "</a>";
}

const std::string kCell = "</td><td align=\"center\">";

std::string CategoryIndexPage(const std::string& banner = "") {
  std::string page = Lines({kHeader,
                            "<html><head><title>Quaybill/32-HTML - Catagory's</title></head><body bgcolor=\"#FFFFCC\">",
                            kNotice, "<basefont size=\"3\" face=\"verdana,arial,helvetica\">"});
  if (!banner.empty()) page += Lines({banner});
  return page + Lines({"<center><h1>Ad Category's</h1></center>", "<hr width=\"50%\" size=\"2\"><br><br>",
                       "<center><table bgcolor=\"silver\" cellspacing=\"1\" cellpadding=\"5\" border=\"1\">",
                       "<tr><td align=\"center\">" + Link(1, "Cars") + kCell + Link(2, "Boats") + kCell +
                           Link(3, "Houses") + kCell + Link(4, "Jobs") + "</td></tr>",
                       "<tr><td align=\"center\">" + Link(5, "Pets") + kCell + Link(6, "Music") + kCell +
                           Link(7, "Computers") + kCell + Link(8, "Other") + "</td></tr>",
                       "</table>", NavBar(), kFooterCentred, "</center></font></body></html>"});
}

TEST(MainPage, MatchesByteForByteOnFileAndPipe) {
  TempSite site;
  EXPECT_EQ(Request(site, Get("action=Main"), Output::kFile).output, MainPage());
  EXPECT_EQ(Request(site, Get("ACTION=mAiN"), Output::kPipe).output, MainPage());
  // Words of the query string passed as arguments are ignored.
  CgiRequest withArgs = Get("action=Main");
  withArgs.args = {"Main", "--help"};
  EXPECT_EQ(Request(site, withArgs).output, MainPage());
}

TEST(MainPage, ScriptUrlGetsItsSlashAndTheProgramName) {
  SiteFiles files;
  files.config = "a@b\n30\nhttp://example.com/cgi-bin/\nhttp://example.com/\nN\nwhite\n";
  TempSite withSlash(files);
  EXPECT_EQ(Request(withSlash, Get("action=Main")).output, MainPage());

  files.config = "a@b\n0\n\nhome\nN\nwhite\n";
  TempSite empty(files);
  std::string page = Request(empty, Get("action=Main")).output;
  EXPECT_NE(page.find("<a href=\"/qbcgi.exe?Action=Show\">"), std::string::npos);
  EXPECT_NE(page.find("color=\"red\">0</font>"), std::string::npos);
}

TEST(Banners, SwitchCountAndEntries) {
  SiteFiles files;
  files.config = "admin@example.com\n30\nhttp://example.com/cgi-bin\nhttp://example.com/\ny\n#FFFFCC\n";
  files.banners = "1\nhttp://img.example/one.png\nhttp://ads.example/one\n";
  TempSite one(files);
  const std::string banner1 =
      "<center><a href=\"http://ads.example/one\"><img src=\"http://img.example/one.png\" border=0></a></center><br><br>";
  EXPECT_EQ(Request(one, Get("action=Main")).output, MainPage(banner1));
  EXPECT_EQ(Request(one, Get("action=Show")).output, CategoryIndexPage(banner1));

  files.banners = "0\n";
  TempSite zero(files);
  EXPECT_EQ(Request(zero, Get("action=Main")).output,
            MainPage("<center><a href=\"\"><img src=\"\" border=0></a></center><br><br>"));

  // Three banners: every page shows one of them.
  files.banners = "3\ni1\nl1\ni2\nl2\ni3\nl3\n";
  TempSite three(files);
  for (int i = 0; i < 5; ++i) {
    std::string page = Request(three, Get("action=Show")).output;
    EXPECT_TRUE(page.find("<a href=\"l1\"><img src=\"i1\"") != std::string::npos ||
                page.find("<a href=\"l2\"><img src=\"i2\"") != std::string::npos ||
                page.find("<a href=\"l3\"><img src=\"i3\"") != std::string::npos);
  }

  // Only "Y" or "y" turns banners on; without them qbban.cfg is not needed.
  for (const char* word : {"Yes", "YES", "N", ""}) {
    files.config = std::string("admin@example.com\n30\nhttp://example.com/cgi-bin\nhttp://example.com/\n") + word +
                   "\n#FFFFCC\n";
    files.banners.clear();
    TempSite off(files);
    EXPECT_EQ(Request(off, Get("action=Main")).output, MainPage()) << word;
  }
}

TEST(CategoryIndex, LinksEveryCategoryWithOperatorMarkupAsWritten) {
  TempSite site;
  EXPECT_EQ(Request(site, Get("Action=Show"), Output::kFile).output, CategoryIndexPage());

  SiteFiles files;
  files.categories = "<b>Cars</b>\n\nHouses\nJobs\nPets\nMusic\nComputers\nOther\nIgnored ninth\n";
  TempSite odd(files);
  std::string page = Request(odd, Get("Action=Show")).output;
  EXPECT_NE(page.find("Cat=1\"><b>Cars</b></a>"), std::string::npos);
  EXPECT_NE(page.find("Cat=2\"></a>"), std::string::npos);
  EXPECT_EQ(page.find("Ignored ninth"), std::string::npos);
}

TEST(NewAdForm, MatchesByteForByte) {
  TempSite site;
  std::string expected = Lines({
      kHeader, kNotice,
      "<html><head><title>Quaybill/32-HTML - Enter New Add</title></head><body bgcolor=\"#FFFFCC\">",
      "<basefont size=\"3\" face=\"verdana,arial,helvetica\">",
      "<center><h1>Enter New Classified Ad</h1></center>",
      kExpiryNote,
      "<form method=post action=\"" + kScript + "?Action=ADD\">",
      "<center><table bgcolor=\"silver\" cellspacing=\"1\" border=\"1\"><tr><td align=\"right\">Category:</td><td><SELECT name=\"Category\">",
      "<option>Cars<option>Boats<option>Houses<option>Jobs<option>Pets<option>Music<option>Computers<option>Other</select></td></tr>",
      "<b><tr><td align=\"right\">Item:</td><td><input name=\"Item\" size=\"35\" maxlength=\"100\"></td></tr>",
      "<tr><td align=\"right\">Your Name:</td><td><input name=\"Name\" size=\"35\" maxlength=\"50\"></td></tr>",
      "<tr><td align=\"right\">Your Email Address:</td><td><input name=\"Email\" size=\"35\" maxlength=\"100\"></td></tr>",
      "<tr><td align=\"right\">Your Phone:</td><td><input name=\"Phone\" size=\"35\" maxlength=\"12\"></td></tr>",
      "<tr><td align=\"right\">Item Price: $ </td><td><b></b><input name=\"Price\" size=\"35\" maxlength=\"20\"></td></tr>",
      "<tr><td align=\"right\">Item Password: </td><td><b></b><input name=\"Password\" size=\"8\" maxlength=\"8\"></td></tr>",
      "</b></table><br>",
      "(Password required for later access to edit your Ad)<br><br>",
      "<b>Item Description:</b><br><textarea name=\"Desc\" cols=65 rows=5 wrap=on></textarea><br>",
      "<input type=submit value=\"Place Ad\">&nbsp;&nbsp;<input type=reset value=\"Reset\"></form>",
      NavBar(), kFooterPlain, "</center></font></body></html>"});
  EXPECT_EQ(Request(site, Get("action=NewItem")).output, expected);
}

std::string PasswordFormPage(const std::string& id) {
  return Lines({kHeader, "<HTML><HEAD><TITLE>Quaybill/32 - HTML - Get Password</TITLE></HEAD>", kNotice,
                "<body bgcolor=\"#FFFFCC\"><font size=\"2\" face=\"verdana,arial,helvetica\">", "<p>&nbsp;<br>",
                "<center><h2>Enter The Password you chose for this Item</h2></center><br>",
                "<form action=\"" + kScript + "?Action=Edit\" method=\"Post\"><br>",
                "<input type=\"hidden\" name=\"ID\" Value=\"" + id + "\"><br>",
                "<center><input type=\"text\" name=\"pw\" size=\"8\"><br><br>",
                "<input type=\"submit\" name=\"submit\" value=\"Get Item\">", NavBar(),
                "</font></center></body></html>"});
}

TEST(PasswordForm, TrimsTheIdAndEscapesWhateverItHolds) {
  TempSite site;
  EXPECT_EQ(Request(site, Get("Action=Getpw&ID=+12+")).output, PasswordFormPage("12"));
  EXPECT_EQ(Request(site, Get("Action=Getpw")).output, PasswordFormPage(""));
  EXPECT_EQ(Request(site, Get("Action=Getpw&ID=%22%3E%3Cscript%3E")).output,
            PasswordFormPage("&quot;&gt;&lt;script&gt;"));
}

TEST(EmptyResponse, NoKnownActionWritesNothing) {
  TempSite site;
  for (const char* query : {"", "action=", "action=Nope", "action=Main&action=Main", "Cat=3"}) {
    EXPECT_EQ(Request(site, Get(query), Output::kFile).output, "") << query;
  }
  // A POST whose method is written in lower case is not read.
  CgiRequest lower = Post("", "action=Main");
  lower.env["REQUEST_METHOD"] = "post";
  EXPECT_EQ(Request(site, lower).output, "");
}

TEST(FormInput, BodyFieldsComeBeforeQueryFields) {
  TempSite site;
  EXPECT_EQ(Request(site, Post("", "action=Main")).output, MainPage());
  // Edit;Update matches no action.
  EXPECT_EQ(Request(site, Post("Action=Update", "Action=Edit")).output, "");
  CgiRequest other = Post("", "action=Main");
  other.env["CONTENT_TYPE"] = "multipart/form-data";
  EXPECT_EQ(Request(site, other).output, "");
  // A large body arrives whole even though a pipe delivers it in pieces.
  std::string body = "pad=" + std::string(3 * 1024 * 1024, 'x') + "&action=Main";
  EXPECT_EQ(Request(site, Post("", body)).output, MainPage());
}

TEST(GatewayErrorPage, BadEscapeGivesError65001) {
  TempSite site;
  const std::string page = GatewayErrorPage("Invalid data passed to UrlDecode() function. Error Number =  65001");
  EXPECT_EQ(Request(site, Get("action=Main&x=%G1"), Output::kFile).output, page);
  EXPECT_EQ(Request(site, Get("action=Main&x=%"), Output::kPipe).output, page);
  CgiRequest markup = Get("action=Main&x=%");
  markup.env["SCRIPT_NAME"] = "/cgi-bin/<b>qb\".exe";
  EXPECT_EQ(Request(site, markup).output,
            GatewayErrorPage("Invalid data passed to UrlDecode() function. Error Number =  65001",
                             "/cgi-bin/&lt;b&gt;qb&quot;.exe"));
}

TEST(GatewayErrorPage, BrokenDataFiles) {
  SiteFiles files;
  files.config = "admin@example.com\n30\nhttp://example.com/cgi-bin\nhttp://example.com/\nN\n";
  TempSite shortConfig(files);
  // Settings fail before the request is captured: no script name yet.
  EXPECT_EQ(Request(shortConfig, Get("action=Main")).output,
            GatewayErrorPage("Input past end of file: qbcgi.cfg Error Number =  62", ""));

  TempSite noConfig;
  noConfig.RemoveFile("qbcgi.cfg");
  EXPECT_EQ(Request(noConfig, Get("action=Main")).output,
            GatewayErrorPage("File not found: qbcgi.cfg Error Number =  53", "", ""));

  files = SiteFiles();
  files.categories = "1\n2\n3\n4\n5\n6\n7\n";
  TempSite shortList(files);
  EXPECT_EQ(Request(shortList, Get("action=Main")).output,
            GatewayErrorPage("Input past end of file: cat.lst Error Number =  62"));

  files = SiteFiles();
  files.config = "admin@example.com\n30\nhttp://example.com/cgi-bin\nhttp://example.com/\nY\n#FFFFCC\n";
  files.banners = "11\n";
  for (int i = 1; i <= 11; ++i) files.banners += "img" + std::to_string(i) + "\nlink\n";
  TempSite tooMany(files);
  EXPECT_EQ(Request(tooMany, Get("action=Main")).output,
            GatewayErrorPage("Subscript out of range: qbban.cfg lists more than 10 banners Error Number =  9"));

  files.banners.clear();
  TempSite noBanners(files);
  EXPECT_EQ(Request(noBanners, Get("action=Show")).output,
            GatewayErrorPage("File not found: qbban.cfg Error Number =  53"));
}

}  // namespace
}  // namespace qbtest
