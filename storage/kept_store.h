#pragma once
// The store connection a resident process keeps from one request to the
// next, so that a request neither opens the file nor reads its schema again.
//
// A request takes the connection when it opens the store and gives it back
// when it closes it, with no statement running, no transaction open and no
// lock held. The connection is only taken while the file at the store's path
// is still the file it was opened on, and as writable to this process as it
// was: a store replaced, deleted or made read-only under a resident process
// is opened afresh, as a new CGI process would open it.
//
// The queries a request prepares on the connection are kept with it too,
// so that the next request that runs one finds it prepared.
//
// A site whose ads are in PostgreSQL keeps its connection to the server
// here instead, idle (no transaction open) between requests.
#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;
struct pg_conn;

namespace qb {

class KeptStore {
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

  KeptStore() = default;
  ~KeptStore();
  KeptStore(const KeptStore&) = delete;
  KeptStore& operator=(const KeptStore&) = delete;

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

  // The kept connection to the PostgreSQL server that connection string
  // `server` names, which the caller now owns; null when there is none.
  pg_conn* TakeServer(const std::string& server);
  // Keeps `conn`, connected with `server`, when it is at rest; one that is
  // broken or has a transaction open is closed instead (the server then
  // rolls the transaction back), as waiting here for a ROLLBACK could have
  // no end.
  void KeepServer(pg_conn* conn, const std::string& server) noexcept;

 private:
  static FileIdentity Identify(const std::string& path);
  void Drop() noexcept;
  // Finalizes the kept statements of `handle`.
  void FinalizeStatements(sqlite3* handle) noexcept;

  sqlite3* handle_ = nullptr;
  sqlite3* taken_ = nullptr;  // the connection a request took, until kept again
  std::multimap<std::string, sqlite3_stmt*, std::less<>> statements_;
  std::string path_;
  FileIdentity file_;
  pg_conn* server_ = nullptr;
  std::string serverString_;
};

}  // namespace qb
