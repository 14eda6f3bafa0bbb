#include "qbadmin/output_file.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string_view>

namespace qb::admin {
namespace {

namespace fs = std::filesystem;

// Every file the board reads or writes in its site directory.
constexpr std::string_view kSiteFiles[] = {"qb.db",     "qb.db-journal", "qb.db-wal", "qb.db-shm", "qb.db.lock",
                                           "qbcgi.cfg", "cat.lst",       "qbban.cfg", "qbcgi.exe"};

// Where a file named `file` lands: its directory with symlinks, "." and ".."
// resolved, and its own name.
fs::path Landing(const std::string& file) {
  std::error_code ignored;
  const fs::path absolute = fs::absolute(file, ignored);
  return fs::weakly_canonical(absolute.parent_path(), ignored) / absolute.filename();
}

// The site file that `file` is or would write onto, or "" when none.
std::string_view SiteFileAt(const std::string& file, const fs::path& site) {
  const fs::path landing = Landing(file);
  for (const std::string_view name : kSiteFiles) {
    std::error_code ignored;
    // Equal paths cover files not there yet (qb.db before the first ad);
    // the same device and inode cover symlinks and hard links to a file.
    if (landing == site / name || fs::equivalent(file, site / name, ignored)) return name;
  }
  return {};
}

}  // namespace

void CheckOutputFile(const std::string& file, bool replace, const std::string& command, Invocation& inv) {
  std::error_code ignored;
  const fs::path site = fs::weakly_canonical(fs::absolute(inv.siteDir, ignored), ignored);
  // FILE.part is where the file is written before it is renamed to FILE.
  for (const std::string& target : {file, file + ".part"}) {
    if (const std::string_view name = SiteFileAt(target, site); !name.empty()) {
      throw CLI::ValidationError(command, target + " is the site's file " + std::string(name) +
                                              "; qbadmin never writes onto the site's files, not even with --force");
    }
    if (!replace && fs::symlink_status(target, ignored).type() != fs::file_type::not_found) {
      throw CLI::ValidationError(command, target + " exists; give --force to replace it");
    }
  }
  const fs::path dir = Landing(file).parent_path();
  if (std::mismatch(site.begin(), site.end(), dir.begin(), dir.end()).first == site.end()) {
    inv.err << "qbadmin: warning: " << file
            << " lies in the site directory, where the web server may serve it; write it elsewhere\n";
  }
}

OwnerOnlyFiles::OwnerOnlyFiles() : saved_(::umask(077)) {}
OwnerOnlyFiles::~OwnerOnlyFiles() { ::umask(saved_); }

}  // namespace qb::admin
