#pragma once
// The site's settings, read from qbcgi.cfg in the program directory by every
// request and never written.
#include <cstdint>
#include <string>

#include "gateway/site_files.h"

namespace qb {

struct SiteConfig {
  std::string AdminEmail;
  std::int32_t ExpireDays = 0;
  std::string ScriptUrl;  // base address, ends in "/"; completed by the dispatcher
  std::string HomeUrl;
  bool BannersEnabled = false;
  std::string BodyColor;
  // Where the ads are kept: empty for qb.db beside the program, else a
  // PostgreSQL connection string. It may hold a password (or the password
  // may come from libpq's password file), so it is never shown.
  std::string StoreConnection;
};

// Reads the six settings, and the seventh when there is one, in order into `config` (fields read before a failure
// keep their values, as the error page may show AdminEmail). Makes ScriptUrl
// end in "/" and sets BannersEnabled exactly when the banner switch is "Y" or
// "y".
void LoadSiteConfig(const std::string& programDir, SiteConfig& config, SiteFiles* files = nullptr);

}  // namespace qb
