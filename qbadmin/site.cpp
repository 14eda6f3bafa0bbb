#include "qbadmin/site.h"

#include <filesystem>

#include "gateway/qb_error.h"
#include "gateway/site_config.h"
#include "gateway/site_lists.h"

namespace qb::admin {

std::unique_ptr<Database> OpenSiteStore(const Invocation& inv, bool mayCreate) {
  const std::filesystem::path dir(inv.siteDir);
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(dir / "qbcgi.cfg", ignored)) {
    throw QbError(kErrFileNotFound, inv.siteDir + " is not a board's site: it has no qbcgi.cfg");
  }
  SiteConfig config;
  LoadSiteConfig(inv.siteDir, config);
  StoreLocation where = SiteStore(inv.siteDir, config);
  where.mayCreate = mayCreate;
  return Database::Open(where);
}

StoreLocation SiteStore(const std::string& siteDir, const SiteConfig& config) {
  // qbcgi.cfg may name a PostgreSQL store; without one the board keeps its
  // ads beside its settings under this fixed name (named in full here, so
  // that the operator sees which site's file it is).
  const std::string file = (std::filesystem::path(siteDir) / "qb.db").string();
  return StoreLocation{.file = file, .server = config.StoreConnection, .fileName = file};
}

Site UnreadSite(const Invocation& inv) {
  Site site;
  site.directory = inv.siteDir;
  return site;
}

std::vector<std::string> CategoryNames(const Invocation& inv) {
  Site site = UnreadSite(inv);
  LoadCategoryList(site);
  return {site.CategoryList.begin() + 1, site.CategoryList.end()};
}

}  // namespace qb::admin
