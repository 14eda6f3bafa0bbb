#pragma once
// What every command of the operator's tool shares: the site it works on,
// its standard streams, and the board's own readers of the site's files.
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "gateway/site.h"
#include "storage/ad_dates.h"
#include "storage/database.h"

namespace qb::admin {

struct Invocation {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  std::string siteDir = ".";
  CivilDate today = LocalToday();
  int status = 0;  // the exit status of a command that ends without an error
};

// The site's store, opened as the board opens it (so it waits for the
// requests' locks): the PostgreSQL database that qbcgi.cfg names, or else
// qb.db. The directory must hold qbcgi.cfg, so that a mistyped --site is not
// taken for a site; qb.db must exist unless `mayCreate`.
std::unique_ptr<Database> OpenSiteStore(const Invocation& inv, bool mayCreate = false);
// Where the site in `siteDir` keeps its ads, as its settings `config` say.
StoreLocation SiteStore(const std::string& siteDir, const SiteConfig& config);

// The site in --site, with nothing read yet: the board's readers of
// qbcgi.cfg, cat.lst and qbban.cfg fill it (LoadSiteConfig, LoadCategoryList,
// LoadBannerList), so the tool reads the files exactly as pages do.
Site UnreadSite(const Invocation& inv);
// The eight category names of cat.lst, numbered from 0.
std::vector<std::string> CategoryNames(const Invocation& inv);

}  // namespace qb::admin
