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
  // qbcgi.cfg names a PostgreSQL store; without one the board keeps its ads
  // beside its settings under this fixed name.
  SiteConfig config;
  LoadSiteConfig(inv.siteDir, config);
  const std::filesystem::path store = dir / "qb.db";
  if (!config.StoreConnection.empty()) return Database::Open(StoreLocation{store.string(), config.StoreConnection});
  if (!mayCreate && !std::filesystem::exists(store, ignored)) {
    throw QbError(kErrFileNotFound, store.string() + " does not exist: the board has stored no ads yet");
  }
  return Database::Open(StoreLocation{store.string(), {}, {}, store.string()});
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
