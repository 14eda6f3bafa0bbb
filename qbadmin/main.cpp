// qbadmin: the board operator's command-line tool. It works on a site's
// store beside the CGI program, through the same store layer and readers of
// the site's files, and is safe to run while the site serves requests.
// Exit status: 0 done, 1 failed (the reason on standard error), 2 usage.
#include <iostream>

#include "gateway/qb_error.h"
#include "qbadmin/commands.h"

int main(int argc, char** argv) {
  qb::admin::Invocation inv{std::cin, std::cout, std::cerr};
  CLI::App app{
      "Operate a Quaybill board: list, show and delete ads, purge expired ones, set a password, "
      "export, import and back up the store, check the site and count its ads, lay out a new site.",
      "qbadmin"};
  app.require_subcommand(1);
  app.fallthrough();
  app.add_option("--site", inv.siteDir, "the site's directory (default: the current directory)");
  qb::admin::AddAdCommands(app, inv);
  qb::admin::AddTransferCommands(app, inv);
  qb::admin::AddHealthCommands(app, inv);
  qb::admin::AddLimitCommands(app, inv);
  qb::admin::AddNewSiteCommand(app, inv);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  } catch (...) {
    const qb::QbError e = qb::AsQbError(std::current_exception());
    std::cout.flush();
    std::cerr << "qbadmin: " << e.Description() << "\n";
    return 1;
  }
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "qbadmin: writing to standard output failed\n";
    return 1;
  }
  return inv.status;
}
