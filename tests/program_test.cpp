// The program as a web server starts it: its own process, words on the
// command line, a site found through the path it was started by, standard
// output a file or a pipe, and a site it may not write.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/harness.h"

namespace qbtest {
namespace {

TEST(Program, IgnoresArgumentsAndServesTheSiteItWasStartedFrom) {
  Site site, other(std::string(kConfig).replace(std::string(kConfig).find("\n30\n"), 4, "\n7\n"));
  const std::string program = site.InstallProgram();
  // Started by a bare name from elsewhere, it finds its site beside its file.
  const Call bare{.env = Get("action=Main").env, .body = "", .dir = "/", .name = "qbcgi.exe"};
  const Exit main = RunProcess(program, bare, Output::kPipe, {"ignored", "-x", "action=Show"});
  EXPECT_EQ(main.status, 0);
  EXPECT_EQ(main.output, Golden("main.html", main.output));
  // Through a link of another name: the link's site, and pages that link to that name.
  std::filesystem::create_symlink(program, other.Path("board.cgi"));
  const Exit linked = RunProcess(other.Path("board.cgi"), Get("action=Main"), Output::kFile);
  EXPECT_NE(linked.output.find("color=\"red\">7</font>"), std::string::npos) << linked.output;
  EXPECT_NE(linked.output.find("\"http://example.com/cgi-bin/board.cgi?Action=NewItem\""), std::string::npos);
  // An error after the page began: on a file the error page replaces it, on a pipe it follows.
  const Exit onFile = RunProcess(program, Get("Action=List&Cat=9"), Output::kFile);
  EXPECT_EQ(onFile.output, Golden("error_9_cat.html", onFile.output));
  EXPECT_NE(onFile.errors.find("Z qbcgi: action LIST: error 9: Subscript out of range: there is no category 9\n"),
            std::string::npos)
      << onFile.errors;  // a line for the web server's error log
  const std::string onPipe = RunProcess(program, Get("Action=List&Cat=0"), Output::kPipe).output;
  EXPECT_EQ(onPipe, Golden("list_cat_0_pipe.html", onPipe));
}

TEST(Program, ASiteItMayNotWriteListsButPlacesNothing) {
  // As nobody when root (the web server's way), else as ourselves: a directory not ours to write.
  std::optional<std::pair<uid_t, gid_t>> user;
  if (::getuid() == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "no user nobody to run as";
    user = std::make_pair(nobody->pw_uid, nobody->pw_gid);
  }
  Site site;
  const std::string program = site.InstallProgram();
  const Call add = Post("Action=ADD", "Item=x&Name=Ann&Password=pw");
  ASSERT_EQ(::chmod(site.Dir().c_str(), 0555), 0);
  Exit placed = RunProcess(program, add, Output::kFile, {}, user);
  EXPECT_EQ(placed.output, Golden("error_3014_read_only_site.html", placed.output));
  ASSERT_EQ(::chmod(site.Dir().c_str(), 0755), 0);
  site.Seed(Ad{});
  site.Seed(Ad{.Item = "Old bike", .Expire = "2000-01-01"});
  // A store it may write in a directory it may not: nothing can be made beside it.
  ASSERT_EQ(::chmod(site.Path("qb.db").c_str(), 0666), 0);
  ASSERT_EQ(::chmod(site.Dir().c_str(), 0555), 0);
  const Exit beside = RunProcess(program, Get("Action=List&Cat=1"), Output::kPipe, {}, user);
  EXPECT_EQ(beside.output, Golden("list_read_only_store.html", beside.output));
  ASSERT_EQ(::chmod(site.Path("qb.db").c_str(), 0444), 0);
  placed = RunProcess(program, add, Output::kFile, {}, user);
  EXPECT_EQ(placed.output, Golden("error_3008_read_only_store.html", placed.output));
  // The listing is the whole answer; the purge it cannot do is only logged.
  const Exit listed = RunProcess(program, Get("Action=List&Cat=1"), Output::kPipe, {}, user);
  EXPECT_EQ(listed.output, Golden("list_read_only_store.html", listed.output));
  EXPECT_NE(listed.errors.find(" qbcgi: action LIST: expired ads not purged: the store cannot be written"),
            std::string::npos)
      << listed.errors;
  ::chmod(site.Dir().c_str(), 0755);
  EXPECT_EQ(site.Query("SELECT count(*) FROM QB"), "2\n");
}

TEST(Program, PlacesAndListsOnAServerItReachesOverTls) {
  // The static program's libpq and OpenSSL, whose CPU setup it puts off until it connects (sslmode=require).
  if (TestPostgres().empty()) GTEST_SKIP() << "no PostgreSQL cluster (tests/support/test_postgres.sh)";
  Site site(kConfig, kCategories, "", Store::kPostgresTls);
  const std::string program = site.InstallProgram();
  const Exit placed = RunProcess(program, Post("Action=ADD", "Item=Kite&Category=Boats&Password=pw"), Output::kPipe);
  ASSERT_EQ(placed.status, 0) << placed.errors;  // -1: killed, say by an instruction the CPU lacks
  const Exit listed = RunProcess(program, Get("Action=List&Cat=2"), Output::kPipe);
  EXPECT_NE(listed.output.find("<b>Kite</b>"), std::string::npos) << listed.errors;
  EXPECT_EQ(site.Query("SELECT Item, Category FROM QB"), "Kite|Boats\n");
}

}  // namespace
}  // namespace qbtest
