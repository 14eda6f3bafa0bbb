#pragma once
// The site a request is answered for: its directory, settings and the
// category and banner lists, read from the site's files and never written.
// A CGI process reads it for its one request; a resident process keeps the
// one it read while none of its files has changed.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "gateway/file_stamp.h"
#include "gateway/site_config.h"

namespace qb {

struct Banner {
  std::string ImageUrl;
  std::string LinkUrl;
};

struct Site {
  std::string directory;  // where the site's files lie
  SiteConfig config;
  std::array<std::string, 9> CategoryList;  // entries 1 to 8
  std::int16_t BannerCount = 0;
  std::array<Banner, 11> BannerList;  // entries 1 to 10
  std::vector<FileStamp> files;       // what was read, as it was

  // The ad store file, when the settings name no database server.
  std::string DatabasePath() const { return directory + "/qb.db"; }
  // Whether every file it was read from is still the file that was read.
  bool Unchanged() const;
  // Whether every file it was read from had been left alone for a second.
  bool Settled() const;
};

}  // namespace qb
