#include "storage/sqlite/sqlite_kept.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace qb {

SqliteKept::~SqliteKept() {
  Drop();
  for (const auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
}

SqliteKept::FileIdentity SqliteKept::Identify(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {true, st.st_dev, st.st_ino, ::access(path.c_str(), W_OK) == 0};
}

sqlite3* SqliteKept::Take(const std::string& path, FileIdentity& file) {
  file = Identify(path);
  if (handle_ != nullptr && (path != path_ || !file.known || !(file == file_))) Drop();
  // A connection opened instead is not the one taken before.
  taken_ = handle_;
  return std::exchange(handle_, nullptr);
}

void SqliteKept::Keep(sqlite3* handle, const std::string& path, const FileIdentity& file) noexcept {
  Drop();
  if (handle == nullptr) return;
  if (handle == taken_) {
    taken_ = nullptr;
  } else {
    ++number_;  // another connection than the one taken: what it saw before says nothing of this one
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
  FinalizeStatements(handle);
  sqlite3_close_v2(handle);
}

sqlite3_stmt* SqliteKept::TakeStatement(sqlite3* handle, std::string_view sql) {
  for (auto [at, end] = statements_.equal_range(sql); at != end; ++at) {
    if (sqlite3_db_handle(at->second) == handle) {
      sqlite3_stmt* stmt = at->second;
      statements_.erase(at);
      return stmt;
    }
  }
  return nullptr;
}

void SqliteKept::KeepStatement(std::string sql, sqlite3_stmt* stmt) noexcept {
  if (stmt == nullptr) return;
  sqlite3* handle = sqlite3_db_handle(stmt);
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  try {
    if (handle == handle_ || handle == taken_) {
      statements_.emplace(std::move(sql), stmt);
      return;
    }
  } catch (...) {  // no memory to keep it: it is finalized
  }
  sqlite3_finalize(stmt);
}

void SqliteKept::FinalizeStatements(sqlite3* handle) noexcept {
  for (auto at = statements_.begin(); at != statements_.end();) {
    if (sqlite3_db_handle(at->second) == handle) {
      sqlite3_finalize(at->second);
      at = statements_.erase(at);
    } else {
      ++at;
    }
  }
}

void SqliteKept::Drop() noexcept {
  if (handle_ == nullptr) return;
  FinalizeStatements(handle_);
  sqlite3_close_v2(std::exchange(handle_, nullptr));
}

}  // namespace qb
