#pragma once
// What a site file was when it was read, so that what was built from it can
// be kept (a resident process keeps its Site) while the file is unchanged.
//
// A file is unchanged while the file at its path is the very file that was
// read: the same inode, size, and modification and change times. A file
// changed less than a second before it was read is not settled, since a
// second change within the same tick of the file system's clock could leave
// all of those as they were; a change made later gives the file a later
// change time, which the very next request sees.
#include <sys/stat.h>

#include <string>

namespace qb {

struct FileStamp {
  std::string path;
  struct stat status;  // taken when the file was opened

  bool Unchanged() const;
  // Whether the file had been left alone for a second when it was read.
  bool Settled() const;
};

}  // namespace qb
