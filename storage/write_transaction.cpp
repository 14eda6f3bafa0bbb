#include "storage/write_transaction.h"

namespace qb {

WriteTransaction::WriteTransaction(Database& db) : db_(db) { db_.BeginWrite(); }

WriteTransaction::~WriteTransaction() {
  if (open_) db_.RollbackWrite();
}

void WriteTransaction::Commit() {
  db_.CommitWrite();
  open_ = false;
}

}  // namespace qb
