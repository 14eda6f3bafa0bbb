#pragma once
// The site's own small files (settings, categories, banners) as a resident
// process keeps them from one request to the next.
//
// A kept file is used only while the file at its path is the very file that
// was read, unchanged: the same inode, size, and modification and change
// times. A file changed less than a second before it was read is not kept,
// since a second change within the same tick of the file system's clock
// could leave all of those as they were; a change made later gives the file
// a later change time, which the very next request sees.
#include <sys/stat.h>

#include <functional>
#include <map>
#include <string>

namespace qb {

class SiteFiles {
 public:
  // The kept text of the file at `path` when the file is unchanged; else null.
  const std::string* Unchanged(const std::string& path) const;
  // Keeps `text`, read from the file at `path` whose status, taken when it
  // was opened, is `status`.
  void Keep(const std::string& path, const struct stat& status, const std::string& text);

 private:
  struct File {
    struct stat status;
    std::string text;
  };
  std::map<std::string, File, std::less<>> files_;
};

}  // namespace qb
