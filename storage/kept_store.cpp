#include "storage/kept_store.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace qb {

KeptStore::~KeptStore() { Drop(); }

KeptStore::FileIdentity KeptStore::Identify(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {true, st.st_dev, st.st_ino, ::access(path.c_str(), W_OK) == 0};
}

sqlite3* KeptStore::Take(const std::string& path, FileIdentity& file) {
  file = Identify(path);
  if (handle_ != nullptr && (path != path_ || !file.known || !(file == file_))) Drop();
  return std::exchange(handle_, nullptr);
}

void KeptStore::Keep(sqlite3* handle, const std::string& path, const FileIdentity& file) noexcept {
  Drop();
  if (handle == nullptr) return;
  for (sqlite3_stmt* s = sqlite3_next_stmt(handle, nullptr); s != nullptr; s = sqlite3_next_stmt(handle, s)) {
    sqlite3_reset(s);
  }
  if (sqlite3_get_autocommit(handle) == 0) sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
  if (file.known && sqlite3_get_autocommit(handle) != 0) {
    try {
      path_ = path;
      file_ = file;
      handle_ = handle;
      return;
    } catch (...) {  // no memory for the path: the connection is closed
    }
  }
  sqlite3_close_v2(handle);
}

void KeptStore::Drop() noexcept {
  if (handle_ != nullptr) sqlite3_close_v2(std::exchange(handle_, nullptr));
}

}  // namespace qb
