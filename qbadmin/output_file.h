#pragma once
// Where the tool writes a file of its own (an export, a backup). An export
// holds every seller's password and a backup the whole store, so such a file
// never takes the place of one of the site's files, replaces an existing
// file only when the operator says so, and is readable by its owner only.
#include <sys/types.h>

#include <string>

#include "qbadmin/site.h"

namespace qb::admin {

// Refuses, as a usage error naming the file, a `file` that is one of the
// site's files (the store, its journal and lock files, the settings and list
// files, the program), however it is spelled (relative, through a symlink or
// a hard link), and one that exists, or whose FILE.part exists, unless
// `replace`. Warns on standard error when the file lands in the site
// directory or below it, where the web server may serve it.
void CheckOutputFile(const std::string& file, bool replace, const std::string& command, Invocation& inv);

// While it lives, files the process creates are its owner's alone (0600).
class OwnerOnlyFiles {
 public:
  OwnerOnlyFiles();
  ~OwnerOnlyFiles();
  OwnerOnlyFiles(const OwnerOnlyFiles&) = delete;
  OwnerOnlyFiles& operator=(const OwnerOnlyFiles&) = delete;

 private:
  mode_t saved_;
};

}  // namespace qb::admin
