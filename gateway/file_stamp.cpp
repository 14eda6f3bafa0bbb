#include "gateway/file_stamp.h"

#include <time.h>

namespace qb {

namespace {

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size && SameTime(a.st_mtim, b.st_mtim) &&
         SameTime(a.st_ctim, b.st_ctim);
}

}  // namespace

bool FileStamp::Unchanged() const {
  struct stat now {};
  return ::stat(path.c_str(), &now) == 0 && SameFile(now, status);
}

bool FileStamp::Settled() const {
  timespec now{};
  const auto nanoseconds = [](const timespec& t) { return t.tv_sec * 1000000000LL + t.tv_nsec; };
  return ::clock_gettime(CLOCK_REALTIME, &now) == 0 && nanoseconds(now) - nanoseconds(status.st_ctim) >= 1000000000LL;
}

}  // namespace qb
