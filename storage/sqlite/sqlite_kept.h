#pragma once
// What a resident process keeps of a SQLite store between requests
// (storage/kept_store.h): the connection, and the queries prepared on it,
// so that the next request that runs one finds it prepared.
//
// The connection is only taken while the file at the store's path is still
// the file it was opened on, and as writable to this process as it was: a
// store replaced, deleted or made read-only under a resident process is
// opened afresh, as a new CGI process would open it.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "storage/kept_store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qb {

class SqliteKept final : public KeptConnection {
 public:
  // What the file at the store's path is, as far as keeping a connection to
  // it goes; `known` is false when there was no file to look at.
  struct FileIdentity {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
    bool writable = false;
    bool operator==(const FileIdentity&) const = default;
  };

  SqliteKept() = default;
  ~SqliteKept() override;

  // The kept connection to the store at `path`, which the caller now owns,
  // or null when there is none that is still good for it. `file` is set to
  // what the file is now, before the caller opens it afresh, if it must:
  // a file replaced in between is then seen by the next request.
  sqlite3* Take(const std::string& path, FileIdentity& file);
  // Keeps `handle`, a connection to the store at `path` that was `file` when
  // it was taken or opened, whose statements the caller has reset; ends any
  // transaction it has open. A connection that cannot be brought to rest, or
  // whose file was not known, is closed instead.
  void Keep(sqlite3* handle, const std::string& path, const FileIdentity& file) noexcept;

  // A kept statement of `sql` prepared on `handle`, reset and with no
  // values bound, which the caller now owns; null when there is none.
  sqlite3_stmt* TakeStatement(sqlite3* handle, std::string_view sql);
  // Keeps `stmt`, prepared from `sql`, when its connection is the one kept
  // here or taken from here; finalizes it otherwise.
  void KeepStatement(std::string sql, sqlite3_stmt* stmt) noexcept;

  // The number of `handle` among the connections kept here, one after
  // another, while it is the one a request took from here; nullopt for any
  // other connection (one opened afresh is numbered once it is kept).
  std::optional<std::uint64_t> Number(const sqlite3* handle) const {
    return handle != nullptr && handle == taken_ ? std::optional<std::uint64_t>(number_) : std::nullopt;
  }
  // Whether the taken connection `handle` found the store's schema current
  // when the store's data version (PRAGMA data_version) was `version`. No
  // other connection has written to the store since then, so it still is.
  bool SchemaCurrentAt(const sqlite3* handle, std::int64_t version) const {
    return Number(handle) && schemaCurrent_ == std::pair{number_, version};
  }
  void SchemaFoundCurrent(const sqlite3* handle, std::int64_t version) {
    if (Number(handle)) schemaCurrent_ = {number_, version};
  }

 private:
  static FileIdentity Identify(const std::string& path);
  void Drop() noexcept;
  // Finalizes the kept statements of `handle`.
  void FinalizeStatements(sqlite3* handle) noexcept;

  sqlite3* handle_ = nullptr;
  sqlite3* taken_ = nullptr;  // the connection a request took, until kept again
  std::uint64_t number_ = 0;  // the number of the connection kept or taken
  // The connection's number and the data version at its last schema check.
  std::optional<std::pair<std::uint64_t, std::int64_t>> schemaCurrent_;
  std::multimap<std::string, sqlite3_stmt*, std::less<>> statements_;
  std::string path_;
  FileIdentity file_;
};

}  // namespace qb
