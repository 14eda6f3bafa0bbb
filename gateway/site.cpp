#include "gateway/site.h"

#include <algorithm>

namespace qb {

bool Site::Unchanged() const {
  return std::all_of(files.begin(), files.end(), [](const FileStamp& file) { return file.Unchanged(); });
}

bool Site::Settled() const {
  return std::all_of(files.begin(), files.end(), [](const FileStamp& file) { return file.Settled(); });
}

}  // namespace qb
