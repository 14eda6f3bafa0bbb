#pragma once
// A write transaction on an open Database: the store's write lock, taken at
// once (waiting for other requests as every write does), held until Commit.
// What the request reads and writes in between is one atomic step: a check
// (a password, a count of wrong tries) and the change it allows cannot be
// split by another request's write. Destroyed without Commit (an error on
// the way), it rolls the changes back and gives up the lock.
#include "storage/database.h"

namespace qb {

class WriteTransaction {
 public:
  explicit WriteTransaction(Database& db);
  ~WriteTransaction();
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;

  void Commit();

 private:
  Database& db_;
  bool open_ = true;
};

}  // namespace qb
