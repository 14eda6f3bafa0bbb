#pragma once
// The site's settings, read from qbcgi.cfg in the program directory and
// never written.
#include <cstdint>
#include <string>
#include <vector>

#include "gateway/file_stamp.h"

namespace qb {

struct SiteConfig {
  std::string AdminEmail;
  std::int32_t ExpireDays = 0;
  std::string ScriptUrl;  // base address of the program's directory, ends in "/"
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
// "y". Adds what qbcgi.cfg was to `stamps` when given.
void LoadSiteConfig(const std::string& programDir, SiteConfig& config, std::vector<FileStamp>* stamps = nullptr);

}  // namespace qb
